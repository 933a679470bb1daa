#include "package/unpack_window.h"

#include "common/files.h"
#include "ui/meter.h"
#include "ui/meter_messages.h"
#include "unzip/data_path.h"
#include "unzip/platform.h"
#include "unzip/win32/file_handles.h"

namespace {

constexpr char kWindowClass[] = "KestraPackage";
constexpr DWORD kQuietSpellMs = 500;  // unpacking this short shows nothing
constexpr int kWidth = 320, kHeight = 120;
constexpr int kMeterId = 100;
constexpr UINT kMeterLimit = 0xFFFF;  // the meter reads range and position in 16 bits

struct UnpackView {
  bool quiet;
  DWORD startTicks;
  bool started;
  HWND window;
  HWND meter;
  bool cancelled;
  UINT passBase;   // meter units of the passes before this one
  UINT unitShift;  // extractor units are shifted right by this to fit the meter
  UINT range;
  bool failed;
};
UnpackView view;

LRESULT OnCommand(HWND window, WPARAM wParam) {
  if (LOWORD(wParam) == IDCANCEL) view.cancelled = true;
  return DefWindowProcA(window, WM_COMMAND, wParam, 0);
}

LRESULT CALLBACK UnpackWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      return OnCommand(window, wParam);
    case WM_CLOSE:
      view.cancelled = true;
      return 0;
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

HWND AddChild(const char* className, const char* text, DWORD style, int x, int y, int width,
              int height, int id) {
  HWND child =
      CreateWindowExA(0, className, text, WS_CHILD | WS_VISIBLE | style, x, y, width, height,
                      view.window, reinterpret_cast<HMENU>(id), GetModuleHandleA(nullptr), nullptr);
  SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
  return child;
}

// A plain window where Windows puts new windows, not a dialog: the stub carries no resources
// beside its manifest and icon.
void ShowWindowNow() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass = {};
  windowClass.lpfnWndProc = UnpackWindowProc;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  windowClass.lpszClassName = kWindowClass;
  RegisterClassA(&windowClass);
  RegisterMeterClass(instance);
  view.window = CreateWindowExA(0, kWindowClass, "Kestra Setup",
                                WS_CAPTION | WS_SYSMENU | WS_VISIBLE, CW_USEDEFAULT, CW_USEDEFAULT,
                                kWidth, kHeight, nullptr, nullptr, instance, nullptr);
  if (!view.window) return;
  AddChild("STATIC", "Unpacking Kestra Setup...", 0, 12, 10, 290, 16, -1);
  view.meter = AddChild("Meter", "", WS_BORDER, 12, 32, 290, 20, kMeterId);
  AddChild("BUTTON", "Cancel", BS_PUSHBUTTON, 117, 62, 80, 24, IDCANCEL);
  SendMessageA(view.meter, MTR_SETRANGE, view.range, 0);
  SendMessageA(view.meter, MTR_SETPOS, view.passBase, 0);
}

// The window appears once the passes have taken half a second, never in a quiet run.
void ShowWhenSlow() {
  if (!view.quiet && !view.window && GetTickCount() - view.startTicks >= kQuietSpellMs)
    ShowWindowNow();
}

}  // namespace

void BeginUnpackPass(int pass, int passes, DWORD payloadBytes, bool quiet) {
  if (!view.started) {
    view.started = true;
    view.quiet = quiet;
    view.startTicks = GetTickCount();
  }
  DWORD units = payloadBytes / kProgressUnit + 1;
  view.unitShift = 0;
  while ((units >> view.unitShift) * passes > kMeterLimit) ++view.unitShift;
  view.range = (units >> view.unitShift) * passes;
  view.passBase = (units >> view.unitShift) * pass;
  if (view.meter) SendMessageA(view.meter, MTR_SETRANGE, view.range, 0);
}

bool UnpackFailed() {
  return view.failed;
}

void EndUnpackWindow() {
  if (view.window) DestroyWindow(view.window);
  view.window = view.meter = nullptr;
}

// The extractor's output files: the private folder is new, so a file is simply created.
PlatformFile CreatePlatformFile(const char* path, uint32_t rootLength, bool createFolders) {
  if (createFolders) CreateFolderLevels(path, static_cast<int>(rootLength));
  return FileOf(
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

void SetPlatformFileTime(PlatformFile file, uint16_t dosDate, uint16_t dosTime) {
  SetFileTimeFromDos(HandleOf(file), dosDate, dosTime);
}

int32_t WritePlatformFile(PlatformFile file, const void* buffer, uint32_t count) {
  DWORD done = 0;
  if (!WriteFile(HandleOf(file), buffer, count, &done, nullptr) && done == 0) return -1;
  return static_cast<int32_t>(done);
}

// The extractor's progress and error half of the seam. The window is not the extractor's to
// know: every call comes here whatever the request's progressWindow says.
void SendEntryName(void*, const char*) {}

void NoteEntryRead(void*, const char*) {}

bool SendProgress(void*, uint16_t units) {
  ShowWhenSlow();
  if (view.meter)
    SendMessageA(view.meter, MTR_SETPOS, view.passBase + (units >> view.unitShift), 0);
  return view.cancelled;
}

bool PumpPlatformMessages(void*) {
  ShowWhenSlow();
  DispatchPendingMessages(true);
  return view.cancelled;
}

// The extractor's own texts are not shown: the stub says in its words what went wrong.
const char* PlatformMessageText(int) {
  return "";
}

void ShowPlatformError(void*, int, int, const char*, int, const char*) {
  view.failed = true;
}
