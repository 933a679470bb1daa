// The progress dialog: template 300 as SETUP.EXE carries it, what the dialog shows once the
// setup sequence has opened it, the extractor's two messages, the Cancel question and its
// answers, and the centring of windows.
#include "ui/progress_dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/files.h"
#include "common/setup_state.h"
#include "resources/catalogue.h"
#include "support/ui_robot.h"
#include "support/wine_env.h"
#include "ui/meter.h"
#include "ui/meter_messages.h"
#include "ui/progress_messages.h"
#include "win32/meter_picture.h"
#include "win32/own_resources.h"

namespace {

// ---- Template 300 read from SETUP.EXE ----

struct TemplateItem {
  int id;
  std::string className;
  std::string text;
  DWORD style;
  short x, y, cx, cy;
  bool operator==(const TemplateItem&) const = default;
};

std::ostream& operator<<(std::ostream& out, const TemplateItem& item) {
  return out << item.id << " " << item.className << " \"" << item.text << "\" 0x" << std::hex
             << item.style << std::dec << " " << item.x << "," << item.y << "," << item.cx << ","
             << item.cy;
}

struct DialogTemplate {
  DWORD style, extendedStyle;
  short x, y, cx, cy;
  std::string menu, className, caption, font;
  int pointSize;
  std::vector<TemplateItem> items;
};

class TemplateReader {
 public:
  explicit TemplateReader(const BYTE* data) : p_(data) {}
  WORD Word() { return Take<WORD>(); }
  DWORD Dword() { return Take<DWORD>(); }
  short Short() { return Take<short>(); }
  // A name or an ordinal: 0 = none, 0xFFFF then a number, else a NUL-terminated UTF-16 text.
  std::string Name() {
    WORD first = Word();
    if (first == 0) return "";
    if (first == 0xFFFF) return Ordinal(Word());
    std::string text(1, static_cast<char>(first));
    for (WORD c; (c = Word()) != 0;) text += static_cast<char>(c);
    return text;
  }
  void AlignToDword() {
    while (reinterpret_cast<uintptr_t>(p_) % 4) ++p_;
  }
  void Skip(int bytes) { p_ += bytes; }

 private:
  static std::string Ordinal(WORD value) {
    switch (value) {
      case 0x80:
        return "button";
      case 0x81:
        return "edit";
      case 0x82:
        return "static";
      default:
        return "#" + std::to_string(value);
    }
  }
  template <typename T>
  T Take() {
    T value;
    memcpy(&value, p_, sizeof value);
    p_ += sizeof value;
    return value;
  }
  const BYTE* p_;
};

DialogTemplate ReadDialogTemplate(HMODULE module, int id) {
  HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(id), MAKEINTRESOURCEA(5));  // RT_DIALOG
  EXPECT_NE(found, nullptr);
  if (!found) return {};
  TemplateReader in(static_cast<const BYTE*>(LockResource(LoadResource(module, found))));
  DialogTemplate t = {};
  t.style = in.Dword(), t.extendedStyle = in.Dword();
  WORD count = in.Word();
  t.x = in.Short(), t.y = in.Short(), t.cx = in.Short(), t.cy = in.Short();
  t.menu = in.Name(), t.className = in.Name(), t.caption = in.Name();
  if (t.style & DS_SETFONT) t.pointSize = in.Word(), t.font = in.Name();
  for (int i = 0; i < count; ++i) {
    in.AlignToDword();
    TemplateItem item = {};
    item.style = in.Dword();
    in.Dword();  // extended style
    item.x = in.Short(), item.y = in.Short(), item.cx = in.Short(), item.cy = in.Short();
    item.id = in.Word();
    item.className = in.Name(), item.text = in.Name();
    in.Skip(in.Word());
    for (char& c : item.className) c = static_cast<char>(tolower(c));
    t.items.push_back(item);
  }
  return t;
}

TEST(ProgressDialogTemplate, SetupExeCarriesDialog300) {
  HMODULE setupExe = LoadLibraryExA(SetupExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(setupExe, nullptr);
  DialogTemplate t = ReadDialogTemplate(setupExe, 300);
  FreeLibrary(setupExe);
  EXPECT_EQ(t.style, 0x80C800C4u);
  EXPECT_EQ(t.extendedStyle, 0u);
  EXPECT_EQ(t.style & WS_VISIBLE, 0u) << "created hidden";
  EXPECT_EQ((std::vector<short>{t.x, t.y, t.cx, t.cy}), (std::vector<short>{10, 19, 188, 70}));
  EXPECT_EQ(t.menu, "");
  EXPECT_EQ(t.className, "");
  EXPECT_EQ(t.caption, "");
  EXPECT_EQ(t.pointSize, 8);
  EXPECT_EQ(t.font, "Helv");
  std::vector<TemplateItem> expected = {
      {103, "static", "Installing", 0x50000001, 0, 6, 188, 8},
      {104, "static", "", 0x50000001, 0, 18, 188, 8},
      {100, "meter", "", 0x50800000, 16, 30, 156, 12},
      {2, "button", "&Cancel", 0x50010001, 69, 48, 50, 16},
  };
  EXPECT_EQ(t.items, expected);
}

// ---- The dialog at work, opened by this program from the same template ----

int PressYes(const MessageBoxInfo&) {
  return IDYES;
}
int PressNo(const MessageBoxInfo&) {
  return IDNO;
}

class ProgressDialogTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterMeterClass(GetModuleHandleA(nullptr)); }

  // As the setup sequence opens it: created, shown, the meter at 0 of the total.
  void SetUp() override {
    UseOwnResources();
    dialog_ = CreateProgressDialog();
    ASSERT_NE(dialog_, nullptr);
    setupState.progressDialog = dialog_;
    meter_ = GetDlgItem(dialog_, 100);
    ShowWindow(dialog_, SW_SHOW);
    UpdateWindow(dialog_);
    SendMessageA(meter_, MTR_SETPOS, 0, 0);
    SendMessageA(meter_, MTR_SETRANGE, 35, 0);
  }
  void TearDown() override {
    DestroyWindow(dialog_);
    setupState = SetupState{};
  }

  LRESULT Progress(WPARAM units) { return SendMessageA(dialog_, PDM_PROGRESS, units, 0); }
  std::string Text(int item) { return ControlText(GetDlgItem(dialog_, item)); }
  bool CancelEnabled() { return IsWindowEnabled(GetDlgItem(dialog_, IDCANCEL)) != FALSE; }
  LRESULT MeterPosition() { return SendMessageA(meter_, MTR_GETPOS, 0, 0); }

  // Sends a command as the button or the close box would, answering the question.
  std::vector<MessageBoxInfo> Command(WPARAM wParam,
                                      const std::function<int(const MessageBoxInfo&)>& answer) {
    return AnswerOwnBoxesDuring([&] { SendMessageA(dialog_, WM_COMMAND, wParam, 0); }, answer);
  }

  HWND dialog_ = nullptr;
  HWND meter_ = nullptr;
};

TEST_F(ProgressDialogTest, OpensCentredWithTitleHeadingEmptyFileLineAndZero) {
  EXPECT_EQ(ControlText(dialog_), "Kestra Setup");
  EXPECT_EQ(Text(103), "Installing");
  EXPECT_EQ(Text(104), "");
  EXPECT_TRUE(CancelEnabled());
  EXPECT_EQ(Text(IDCANCEL), "&Cancel");
  MeterReading meter = ReadMeter(CaptureMeterWindow(meter_));
  EXPECT_EQ(meter.text, "0%");
  EXPECT_EQ(meter.filledColumns, 0);
  RECT r;
  GetWindowRect(dialog_, &r);
  EXPECT_NEAR(r.left + r.right, GetSystemMetrics(SM_CXSCREEN), 1);
  EXPECT_NEAR(r.top + r.bottom, GetSystemMetrics(SM_CYSCREEN), 1);
  HWND firstTabStop = GetNextDlgTabItem(dialog_, nullptr, FALSE);
  EXPECT_EQ(GetDlgCtrlID(firstTabStop), IDCANCEL) << "keyboard navigation passes the meter by";
  SaveScreenshot(CurrentTestName());
}

TEST_F(ProgressDialogTest, ShowingAgainClearsTheFileLineAndEnablesCancel) {
  SetDlgItemTextA(dialog_, 104, "README.TXT");
  EnableWindow(GetDlgItem(dialog_, IDCANCEL), FALSE);
  ShowWindow(dialog_, SW_HIDE);
  EXPECT_EQ(Text(104), "README.TXT") << "hiding changes nothing";
  ShowWindow(dialog_, SW_SHOW);
  EXPECT_EQ(Text(104), "");
  EXPECT_TRUE(CancelEnabled());
}

TEST_F(ProgressDialogTest, ExtractorMessagesSetTheFileNameAndTheMeter) {
  const char name[] = "kestra32.hlp";
  EXPECT_EQ(SendMessageA(dialog_, PDM_SETFILENAME, 0, reinterpret_cast<LPARAM>(name)), TRUE);
  EXPECT_EQ(Text(104), name);

  struct Case {
    WPARAM units;
    DWORD copiedBytes;
    LRESULT position;
  } cases[] = {
      {5, 3 * 10240, 8},      // the copier's share is added
      {5, 3 * 10240 - 1, 7},  // in whole units only
      {0, 0, 0},
      {35, 0, 35},
  };
  for (const Case& c : cases) {
    setupState.copiedBytes = c.copiedBytes;
    EXPECT_EQ(Progress(c.units), 0);
    EXPECT_EQ(MeterPosition(), c.position) << c.units << " + " << c.copiedBytes << " bytes";
  }
  setupState.copiedBytes = 3 * 10240;
  Progress(5);
  EXPECT_EQ(ReadMeter(CaptureMeterWindow(meter_)).text, "22%") << "8 of 35, on the screen";
}

TEST_F(ProgressDialogTest, CancelAnsweredNoChangesNothing) {
  SendMessageA(dialog_, PDM_SETFILENAME, 0, reinterpret_cast<LPARAM>("LICENSE.TXT"));
  setupState.copiedBytes = 10 * 10240;
  Progress(4);
  auto boxes = Command(IDCANCEL, PressNo);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, MSG_TEXT_1005);
  EXPECT_EQ(boxes[0].caption, "Kestra Setup");
  EXPECT_EQ(boxes[0].icon, BoxIcon::kQuestion);
  EXPECT_EQ(boxes[0].buttons, (std::vector<int>{IDYES, IDNO}));
  EXPECT_EQ(boxes[0].owner, dialog_);
  EXPECT_FALSE(setupState.cancelRequested);
  EXPECT_TRUE(CancelEnabled());
  EXPECT_EQ(Text(104), "LICENSE.TXT");
  EXPECT_EQ(MeterPosition(), 14);
  EXPECT_EQ(Progress(4), 0);
}

TEST_F(ProgressDialogTest, CancelAnsweredYesDisablesCancelAndRaisesTheFlag) {
  EXPECT_EQ(Progress(1), 0);
  auto boxes = Command(IDCANCEL, PressYes);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(setupState.cancelRequested);
  EXPECT_FALSE(CancelEnabled());
  EXPECT_EQ(Progress(2), 1) << "the extractor is told at once";
  EXPECT_EQ(MeterPosition(), 2) << "the meter still moves";
  EXPECT_EQ(Progress(3), 1);
}

// The close box arrives as a posted command 2, served when the worker next pumps.
void CloseBox(HWND dialog) {
  SendMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
  DispatchPendingMessages(false);
}

TEST_F(ProgressDialogTest, OnlyStopRequestsAskTheQuestion) {
  struct Case {
    const char* what;
    std::function<void(HWND)> send;
    size_t questions;
  } cases[] = {
      {"close box", CloseBox, 1},
      {"command 1", [](HWND d) { SendMessageA(d, WM_COMMAND, IDOK, 0); }, 1},
      {"command 3", [](HWND d) { SendMessageA(d, WM_COMMAND, 3, 0); }, 0},
      {"a notification from item 2",
       [](HWND d) { SendMessageA(d, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_SETFOCUS), 0); }, 0},
  };
  for (const Case& c : cases) {
    auto boxes = AnswerOwnBoxesDuring([&] { c.send(dialog_); }, PressNo);
    EXPECT_EQ(boxes.size(), c.questions) << c.what;
  }
  EXPECT_FALSE(setupState.cancelRequested);
  auto boxes = AnswerOwnBoxesDuring([&] { CloseBox(dialog_); }, PressYes);
  EXPECT_EQ(boxes.size(), 1u);
  EXPECT_TRUE(setupState.cancelRequested) << "the close box stops the work like Cancel";
  EXPECT_TRUE(IsWindow(dialog_)) << "the dialog stays until setup destroys it";
}

// ---- CenterWindow ----

TEST(CenterWindowTest, CentresOnTheScreenEvenWhenTooLarge) {
  const int screenWidth = GetSystemMetrics(SM_CXSCREEN);
  const int screenHeight = GetSystemMetrics(SM_CYSCREEN);
  struct Case {
    int width, height, x, y;
  } cases[] = {
      {100, 50, (screenWidth - 100) / 2, (screenHeight - 50) / 2},
      {101, 51, (screenWidth - 101) / 2, (screenHeight - 51) / 2},
      {screenWidth + 100, screenHeight + 40, -50, -20},
      {screenWidth + 101, screenHeight + 41, -50, -20},  // truncated toward zero
  };
  for (const Case& c : cases) {
    HWND window = CreateWindowA("STATIC", "", WS_POPUP, 3, 4, c.width, c.height, nullptr, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    CenterWindow(window);
    RECT r;
    GetWindowRect(window, &r);
    EXPECT_EQ(r.left, c.x) << c.width;
    EXPECT_EQ(r.top, c.y) << c.height;
    EXPECT_EQ(r.right - r.left, c.width) << "the size is kept";
    DestroyWindow(window);
  }
}

}  // namespace
