// The demo's driver: starts SETUP.EXE from a distribution folder and reports, as they appear,
// the texts of every dialog and message box it shows, with a screenshot of each. Unattended it
// answers like a user who accepts everything (OK in the welcome dialog, the first button of
// every box); with --interactive it only watches while a person clicks. At the end it lists
// the installed files and how the product was started.
#include <windows.h>

#include <cstdio>
#include <map>
#include <string>

#include "support/distribution.h"
#include "support/ui_robot.h"
#include "support/wine_env.h"

namespace {

constexpr int kWelcomeFolderItem = 101;
constexpr int kProgressFileItem = 104;

struct Options {
  std::string setupExe;
  std::string commandTail;
  bool interactive = false;
};

std::string Indented(std::string text) {
  for (size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
    text.insert(at + 1, "    ");
  return text;
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

  // Looks at the program's windows once; true while something new was seen.
  void Look(DWORD processId) {
    for (HWND window : TopLevelWindows(processId)) {
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

  const std::string& installFolder() const { return installFolder_; }

 private:
  void Shot(const std::string& what) {
    char name[64];
    std::snprintf(name, sizeof name, "demo-%02d-%s", ++shots_, what.c_str());
    if (SaveScreenshot(name)) std::printf("    screenshot: build/artifacts/%s.png\n", name);
  }

  void ReportBox(const MessageBoxInfo& box) {
    if (box.window == lastBox_) return;
    lastBox_ = box.window;
    std::printf("  message box \"%s\" (%s icon):\n    %s\n", box.caption.c_str(),
                BoxIconName(box.icon), Indented(box.text).c_str());
    Shot("box");
    if (!options_.interactive) AnswerMessageBox(box, PressFirstButton(box));
  }

  void ReportWelcome(const WindowInfo& welcome) {
    installFolder_ = welcome.Control(kWelcomeFolderItem)->text;
    if (welcome.window == welcome_) return;
    welcome_ = welcome.window;
    std::printf("  welcome dialog %s\n", Describe(welcome).c_str());
    Shot("welcome");
    if (!options_.interactive) {
      std::printf("    (pressing OK)\n");
      ClickButton(welcome.window, IDOK);
    }
  }

  void ReportProgress(const WindowInfo& progress) {
    if (progress.window != progress_) {
      progress_ = progress.window;
      std::printf("  progress dialog %s\n", Describe(progress).c_str());
      Shot("progress");
    }
    const std::string& file = progress.Control(kProgressFileItem)->text;
    if (!file.empty() && file != lastFile_) std::printf("    installing %s\n", file.c_str());
    lastFile_ = file;
  }

  Options options_;
  int shots_ = 0;
  HWND lastBox_ = nullptr, welcome_ = nullptr, progress_ = nullptr;
  std::string lastFile_;
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

}  // namespace

int main(int argc, char** argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    std::string argument = argv[i];
    if (argument == "--interactive")
      options.interactive = true;
    else if (options.setupExe.empty())
      options.setupExe = argument;
    else
      options.commandTail += " " + argument;
  }
  if (options.setupExe.empty()) {
    std::fprintf(stderr, "usage: demo_run SETUP.EXE [--interactive] [COMMAND TAIL...]\n");
    return 64;
  }
  std::printf("starting %s%s\n", options.setupExe.c_str(), options.commandTail.c_str());
  ChildProcess setup("\"" + options.setupExe + "\"" + options.commandTail);
  if (!setup.started()) return 1;
  Watcher watcher(options);
  while (!setup.Wait(100)) watcher.Look(setup.id());
  std::printf("SETUP.EXE ended with exit code %lu\n", setup.ExitCode());

  std::printf("files in %s:\n", watcher.installFolder().c_str());
  ListFolder(watcher.installFolder());
  std::string log = ProductLog(watcher.installFolder());
  std::printf("the product was %s\n%s", log.empty() ? "not started" : "started:", log.c_str());
  return log.empty() ? 1 : 0;
}
