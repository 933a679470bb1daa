#include "support/distribution.h"

#include <gtest/gtest.h>

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
