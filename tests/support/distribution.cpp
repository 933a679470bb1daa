#include "support/distribution.h"

#include <gtest/gtest.h>

#include <optional>

#include "support/zip_writer.h"

const char* const kSideFileNames[7] = {"README.TXT",   "KESTRA.TXT",  "LICENSE.TXT", "VENDOR.TXT",
                                       "WHATSNEW.TXT", "FILE_ID.DIZ", "ORDER.TXT"};

Distribution::Distribution(const std::string& folder) : folder_(folder) {
  CopyFileOrFail(SetupExePath(), SetupExe());
}

void Distribution::AddSideFiles(const std::string& content) {
  FILETIME setupTime = LastWriteTime(SetupExe());
  for (const char* name : kSideFileNames) {
    WriteFileBytes(folder_ / name, content);
    SetLastWriteTime(folder_ / name, setupTime);
  }
}

void Distribution::SetArchive(const std::string& bytes) {
  WriteFileBytes(folder_ / "setup.ks", bytes);
}

void Distribution::SetProductArchive(const std::string& product) {
  ZipEntry entry;
  entry.name = "KESTRA32.EX_";
  entry.data = product.empty() ? ReadFileBytes(FixturePath("KESTRA32.EXE")) : product;
  SetArchive(MakeZip({entry}));
}

int PressFirstButton(const MessageBoxInfo& box) {
  return box.buttons.empty() ? IDOK : box.buttons.front();
}

namespace {

constexpr int kWelcomeFolderItem = 101;
constexpr DWORD kPollMilliseconds = 50;
constexpr DWORD kSettleMilliseconds = 500;  // longer than the gap between two boxes of one OK

std::optional<MessageBoxInfo> OpenMessageBox(DWORD processId) {
  for (HWND window : TopLevelWindows(processId))
    if (std::optional<MessageBoxInfo> box = ReadMessageBox(window)) return box;
  return std::nullopt;
}

HWND WelcomeDialog(DWORD processId) {
  for (HWND window : TopLevelWindows(processId))
    if (GetDlgItem(window, kWelcomeFolderItem)) return window;
  return nullptr;
}

bool WaitsForInput(HWND dialog) {
  return IsWindowVisible(dialog) && IsWindowEnabled(dialog) &&
         IsWindowEnabled(GetDlgItem(dialog, IDCANCEL));
}

}  // namespace

WelcomeHandler AcceptFolder(const std::string& folder) {
  return [folder](HWND dialog, int attempt) {
    if (attempt > 0) {
      ClickButton(dialog, IDCANCEL);
      return;
    }
    EXPECT_TRUE(SetControlText(dialog, kWelcomeFolderItem, folder));
    EXPECT_TRUE(ClickButton(dialog, IDOK));
  };
}

bool AcceptWelcomeDialog(const ChildProcess& setup, const std::string& folder) {
  HWND dialog = nullptr;
  WaitUntil([&] { return (dialog = WelcomeDialog(setup.id())) && WaitsForInput(dialog); }, 20000);
  return dialog && SetControlText(dialog, kWelcomeFolderItem, folder) && ClickButton(dialog, IDOK);
}

std::vector<MessageBoxInfo> ServeSetupUntilExit(
    ChildProcess& setup, const std::function<int(const MessageBoxInfo&)>& answer,
    const WelcomeHandler& welcome, DWORD milliseconds) {
  std::vector<MessageBoxInfo> seen;
  int attempts = 0;
  DWORD start = GetTickCount(), readySince = 0;
  while (!setup.Wait(kPollMilliseconds)) {
    if (GetTickCount() - start >= milliseconds) {
      ADD_FAILURE() << "setup did not end within " << milliseconds << " ms";
      break;
    }
    if (std::optional<MessageBoxInfo> box = OpenMessageBox(setup.id())) {
      seen.push_back(*box);
      if (!AnswerUntilClosed(*box, answer(*box)))
        ADD_FAILURE() << "cannot answer \"" << box->text << "\"";
      readySince = 0;
      continue;
    }
    HWND dialog = WelcomeDialog(setup.id());
    if (!dialog || !WaitsForInput(dialog)) {
      readySince = 0;
      continue;
    }
    if (!readySince) readySince = GetTickCount();
    if (GetTickCount() - readySince < kSettleMilliseconds) continue;
    welcome(dialog, attempts++);
    // The dialog has taken the input once a box opens, it is disabled, or it is gone.
    WaitUntil(
        [&] {
          return setup.Wait(0) || OpenMessageBox(setup.id()) || !IsWindow(dialog) ||
                 !WaitsForInput(dialog);
        },
        10000);
    readySince = 0;
  }
  return seen;
}

SetupRunResult RunSetupExe(const std::string& setupExe, const std::string& commandTail,
                           const std::function<int(const MessageBoxInfo&)>& answer,
                           DWORD milliseconds, const WelcomeHandler& welcome) {
  ChildProcess setup("\"" + setupExe + "\"" + commandTail);
  SetupRunResult result = {{}, STILL_ACTIVE};
  if (!setup.started()) return result;
  result.boxes = ServeSetupUntilExit(setup, answer, welcome, milliseconds);
  result.exitCode = setup.ExitCode();
  return result;
}

std::string EmptyArchive() {
  // The end-of-central-directory record alone: signature, then 18 zero bytes.
  return std::string("PK\x05\x06", 4) + std::string(18, '\0');
}

std::string ProductLog(const std::string& installFolder) {
  std::string log;
  // The product runs on after setup has ended; give it a moment to write its log.
  WaitUntil([&] { return !(log = ReadFileBytes(installFolder + "\\kestra32.log")).empty(); }, 5000);
  return log;
}
