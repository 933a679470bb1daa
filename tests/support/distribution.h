// A distribution folder for end-to-end tests (SETUP.EXE, the side files with its time, setup.ks)
// and a run of SETUP.EXE from it under the UI robot.
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

// Starts `setupExe` with `commandTail` and answers every message box until it ends.
SetupRunResult RunSetupExe(
    const std::string& setupExe, const std::string& commandTail,
    const std::function<int(const MessageBoxInfo&)>& answer = PressFirstButton,
    DWORD milliseconds = 60000);

// The stand-in product's log in `installFolder` ("" when it was never started).
std::string ProductLog(const std::string& installFolder);
