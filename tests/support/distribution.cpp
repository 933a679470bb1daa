#include "support/distribution.h"

#include <gtest/gtest.h>

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

int PressFirstButton(const MessageBoxInfo& box) {
  return box.buttons.empty() ? IDOK : box.buttons.front();
}

SetupRunResult RunSetupExe(const std::string& setupExe, const std::string& commandTail,
                           const std::function<int(const MessageBoxInfo&)>& answer,
                           DWORD milliseconds) {
  ChildProcess setup("\"" + setupExe + "\"" + commandTail);
  SetupRunResult result = {{}, STILL_ACTIVE};
  if (!setup.started()) return result;
  result.boxes = AnswerBoxesUntilExit(setup, answer, milliseconds);
  result.exitCode = setup.ExitCode();
  return result;
}

std::string ProductLog(const std::string& installFolder) {
  std::string log;
  // The product runs on after setup has ended; give it a moment to write its log.
  WaitUntil([&] { return !(log = ReadFileBytes(installFolder + "\\kestra32.log")).empty(); }, 5000);
  return log;
}

void PlaceUnpackedProduct(const std::string& installFolder) {
  ASSERT_TRUE(CreateDirectoryA(installFolder.c_str(), nullptr)) << installFolder;
  CopyFileOrFail(FixturePath("KESTRA32.EXE"), installFolder + "\\KESTRA32.EX_");
}
