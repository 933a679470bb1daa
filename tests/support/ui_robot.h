// The UI robot: starts a program, finds its top-level windows, reads every control, types into
// edit controls, clicks buttons, answers message boxes and takes screenshots, as a person at the
// screen would. Tests assert on what it reads.
#pragma once
#include <windows.h>

#include <functional>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

struct ControlInfo {
  HWND window;
  std::string className;
  int id;
  std::string text;
  LONG style;
  bool visible;
  bool enabled;
};

struct WindowInfo {
  HWND window;
  std::string className;
  std::string title;
  RECT rect;  // screen coordinates
  std::vector<ControlInfo> controls;
  const ControlInfo* Control(int id) const;
};

enum class BoxIcon { kNone, kError, kQuestion, kWarning, kInformation };
const char* BoxIconName(BoxIcon icon);
std::ostream& operator<<(std::ostream& out, BoxIcon icon);

struct MessageBoxInfo {
  HWND window;
  HWND owner;
  std::string caption;
  std::string text;
  std::vector<int> buttons;  // IDOK, IDCANCEL, IDRETRY, IDYES, IDNO ... in window order
  BoxIcon icon;
};

// A started program; terminated on destruction if it is still running. Started with
// CREATE_SUSPENDED, it waits at its first instruction until Resume.
class ChildProcess {
 public:
  explicit ChildProcess(const std::string& commandLine, const std::string& currentFolder = "",
                        DWORD creationFlags = 0);
  // Takes over a running process that another started (a grandchild, known by its id): it is
  // waited for and terminated like one started here.
  explicit ChildProcess(DWORD processId);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  bool started() const { return process_ != nullptr; }
  DWORD id() const { return id_; }
  DWORD threadId() const { return threadId_; }  // the program's first thread
  HANDLE handle() const { return process_; }
  void Resume();
  bool Wait(DWORD milliseconds);  // true once the program has ended
  DWORD ExitCode() const;
  void Terminate();

 private:
  HANDLE process_ = nullptr;
  HANDLE thread_ = nullptr;
  DWORD id_ = 0;
  DWORD threadId_ = 0;
};

std::vector<HWND> TopLevelWindows(DWORD processId);
// The processes that `parentId` started and that still run (a package's SETUP.EXE).
std::vector<DWORD> ChildProcessIds(DWORD parentId);
WindowInfo ReadWindow(HWND window);
std::string ControlText(HWND control);

// A message box: a dialog with a text static (id 0xFFFF) and nothing but statics and buttons.
std::optional<MessageBoxInfo> ReadMessageBox(HWND window);
std::optional<MessageBoxInfo> WaitForMessageBox(DWORD processId, DWORD milliseconds);

// The first visible top-level window of the process that has a control with `controlId`.
std::optional<WindowInfo> WaitForWindowWithControl(DWORD processId, int controlId,
                                                   DWORD milliseconds);

// Waits until `condition` holds, polling; false on time-out.
bool WaitUntil(const std::function<bool()>& condition, DWORD milliseconds);

bool AnswerMessageBox(const MessageBoxInfo& box, int button);
// Presses `button` and waits for the box to close, pressing again while it stays; false if it
// cannot be pressed or the box stays.
bool AnswerUntilClosed(const MessageBoxInfo& box, int button);
bool SetControlText(HWND dialog, int id, const std::string& text);
bool ClickButton(HWND dialog, int id);  // refuses a disabled or hidden button, as a person would

// Serves a running program until it ends: every message box that appears is recorded and
// answered with the button `answer` picks. Returns the boxes in order.
std::vector<MessageBoxInfo> AnswerBoxesUntilExit(
    ChildProcess& program, const std::function<int(const MessageBoxInfo&)>& answer,
    DWORD milliseconds = 60000);

// Runs `action` on this thread while a helper thread answers every message box that this
// process shows (the boxes `action` opens). Returns the boxes in order.
std::vector<MessageBoxInfo> AnswerOwnBoxesDuring(
    const std::function<void()>& action, const std::function<int(const MessageBoxInfo&)>& answer);

// Waits until `window` of another thread or program has drawn itself and its controls, so that a
// screenshot shows it whole; false when it does not answer or keeps changing.
bool WaitUntilDrawn(HWND window);

// Saves the whole screen as build/artifacts/<name>.png.
bool SaveScreenshot(const std::string& name);

// "Suite.Test" of the running test, usable as a file name.
std::string CurrentTestName();
