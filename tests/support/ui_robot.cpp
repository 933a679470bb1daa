#include "support/ui_robot.h"

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <climits>
#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <thread>

#include "support/png_writer.h"
#include "support/wine_env.h"

namespace {

constexpr int kMessageBoxTextId = 0xFFFF;
constexpr DWORD kPollMilliseconds = 50;
// How long the robot waits for a window to answer, to be drawn or to close before it gives up.
// Generous: these are failure limits, and a loaded machine can be slow to paint.
constexpr UINT kSendTimeout = 10000;
constexpr DWORD kPatience = 30000;
constexpr DWORD kRepeatAnswer = 3000;
// Between two looks at a window that should have finished drawing.
constexpr DWORD kSettleMilliseconds = 150;

std::string ClassOf(HWND window) {
  char name[256] = "";
  GetClassNameA(window, name, sizeof name);
  return name;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM context) {
  auto* controls = reinterpret_cast<std::vector<ControlInfo>*>(context);
  controls->push_back({child, ClassOf(child), GetDlgCtrlID(child), ControlText(child),
                       GetWindowLongA(child, GWL_STYLE), IsWindowVisible(child) != FALSE,
                       IsWindowEnabled(child) != FALSE});
  return TRUE;
}

struct WindowSearch {
  DWORD processId;
  std::vector<HWND> windows;
};

BOOL CALLBACK CollectTopLevel(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<WindowSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->processId && IsWindowVisible(window)) search->windows.push_back(window);
  return TRUE;
}

bool IsClass(const ControlInfo& control, const char* name) {
  return lstrcmpiA(control.className.c_str(), name) == 0;
}

bool IsIconStatic(const ControlInfo& control) {
  return IsClass(control, "Static") && (control.style & SS_TYPEMASK) == SS_ICON;
}

// Screen pixels of `r` as 32-bit BGRX, top row first.
std::vector<uint32_t> CapturePixels(const RECT& r) {
  int width = r.right - r.left, height = r.bottom - r.top;
  std::vector<uint32_t> pixels;
  if (width <= 0 || height <= 0) return pixels;
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  GdiFlush();
  auto* source = static_cast<uint32_t*>(bits);
  pixels.assign(source, source + width * height);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

// Draws `icon` as a message box does (system icon size) over `background`.
std::vector<uint32_t> RenderIcon(HICON icon, int width, int height, uint32_t background) {
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info = {};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), width, -height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  auto* target = static_cast<uint32_t*>(bits);
  std::fill(target, target + width * height, background);
  DrawIconEx(memory, 0, 0, icon, 0, 0, 0, nullptr, DI_NORMAL | DI_DEFAULTSIZE);
  GdiFlush();
  std::vector<uint32_t> pixels(target, target + width * height);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return pixels;
}

long PixelDistance(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
  long total = 0;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i)
    for (int shift = 0; shift < 24; shift += 8)
      total += std::abs(static_cast<int>((a[i] >> shift) & 0xff) -
                        static_cast<int>((b[i] >> shift) & 0xff));
  return total;
}

// A box wider than the screen is centred with its left part, the icon, off the screen. The
// robot slides it into view, as a person would drag it, before it looks at the icon.
void BringIntoView(HWND box, HWND part) {
  RECT r, boxRect;
  GetWindowRect(part, &r);
  int dx = r.left < 0 ? -r.left : 0, dy = r.top < 0 ? -r.top : 0;
  if (!dx && !dy) return;
  GetWindowRect(box, &boxRect);
  SetWindowPos(box, nullptr, boxRect.left + dx, boxRect.top + dy, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  WaitUntil([&] { return GetWindowRect(part, &r) && r.left >= 0 && r.top >= 0; }, kPatience);
}

struct IconCandidate {
  LPCSTR resource;
  BoxIcon icon;
};
const IconCandidate kIconCandidates[] = {{IDI_HAND, BoxIcon::kError},
                                         {IDI_QUESTION, BoxIcon::kQuestion},
                                         {IDI_EXCLAMATION, BoxIcon::kWarning},
                                         {IDI_ASTERISK, BoxIcon::kInformation}};

struct IconMatch {
  BoxIcon icon = BoxIcon::kNone;
  long distance = LONG_MAX;
};

// The system icon closest to `shown`, each drawn over `shown`'s first pixel as the background.
IconMatch ClosestIcon(const std::vector<uint32_t>& shown, int width, int height) {
  IconMatch best;
  for (const IconCandidate& c : kIconCandidates) {
    std::vector<uint32_t> drawn =
        RenderIcon(LoadIconA(nullptr, c.resource), width, height, shown[0]);
    long distance = PixelDistance(shown, drawn);
    if (distance < best.distance) best = {c.icon, distance};
  }
  return best;
}

// Which system icon the box shows. A box that has just appeared may not have drawn its icon,
// or only part of it (a partly drawn question mark looks more like the information sign than
// like itself), so the robot looks until the picture is one of the icons, drawn as the system
// draws it.
BoxIcon IdentifyIcon(HWND box, const ControlInfo& iconStatic) {
  DWORD_PTR icon = 0;
  SendMessageTimeoutA(iconStatic.window, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kSendTimeout, &icon);
  if (!icon) return BoxIcon::kNone;
  // A box of this process shows the process's own shared system icon: the handle names it, and
  // the robot need not read the screen while this process's other thread paints the box.
  DWORD owner = 0;
  GetWindowThreadProcessId(box, &owner);
  if (owner == GetCurrentProcessId())
    for (const IconCandidate& c : kIconCandidates)
      if (reinterpret_cast<HICON>(icon) == LoadIconA(nullptr, c.resource)) return c.icon;
  BringIntoView(box, iconStatic.window);
  RECT r;
  GetWindowRect(iconStatic.window, &r);
  int width = r.right - r.left, height = r.bottom - r.top;
  IconMatch match;
  WaitUntil(
      [&] {
        std::vector<uint32_t> shown = CapturePixels(r);
        if (shown.empty()) return true;
        match = ClosestIcon(shown, width, height);
        // Within about one colour level per channel and pixel: the same drawing.
        return match.distance <= 3L * width * height;
      },
      kPatience);
  return match.icon;
}

}  // namespace

const ControlInfo* WindowInfo::Control(int id) const {
  for (const ControlInfo& control : controls)
    if (control.id == id) return &control;
  return nullptr;
}

std::ostream& operator<<(std::ostream& out, BoxIcon icon) {
  return out << BoxIconName(icon);
}

const char* BoxIconName(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::kError:
      return "error";
    case BoxIcon::kQuestion:
      return "question";
    case BoxIcon::kWarning:
      return "warning";
    case BoxIcon::kInformation:
      return "information";
    default:
      return "none";
  }
}

ChildProcess::ChildProcess(const std::string& commandLine, const std::string& currentFolder,
                           DWORD creationFlags) {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  std::string command = commandLine;
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, creationFlags, nullptr,
                      currentFolder.empty() ? nullptr : currentFolder.c_str(), &startup, &info)) {
    ADD_FAILURE() << "cannot start " << commandLine << " (error " << GetLastError() << ")";
    return;
  }
  thread_ = info.hThread;
  process_ = info.hProcess;
  id_ = info.dwProcessId;
  threadId_ = info.dwThreadId;
}

ChildProcess::ChildProcess(DWORD processId)
    : process_(OpenProcess(PROCESS_ALL_ACCESS, FALSE, processId)), id_(processId) {
  if (!process_) ADD_FAILURE() << "cannot open process " << processId;
}

ChildProcess::~ChildProcess() {
  if (!process_) return;
  if (!Wait(0)) Terminate();
  if (thread_) CloseHandle(thread_);
  CloseHandle(process_);
}

void ChildProcess::Resume() {
  if (thread_) ResumeThread(thread_);
}

bool ChildProcess::Wait(DWORD milliseconds) {
  return process_ && WaitForSingleObject(process_, milliseconds) == WAIT_OBJECT_0;
}

DWORD ChildProcess::ExitCode() const {
  DWORD code = STILL_ACTIVE;
  if (process_) GetExitCodeProcess(process_, &code);
  return code;
}

void ChildProcess::Terminate() {
  if (!process_) return;
  TerminateProcess(process_, 255);
  WaitForSingleObject(process_, 5000);
}

std::vector<DWORD> ChildProcessIds(DWORD parentId) {
  std::vector<DWORD> children;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return children;
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    if (entry.th32ParentProcessID == parentId) children.push_back(entry.th32ProcessID);
  CloseHandle(snapshot);
  return children;
}

std::vector<HWND> TopLevelWindows(DWORD processId) {
  WindowSearch search = {processId, {}};
  EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&search));
  return search.windows;
}

std::string ControlText(HWND control) {
  char text[4096] = "";
  DWORD_PTR length = 0;
  if (!SendMessageTimeoutA(control, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text),
                           SMTO_ABORTIFHUNG, kSendTimeout, &length))
    return {};
  return std::string(text, length);
}

WindowInfo ReadWindow(HWND window) {
  WindowInfo info = {window, ClassOf(window), ControlText(window), {}, {}};
  GetWindowRect(window, &info.rect);
  EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&info.controls));
  return info;
}

std::optional<MessageBoxInfo> ReadMessageBox(HWND window) {
  // Only a window with a message text is read: reading asks the owning thread for every text,
  // and a test's own dialogs are not served while the test waits for the robot.
  if (!GetDlgItem(window, kMessageBoxTextId)) return std::nullopt;
  WindowInfo info = ReadWindow(window);
  if (info.className != "#32770" || !info.Control(kMessageBoxTextId)) return std::nullopt;
  MessageBoxInfo box = {window,     GetWindow(window, GW_OWNER),
                        info.title, info.Control(kMessageBoxTextId)->text,
                        {},         BoxIcon::kNone};
  for (const ControlInfo& control : info.controls) {
    if (IsClass(control, "Button")) {
      if (control.visible) box.buttons.push_back(control.id);
    } else if (IsIconStatic(control)) {
      if (control.visible) box.icon = IdentifyIcon(window, control);
    } else if (!IsClass(control, "Static")) {
      return std::nullopt;  // an edit or a meter: a dialog, not a message box
    }
  }
  // Every message box has a button. A dialog read while it is being destroyed can show only its
  // first statics (the welcome dialog's label has the id 0xFFFF too): that is not a box.
  if (box.buttons.empty() || !IsWindowVisible(window)) return std::nullopt;
  return box;
}

bool WaitUntil(const std::function<bool()>& condition, DWORD milliseconds) {
  DWORD start = GetTickCount();
  for (;;) {
    if (condition()) return true;
    if (GetTickCount() - start >= milliseconds) return false;
    Sleep(kPollMilliseconds);
  }
}

std::optional<MessageBoxInfo> WaitForMessageBox(DWORD processId, DWORD milliseconds) {
  std::optional<MessageBoxInfo> found;
  WaitUntil(
      [&] {
        for (HWND window : TopLevelWindows(processId))
          if ((found = ReadMessageBox(window))) return true;
        return false;
      },
      milliseconds);
  return found;
}

std::optional<WindowInfo> WaitForWindowWithControl(DWORD processId, int controlId,
                                                   DWORD milliseconds) {
  std::optional<WindowInfo> found;
  WaitUntil(
      [&] {
        for (HWND window : TopLevelWindows(processId)) {
          WindowInfo info = ReadWindow(window);
          if (info.Control(controlId)) {
            found = info;
            return true;
          }
        }
        return false;
      },
      milliseconds);
  return found;
}

bool AnswerMessageBox(const MessageBoxInfo& box, int button) {
  HWND control = GetDlgItem(box.window, button);
  if (!control || !IsWindowVisible(control)) return false;
  return PostMessageA(box.window, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                      reinterpret_cast<LPARAM>(control)) != FALSE;
}

bool AnswerUntilClosed(const MessageBoxInfo& box, int button) {
  auto closed = [&] { return !IsWindow(box.window) || !IsWindowVisible(box.window); };
  DWORD start = GetTickCount();
  do {
    // A click that reaches a box before its own loop can serve it is pressed once more.
    if (!AnswerMessageBox(box, button) && !closed()) return false;
    if (WaitUntil(closed, kRepeatAnswer)) return true;
  } while (GetTickCount() - start < kPatience);
  return false;
}

bool SetControlText(HWND dialog, int id, const std::string& text) {
  HWND control = GetDlgItem(dialog, id);
  DWORD_PTR result = 0;
  return control && IsWindowEnabled(control) &&
         SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                             SMTO_ABORTIFHUNG, kSendTimeout, &result);
}

bool ClickButton(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  if (!control || !IsWindowVisible(control) || !IsWindowEnabled(control)) return false;
  return PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                      reinterpret_cast<LPARAM>(control)) != FALSE;
}

std::vector<MessageBoxInfo> AnswerBoxesUntilExit(
    ChildProcess& program, const std::function<int(const MessageBoxInfo&)>& answer,
    DWORD milliseconds) {
  std::vector<MessageBoxInfo> seen;
  DWORD start = GetTickCount();
  while (!program.Wait(kPollMilliseconds)) {
    if (GetTickCount() - start >= milliseconds) {
      ADD_FAILURE() << "the program did not end within " << milliseconds << " ms";
      break;
    }
    for (HWND window : TopLevelWindows(program.id())) {
      std::optional<MessageBoxInfo> box = ReadMessageBox(window);
      if (!box) continue;
      seen.push_back(*box);
      int button = answer(*box);
      if (!AnswerUntilClosed(*box, button))
        ADD_FAILURE() << "button " << button << " does not close \"" << box->text << "\"";
    }
  }
  return seen;
}

std::vector<MessageBoxInfo> AnswerOwnBoxesDuring(
    const std::function<void()>& action, const std::function<int(const MessageBoxInfo&)>& answer) {
  std::vector<MessageBoxInfo> seen;
  std::atomic<bool> done = false;
  std::thread robot([&] {
    HWND answered = nullptr;
    while (!done) {
      for (HWND window : TopLevelWindows(GetCurrentProcessId())) {
        // A box answered a moment ago may still be closing: it is not a new box.
        if (window == answered) continue;
        std::optional<MessageBoxInfo> box = ReadMessageBox(window);
        if (!box) continue;
        seen.push_back(*box);
        answered = box->window;
        AnswerUntilClosed(*box, answer(*box));
      }
      Sleep(kPollMilliseconds);
    }
  });
  action();
  done = true;
  robot.join();
  return seen;
}

bool WaitUntilDrawn(HWND window) {
  // Answered: the program pumps its messages, past the work it did before showing the window.
  DWORD_PTR ignored;
  if (!SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kSendTimeout, &ignored))
    return false;
  RedrawWindow(window, nullptr, nullptr,
               RDW_INVALIDATE | RDW_ERASE | RDW_FRAME | RDW_ALLCHILDREN | RDW_UPDATENOW);
  // Drawn: two looks a moment apart see the same picture, and it is not one plain colour.
  std::vector<uint32_t> before;
  return WaitUntil(
      [&] {
        RECT r;
        GetWindowRect(window, &r);
        std::vector<uint32_t> now = CapturePixels(r);
        bool drawn =
            !now.empty() && now == before &&
            std::count(now.begin(), now.end(), now[0]) != static_cast<std::ptrdiff_t>(now.size());
        before = std::move(now);
        if (!drawn) Sleep(kSettleMilliseconds);
        return drawn;
      },
      kPatience);
}

bool SaveScreenshot(const std::string& name) {
  RECT screen = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  std::vector<uint32_t> pixels = CapturePixels(screen);
  std::vector<uint8_t> rgb;
  rgb.reserve(pixels.size() * 3);
  for (uint32_t pixel : pixels) {
    rgb.push_back(static_cast<uint8_t>(pixel >> 16));
    rgb.push_back(static_cast<uint8_t>(pixel >> 8));
    rgb.push_back(static_cast<uint8_t>(pixel));
  }
  return WritePng(ArtifactsPath(name + ".png"), screen.right, screen.bottom, rgb);
}

std::string CurrentTestName() {
  const testing::TestInfo* test = testing::UnitTest::GetInstance()->current_test_info();
  if (!test) return "no-test";
  std::string name = std::string(test->test_suite_name()) + "." + test->name();
  for (char& c : name)
    if (c == '/' || c == '\\' || c == ':') c = '_';
  return name;
}
