// A distribution folder for end-to-end tests (SETUP.EXE, the side files with its time, setup.ks)
// and a run of SETUP.EXE from it under the UI robot, which answers the welcome dialog and the
// message boxes.
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "support/ui_robot.h"
#include "support/wine_env.h"

// The install folder that setup proposes when nothing else is known.
constexpr const char kDefaultInstallFolder[] = "C:\\Kestra";

// The seven side files, in the order setup checks them.
extern const char* const kSideFileNames[7];

class Distribution {
 public:
  // Creates `folder` afresh with a copy of the SETUP.EXE under test.
  explicit Distribution(const std::string& folder);
  const std::string& folder() const { return folder_.path(); }
  std::string SetupExe() const { return folder_ / "SETUP.EXE"; }
  std::string operator/(const std::string& name) const { return folder_ / name; }

  // Writes each side file with `content` and SETUP.EXE's last-write time.
  void AddSideFiles(const std::string& content = "side file\r\n");
  // Writes setup.ks.
  void SetArchive(const std::string& bytes);
  // Writes setup.ks holding the product as KESTRA32.EX_ (the stand-in KESTRA32.EXE unless
  // `product` is given), which setup unpacks and renames before it starts the product.
  void SetProductArchive(const std::string& product = "");

 private:
  TestFolder folder_;
};

// Removes a folder when created and again when destroyed (for fixed folders such as C:\Kestra).
class FolderCleanup {
 public:
  explicit FolderCleanup(const std::string& path) : path_(path) { RemoveTree(path_); }
  ~FolderCleanup() { RemoveTree(path_); }
  FolderCleanup(const FolderCleanup&) = delete;
  FolderCleanup& operator=(const FolderCleanup&) = delete;

 private:
  std::string path_;
};

struct SetupRunResult {
  std::vector<MessageBoxInfo> boxes;  // in the order they appeared
  DWORD exitCode;
};

// Answers every box with its first button: OK, Yes or Retry.
int PressFirstButton(const MessageBoxInfo& box);

// What the robot does each time the welcome dialog waits for input (visible, enabled, no message
// box open, for a moment): it types, clicks or cancels as a person would. `attempt` counts the
// earlier calls, so a handler can correct a folder that was refused.
using WelcomeHandler = std::function<void(HWND dialog, int attempt)>;

// Types `folder` and presses OK; should the dialog ask again (the folder was refused), presses
// Cancel.
WelcomeHandler AcceptFolder(const std::string& folder = kDefaultInstallFolder);

// Waits for the welcome dialog of `setup`, types `folder` and presses OK; false when the dialog
// does not appear.
bool AcceptWelcomeDialog(const ChildProcess& setup, const std::string& folder);

// Serves a running SETUP.EXE until it ends: every message box is recorded and answered with the
// button `answer` picks, and the welcome dialog is handed to `welcome`. Returns the boxes in
// order.
std::vector<MessageBoxInfo> ServeSetupUntilExit(
    ChildProcess& setup, const std::function<int(const MessageBoxInfo&)>& answer,
    const WelcomeHandler& welcome, DWORD milliseconds = 60000);

// Starts `setupExe` with `commandTail` and serves it until it ends.
SetupRunResult RunSetupExe(
    const std::string& setupExe, const std::string& commandTail,
    const std::function<int(const MessageBoxInfo&)>& answer = PressFirstButton,
    DWORD milliseconds = 60000, const WelcomeHandler& welcome = AcceptFolder());

// A ZIP archive without entries: setup unpacks nothing from it.
std::string EmptyArchive();

// The stand-in product's log in `installFolder` ("" when it was never started).
std::string ProductLog(const std::string& installFolder);
