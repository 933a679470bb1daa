#include "ui/meter.h"

#include "ui/meter_messages.h"

namespace {

constexpr char kMeterClass[] = "Meter";

// The extra bytes hold two 32-bit slots; only their low 16 bits count when read.
constexpr int kRangeSlot = 0;
constexpr int kPositionSlot = 4;
constexpr int kExtraBytes = 8;

UINT ReadSlot(HWND meter, int slot) {
  return static_cast<UINT>(GetWindowLongA(meter, slot)) & 0xFFFF;
}

// Stores a value and redraws before returning, so a caller in a long loop without a message
// pump still sees the bar move. No erase: the painting covers every pixel.
LRESULT StoreAndRepaint(HWND meter, int slot, WPARAM value) {
  SetWindowLongA(meter, slot, static_cast<LONG>(value));
  InvalidateRect(meter, nullptr, FALSE);
  UpdateWindow(meter);
  return 0;
}

// A new meter shows 50% until its owner says otherwise.
LRESULT OnCreate(HWND meter) {
  SendMessageA(meter, MTR_SETRANGE, 100, 0);
  SendMessageA(meter, MTR_SETPOS, 50, 0);
  return 0;
}

LRESULT OnPaint(HWND meter) {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(meter, &paint);
  RECT client;
  GetClientRect(meter, &client);
  PaintMeter(meter, dc, client);
  EndPaint(meter, &paint);
  return 0;
}

// Draws `text` centred at `x`, `y`, filling `part` with the background colour and clipping the
// text to it.
void DrawPart(HDC dc, int x, int y, const RECT& part, const char* text, int length) {
  ExtTextOutA(dc, x, y, ETO_OPAQUE | ETO_CLIPPED, &part, text, length, nullptr);
}

}  // namespace

void RegisterMeterClass(HINSTANCE instance) {
  WNDCLASSA meterClass = {};
  meterClass.style = CS_HREDRAW | CS_VREDRAW;
  meterClass.lpfnWndProc = MeterWindowProc;
  meterClass.cbWndExtra = kExtraBytes;
  meterClass.hInstance = instance;
  meterClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  meterClass.lpszClassName = kMeterClass;
  RegisterClassA(&meterClass);
}

LRESULT CALLBACK MeterWindowProc(HWND meter, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CREATE:
      return OnCreate(meter);
    case WM_GETDLGCODE:
      return DLGC_STATIC;
    case WM_PAINT:
      return OnPaint(meter);
    case MTR_SETRANGE:
      return StoreAndRepaint(meter, kRangeSlot, wParam);
    case MTR_GETRANGE:
      return ReadSlot(meter, kRangeSlot);
    case MTR_SETPOS:
      return StoreAndRepaint(meter, kPositionSlot, wParam);
    case MTR_GETPOS:
      return ReadSlot(meter, kPositionSlot);
    default:
      return DefWindowProcA(meter, message, wParam, lParam);
  }
}

// Two opaque passes: the filled part in the highlight pair, then the rest with the pair
// swapped. The text is drawn whole in both passes and clipped to each part, so the digits
// change colour exactly where the fill boundary crosses them.
void PaintMeter(HWND meter, HDC dc, const RECT& client) {
  UINT range = static_cast<UINT>(SendMessageA(meter, MTR_GETRANGE, 0, 0));
  UINT position = static_cast<UINT>(SendMessageA(meter, MTR_GETPOS, 0, 0));
  if (range == 0) range = 1, position = 0;
  char text[16];
  int length = wsprintfA(text, "%d%%", static_cast<int>(position * 100 / range));

  SetTextAlign(dc, TA_CENTER | TA_TOP);
  SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
  SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHT));
  int width = client.right - client.left, height = client.bottom - client.top;
  RECT filled = {0, 0, static_cast<LONG>(position * width / range), height};
  SIZE letter;
  GetTextExtentPoint32A(dc, "X", 1, &letter);
  int x = width / 2, y = (height - letter.cy) / 2;
  DrawPart(dc, x, y, filled, text, length);

  // Past 100% the filled part runs beyond the control; the rest is then empty, not inverted.
  RECT rest = {filled.right < width ? filled.right : width, 0, width, height};
  COLORREF fillColour = SetBkColor(dc, GetTextColor(dc));
  SetTextColor(dc, fillColour);
  DrawPart(dc, x, y, rest, text, length);
}
