// The demo's driver: starts SETUP.EXE from a distribution folder and reports, as they appear,
// the texts of every dialog and message box it shows, with a screenshot of each. Unattended it
// answers like a user who accepts everything (OK in the welcome dialog, the first button of
// every box) and runs setup with the progress gate, which holds it at each file and meter step
// so that the progress dialog is read and photographed however fast the machine unpacks; with
// --interactive it only watches while a person clicks. With --package it runs the package that
// customers download and watches the SETUP.EXE that it starts (without the gate). At the end it
// lists the installed files and how the product was started.
#include <windows.h>

#include <cstdio>
#include <map>
#include <string>

#include "support/distribution.h"
#include "support/progress_gate.h"
#include "support/ui_robot.h"
#include "support/wine_env.h"

namespace {

constexpr int kWelcomeFolderItem = 101;
constexpr int kProgressFileItem = 104;

struct Options {
  std::string setupExe;  // or the package
  std::string commandTail;
  bool interactive = false;
  bool package = false;  // the program is a package that starts SETUP.EXE
};

std::string Indented(std::string text) {
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
    text.insert(at + 1, "    ");
  return text;
}

// The texts of a dialog whose program is held at the gate: read from the window manager, since
// the held program cannot answer messages.
WindowInfo ReadHeldWindow(HWND window) {
  auto text = [](HWND of) {
    char buffer[1024] = "";
    GetWindowTextA(of, buffer, sizeof buffer);
    return std::string(buffer);
  };
  WindowInfo info = {window, "", text(window), {}, {}};
  for (HWND child = GetWindow(window, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    info.controls.push_back({child, "", GetDlgCtrlID(child), text(child), 0,
                             IsWindowVisible(child) != FALSE, IsWindowEnabled(child) != FALSE});
  return info;
}

std::string Describe(const WindowInfo& window) {
  std::string text = "\"" + window.title + "\"";
  for (const ControlInfo& control : window.controls)
    if (control.visible && !control.text.empty())
      text += "\n      [" + std::to_string(control.id) + "] " + control.text;
  return text;
}

class Watcher {
 public:
  explicit Watcher(const Options& options) : options_(options) {}

  // Looks at the program's windows once. The progress dialog is left to `AtStop` in a gated run.
  void Look(DWORD processId, bool gated) {
    for (HWND window : TopLevelWindows(processId)) {
      if (gated && GetDlgItem(window, kProgressFileItem)) continue;
      if (auto box = ReadMessageBox(window)) {
        ReportBox(*box);
        continue;
      }
      WindowInfo info = ReadWindow(window);
      if (info.Control(kWelcomeFolderItem))
        ReportWelcome(info);
      else if (info.Control(kProgressFileItem))
        ReportProgress(info);
    }
  }

  // Setup is held at `stop`. What the dialog shows there is on the screen only after setup's
  // next message pump, so a screenshot asked for at one stop is taken at the next.
  void AtStop(const GateStop& stop) {
    if (!pendingShot_.empty()) Shot(pendingShot_);
    pendingShot_.clear();
    if (stop.dialog != progress_) {
      progress_ = stop.dialog;
      std::printf("  progress dialog %s\n", Describe(ReadHeldWindow(stop.dialog)).c_str());
      pendingShot_ = "progress";
    }
    if (stop.kind == kGateFileShown && !stop.fileName.empty())
      std::printf("    installing %s\n", stop.fileName.c_str());
    if (stop.kind == kGateProgress && !halfShown_ && 2 * stop.position >= stop.range) {
      halfShown_ = true;
      std::printf("    meter at %ld of %ld, in %s\n", stop.position, stop.range,
                  stop.fileName.c_str());
      pendingShot_ = "progress-half";
    }
    if (stop.kind == kGateClosing) {
      std::printf("    meter at %ld of %ld as the dialog closes\n", stop.position, stop.range);
      Shot("progress-done");
    }
  }

  const std::string& installFolder() const { return installFolder_; }

 private:
  void Shot(const std::string& what, HWND window = nullptr) {
    if (window) WaitUntilDrawn(window);
    char name[64];
    std::snprintf(name, sizeof name, "demo-%02d-%s", ++shots_, what.c_str());
    if (SaveScreenshot(name)) std::printf("    screenshot: build/artifacts/%s.png\n", name);
  }

  void ReportBox(const MessageBoxInfo& box) {
    if (box.window == lastBox_) return;
    lastBox_ = box.window;
    boxSinceWelcome_ = true;
    std::printf("  message box \"%s\" (%s icon):\n    %s\n", box.caption.c_str(),
                BoxIconName(box.icon), Indented(box.text).c_str());
    Shot("box", box.window);
    if (!options_.interactive) AnswerUntilClosed(box, PressFirstButton(box));
  }

  void ReportWelcome(const WindowInfo& welcome) {
    installFolder_ = welcome.Control(kWelcomeFolderItem)->text;
    if (welcome.window == welcome_) {
      // Setup refused the folder and asks again: an unattended run gives up there.
      if (boxSinceWelcome_ && IsWindowEnabled(welcome.window) && !options_.interactive) {
        std::printf("    (setup asks for another folder: pressing Cancel)\n");
        ClickButton(welcome.window, IDCANCEL);
      }
      boxSinceWelcome_ = false;
      return;
    }
    welcome_ = welcome.window;
    boxSinceWelcome_ = false;
    std::printf("  welcome dialog %s\n", Describe(welcome).c_str());
    Shot("welcome", welcome.window);
    if (!options_.interactive) {
      std::printf("    (pressing OK)\n");
      ClickButton(welcome.window, IDOK);
    }
  }

  void ReportProgress(const WindowInfo& progress) {
    if (progress.window != progress_) {
      progress_ = progress.window;
      std::printf("  progress dialog %s\n", Describe(progress).c_str());
      Shot("progress", progress.window);
    }
    const std::string& file = progress.Control(kProgressFileItem)->text;
    if (!file.empty() && file != lastFile_) std::printf("    installing %s\n", file.c_str());
    lastFile_ = file;
  }

  Options options_;
  int shots_ = 0;
  HWND lastBox_ = nullptr, welcome_ = nullptr, progress_ = nullptr;
  std::string lastFile_, pendingShot_;
  bool halfShown_ = false, boxSinceWelcome_ = false;
  std::string installFolder_ = kDefaultInstallFolder;
};

void ListFolder(const std::string& folder) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    std::printf("  (the folder %s does not exist)\n", folder.c_str());
    return;
  }
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
      std::printf("  %-14s %10lu bytes\n", found.cFileName, found.nFileSizeLow);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

// The prefix is shared with the tests, and a test stopped half-way leaves its settings behind.
// Setup's folder suggestion depends on two of them; they are put back as a fresh prefix has them.
void RestoreFolderSuggestionSettings() {
  HKEY key;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", 0,
                    KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
    static const char kProgramFiles[] = "C:\\Program Files";
    RegSetValueExA(key, "ProgramFilesDir", 0, REG_SZ, reinterpret_cast<const BYTE*>(kProgramFiles),
                   sizeof kProgramFiles);
    RegCloseKey(key);
  }
  WriteProfileStringA("extensions", "zip", nullptr);
}

DWORD WatchSetup(const std::string& command, Watcher& watcher) {
  ChildProcess setup(command);
  if (!setup.started()) return 1;
  while (!setup.Wait(100)) watcher.Look(setup.id(), false);
  return setup.ExitCode();
}

DWORD ServeGatedSetup(const std::string& command, Watcher& watcher) {
  GatedSetup setup(command);
  if (!setup.gated()) return 1;
  ChildProcess& process = setup.process();
  while (!process.Wait(0)) {
    if (std::optional<GateStop> stop = setup.NextStop(100, true)) {
      watcher.AtStop(*stop);
      setup.GoOn();
    } else {
      watcher.Look(process.id(), true);
    }
  }
  return process.ExitCode();
}

// A package as the customer runs it: the windows of the SETUP.EXE that it starts are watched and
// answered as setup's own; the package ends with setup's exit code.
DWORD WatchPackage(const std::string& command, Watcher& watcher) {
  ChildProcess package(command);
  if (!package.started()) return 1;
  while (!package.Wait(100))
    for (DWORD setup : ChildProcessIds(package.id())) watcher.Look(setup, false);
  return package.ExitCode();
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--interactive")
      options.interactive = true;
    else if (argument == "--package")
      options.package = true;
    else if (options.setupExe.empty())
      options.setupExe = argument;
    else
      options.commandTail += " " + argument;
  }
  if (options.setupExe.empty()) {
    std::fprintf(
        stderr,
        "usage: demo_run SETUP.EXE|PACKAGE [--interactive] [--package] [COMMAND TAIL...]\n");
    return 64;
  }
  std::printf("starting %s%s\n", options.setupExe.c_str(), options.commandTail.c_str());
  RestoreFolderSuggestionSettings();
  std::string command = "\"" + options.setupExe + "\"" + options.commandTail;
  Watcher watcher(options);
  DWORD exitCode = options.package       ? WatchPackage(command, watcher)
                   : options.interactive ? WatchSetup(command, watcher)
                                         : ServeGatedSetup(command, watcher);
  std::printf("%s ended with exit code %lu\n", options.package ? "the package" : "SETUP.EXE",
              exitCode);

  std::printf("files in %s:\n", watcher.installFolder().c_str());
  ListFolder(watcher.installFolder());
  std::string log = ProductLog(watcher.installFolder());
  std::printf("the product was %s\n%s", log.empty() ? "not started" : "started:", log.c_str());
  return log.empty() ? 1 : 0;
}
