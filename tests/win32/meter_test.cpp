// The meter control: what it draws for a range and a position (painted into a memory bitmap and
// read back pixel by pixel), how it keeps its values, and that it redraws before a set message
// returns.
#include "ui/meter.h"

#include <gtest/gtest.h>

#include "ui/meter_messages.h"
#include "win32/meter_picture.h"

namespace {

constexpr int kWidth = 200, kHeight = 30;

class MeterTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterMeterClass(GetModuleHandleA(nullptr)); }
  void SetUp() override {
    ASSERT_NE(GetSysColor(COLOR_HIGHLIGHT), GetSysColor(COLOR_HIGHLIGHTTEXT));
    meter_ = CreateWindowA("meter", "", WS_POPUP, 0, 0, kWidth, kHeight, nullptr, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(meter_, nullptr) << "the class is found whatever the case of its name";
  }
  void TearDown() override { DestroyWindow(meter_); }
  void Set(WPARAM range, WPARAM position) {
    SendMessageA(meter_, MTR_SETRANGE, range, 0);
    SendMessageA(meter_, MTR_SETPOS, position, 0);
  }

  HWND meter_ = nullptr;
};

TEST_F(MeterTest, ShowsPositionOverRange) {
  struct Case {
    WPARAM range, position;
    const char* text;
    int filledColumns;
  } cases[] = {
      {0, 0, "0%", 0},                   // nothing to measure: empty
      {0, 7, "0%", 0},                   // the position is ignored without a range
      {3, 1, "33%", kWidth / 3},         // truncated, not rounded
      {3, 2, "66%", kWidth * 2 / 3},     //
      {10, 10, "100%", kWidth},          // full
      {10, 15, "150%", kWidth},          // not clamped; the bar cannot grow further
      {65536, 3, "0%", 0},               // only 16 bits are kept: 65536 is no range
      {100, 65537, "1%", kWidth / 100},  // and 65537 is 1
      {65535, 65535, "100%", kWidth},    // the largest values
      {70, 35, "50%", kWidth / 2},       //
  };
  for (const Case& c : cases) {
    Set(c.range, c.position);
    MeterReading shown = ReadMeter(PaintIntoBitmap(meter_));
    SCOPED_TRACE(testing::Message() << "range " << c.range << ", position " << c.position);
    EXPECT_TRUE(shown.meterColours);
    EXPECT_EQ(shown.text, c.text);
    EXPECT_EQ(shown.filledColumns, c.filledColumns);
    EXPECT_NEAR(shown.inkCentreX2, kWidth, 2) << "the text is centred";
  }
}

TEST_F(MeterTest, TextChangesColourWhereTheBarEnds) {
  // 50% puts the end of the bar through the middle of the text; 1% and 99% leave it outside.
  struct Case {
    WPARAM position;
    bool inkLeft, inkRight;
  } cases[] = {{50, true, true}, {1, false, true}, {99, true, false}};
  for (const Case& c : cases) {
    Set(100, c.position);
    MeterReading shown = ReadMeter(PaintIntoBitmap(meter_));
    SCOPED_TRACE(c.position);
    // Inside the bar the text is in the highlight-text colour on the highlight colour, beyond
    // it the other way round; anything else would not read as the percentage.
    EXPECT_EQ(shown.text, std::to_string(c.position) + "%");
    EXPECT_EQ(shown.inkLeft > 0, c.inkLeft);
    EXPECT_EQ(shown.inkRight > 0, c.inkRight);
  }
}

TEST_F(MeterTest, EmptyMeterIsAllInTheRestColours) {
  Set(0, 0);
  MeterPicture picture = PaintIntoBitmap(meter_);
  const COLORREF light = GetSysColor(COLOR_HIGHLIGHTTEXT);
  int lightPixels = 0;
  for (COLORREF c : picture.pixels) lightPixels += c == light;
  EXPECT_GT(lightPixels, kWidth * kHeight * 9 / 10) << "background in the highlight-text colour";
  EXPECT_EQ(picture.At(0, 0), light);
  EXPECT_EQ(picture.At(kWidth - 1, kHeight - 1), light);
}

TEST_F(MeterTest, NewMeterShowsHalfAndKeepsSixteenBits) {
  EXPECT_EQ(ReadMeter(PaintIntoBitmap(meter_)).text, "50%");
  EXPECT_EQ(SendMessageA(meter_, MTR_GETRANGE, 0, 0), 100);
  EXPECT_EQ(SendMessageA(meter_, MTR_GETPOS, 0, 0), 50);
  EXPECT_EQ(SendMessageA(meter_, MTR_SETRANGE, 0x12345, 0), 0);
  EXPECT_EQ(SendMessageA(meter_, MTR_SETPOS, 0xFFFFF, 0), 0);
  EXPECT_EQ(SendMessageA(meter_, MTR_GETRANGE, 0, 0), 0x2345);
  EXPECT_EQ(SendMessageA(meter_, MTR_GETPOS, 0, 0), 0xFFFF);
  EXPECT_EQ(SendMessageA(meter_, WM_GETDLGCODE, 0, 0), DLGC_STATIC);
}

TEST_F(MeterTest, VisibleMeterIsRedrawnBeforeTheSetMessageReturns) {
  ShowWindow(meter_, SW_SHOWNOACTIVATE);
  UpdateWindow(meter_);
  Set(4, 1);
  // No message is dispatched between the set message and the look at the window.
  MeterReading shown = ReadMeter(CaptureMeterWindow(meter_));
  EXPECT_EQ(shown.text, "25%");
  EXPECT_EQ(shown.filledColumns, kWidth / 4);
  SendMessageA(meter_, MTR_SETPOS, 3, 0);
  EXPECT_EQ(ReadMeter(CaptureMeterWindow(meter_)).text, "75%");
}

TEST_F(MeterTest, WiderMeterIsRepaintedWhole) {
  ShowWindow(meter_, SW_SHOWNOACTIVATE);
  Set(2, 1);
  SetWindowPos(meter_, nullptr, 0, 0, kWidth * 3 / 2, kHeight, SWP_NOMOVE | SWP_NOZORDER);
  UpdateWindow(meter_);
  MeterReading shown = ReadMeter(CaptureMeterWindow(meter_));
  EXPECT_EQ(shown.text, "50%");
  EXPECT_EQ(shown.filledColumns, kWidth * 3 / 4) << "the old part is redrawn, not only the new";
  EXPECT_NEAR(shown.inkCentreX2, kWidth * 3 / 2, 2);
}

}  // namespace
