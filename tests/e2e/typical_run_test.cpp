// One whole installation, as a user meets it: SETUP.EXE started with -argv0 from a complete
// distribution, the suggested Program Files folder accepted with OK, the side files copied,
// setup.ks unpacked (deflated and stored entries, encrypted and plain), the stub library written,
// the main executable renamed and the product started with the install switch and the package path.
#include <gtest/gtest.h>

#include <algorithm>
#include <utility>
#include <optional>
#include <string>
#include <vector>

#include "support/distribution.h"
#include "support/ui_robot.h"
#include "support/wine_env.h"
#include "support/zip_writer.h"
#include "unzip/builtin_password.h"

namespace {

constexpr int kFolderItem = 101;
const char kCurrentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const std::string kRoot = "C:\\ks-typical";
const std::string kProgramFiles = kRoot + "\\Program Files";
const std::string kInstall = kProgramFiles + "\\Kestra";

std::string Text(const std::string& line, size_t repeat) {
  std::string text;
  for (size_t i = 0; i < repeat; ++i) text += line + std::to_string(i) + "\r\n";
  return text;
}

bool SameTime(const FILETIME& a, const FILETIME& b) {
  return CompareFileTime(&a, &b) == 0;
}

// The DOS date and time a file's last-write time stands for, in local time as setup sets it.
std::pair<uint16_t, uint16_t> DosStamp(const std::string& path) {
  FILETIME written = LastWriteTime(path), local;
  FileTimeToLocalFileTime(&written, &local);
  WORD date = 0, time = 0;
  FileTimeToDosDateTime(&local, &date, &time);
  return {date, time};
}

TEST(TypicalRun, InstallsTheDistributionAndStartsTheProduct) {
  TestFolder root(kRoot);
  ASSERT_TRUE(CreateDirectoryA(kProgramFiles.c_str(), nullptr));
  RegistryValueScope programFiles(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesDir",
                                  kProgramFiles);
  ProfileValueScope association("extensions", "zip", std::nullopt);

  // A program planted where an unquoted "...\\Program Files\\..." path would find it first.
  CopyFileOrFail(FixturePath("KESTRA32.EXE"), kRoot + "\\Program.exe");

  Distribution dist("C:\\ks-typical-dist");
  dist.AddSideFiles(Text("Kestra 8.0 read me, line ", 900));  // about 27 KB each
  const std::string product = ReadFileBytes(FixturePath("KESTRA32.EXE"));
  ASSERT_FALSE(product.empty());
  std::vector<ZipEntry> entries(4);
  entries[0].name = "KESTRA32.EX_";
  entries[0].data = product;
  entries[0].method = 8;
  entries[0].password = kBuiltInPassword;
  entries[0].dosDate = DosDate(1995, 8, 24);
  entries[0].dosTime = DosTime(9, 30, 2);
  entries[1].name = "KESTRA.HLP";
  entries[1].data = Text("Kestra help topic ", 20000);  // several 32 KB windows
  entries[1].method = 8;
  entries[1].password = kBuiltInPassword;
  entries[2].name = "KESTRA.CNT";
  entries[2].data = Text(":Topic ", 300);
  entries[2].method = 0;
  entries[2].password = kBuiltInPassword;
  entries[3].name = "LICENSE.RTF";
  entries[3].data = Text("{\\rtf1 licence ", 700);
  entries[3].method = 8;
  dist.SetArchive(MakeZip(entries));

  std::string suggested;
  SetupRunResult run = RunSetupExe(dist.SetupExe(), " -argv0 D:\\download\\package.exe",
                                   PressFirstButton, 120000, [&](HWND dialog, int attempt) {
                                     if (attempt > 0) {
                                       ClickButton(dialog, IDCANCEL);
                                       return;
                                     }
                                     SaveScreenshot(CurrentTestName() + "-welcome");
                                     suggested = ControlText(GetDlgItem(dialog, kFolderItem));
                                     ClickButton(dialog, IDOK);
                                   });
  for (const MessageBoxInfo& box : run.boxes) ADD_FAILURE() << "box: " << box.text;
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_EQ(suggested, kInstall);

  // The product ran from the install folder with the install switch and the package path; the
  // planted program did not run.
  std::string log = ProductLog(kInstall);
  EXPECT_FALSE(PathExists(kRoot + "\\kestra32.log"));
  EXPECT_EQ(log, "command: \"" + kInstall +
                     "\\KESTRA32.EXE\" /installS /f:\"D:\\download\\package.exe\"\r\n" +
                     "current: " + kInstall + "\r\nshell extension: not registered\r\n");

  // Every file of the install folder comes from the distribution.
  std::vector<std::string> expected = {
      "FILE_ID.DIZ",  "KESTRA.CNT",   "KESTRA.HLP",  "KESTRA.TXT", "KESTRA32.EXE",
      "KSSHLSTB.DLL", "LICENSE.RTF",  "LICENSE.TXT", "ORDER.TXT",  "README.TXT",
      "VENDOR.TXT",   "WHATSNEW.TXT", "kestra32.log"};
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(FileNames(kInstall), expected);

  FILETIME setupTime = LastWriteTime(dist.SetupExe());
  for (const char* name : kSideFileNames) {
    EXPECT_TRUE(ReadFileBytes(kInstall + "\\" + name) == ReadFileBytes(dist / name)) << name;
    EXPECT_TRUE(SameTime(LastWriteTime(kInstall + "\\" + name), setupTime)) << name;
  }
  EXPECT_TRUE(ReadFileBytes(kInstall + "\\KESTRA32.EXE") == product);
  for (const ZipEntry& entry : entries) {
    std::string name = entry.name == "KESTRA32.EX_" ? "KESTRA32.EXE" : entry.name;
    EXPECT_TRUE(ReadFileBytes(kInstall + "\\" + name) == entry.data) << name;
    EXPECT_EQ(DosStamp(kInstall + "\\" + name), std::make_pair(entry.dosDate, entry.dosTime))
        << name;
  }
  std::string stub = kInstall + "\\KSSHLSTB.DLL";
  EXPECT_TRUE(ReadFileBytes(stub) == ReadFileBytes(WinTreePath() + "\\src\\stublib\\KSSHLSTB.DLL"));
  EXPECT_TRUE(SameTime(LastWriteTime(stub), setupTime));
}

}  // namespace
