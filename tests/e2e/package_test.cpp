// The package that customers download, run under Wine from a download folder in which
// libraries are planted under system names (each leaves a marker when loaded): quiet, it
// installs every file byte for byte and starts the product with the package's path; a failing
// SETUP.EXE's exit code comes back through it; a package with one payload byte changed ends
// with 9 and runs nothing; run by a person it shows setup's welcome dialog and installs; signed,
// it installs as unsigned. Every run leaves the temporary folder as it found it and loads none of
// the planted libraries.
// tests/e2e/packed_distribution_prepare.sh makes the package natively (of its 200-file
// distribution) before this test runs.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "support/distribution.h"
#include "support/wine_env.h"

namespace {

const std::string kInstall = "C:\\ks-package-install";
const std::string kDownload = "C:\\ks-package-download";
const char* const kPlantedNames[] = {"COMCTL32.DLL", "VERSION.DLL", "UXTHEME.DLL", "DWMAPI.DLL",
                                     "CRYPTBASE.DLL"};
constexpr DWORD kPackageFailed = 9;

// Everything in the temporary folder, files and folders alike.
std::vector<std::string> TemporaryEntries() {
  char temporary[MAX_PATH];
  GetTempPathA(MAX_PATH, temporary);
  std::vector<std::string> names;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((std::string(temporary) + "*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return names;
  do names.push_back(found.cFileName);
  while (FindNextFileA(search, &found));
  FindClose(search);
  return names;
}

// The SETUP.EXE that the package started, once it runs.
std::optional<DWORD> FindSetupProcess(DWORD packageId) {
  std::vector<DWORD> children;
  WaitUntil([&] { return !(children = ChildProcessIds(packageId)).empty(); }, 30000);
  if (children.empty()) return std::nullopt;
  return children.front();
}

struct PackageCase {
  const char* name;
  const char* package;      // in the prepared folder
  std::string commandTail;  // after the package's name
  bool damaged;             // one byte of the payload changed
  bool interactive;         // the robot answers setup's welcome dialog
  DWORD exitCode;
  bool installs;
  std::string logLine;  // a line the /LOG= file must hold, or ""
};

const std::string kLog = kDownload + "\\run.log";

class PackageRun : public testing::TestWithParam<PackageCase> {};

TEST_P(PackageRun, EndsAsSetupDoesAndLeavesNothingBehind) {
  const PackageCase& c = GetParam();
  const std::string root = BuildPath("packed-e2e");
  ASSERT_TRUE(PathExists(root + "\\" + c.package)) << "packed_distribution_prepare.sh has not run";
  FolderCleanup installFolder(kInstall);
  TestFolder download(kDownload);
  std::string package = download / "package.exe";
  CopyFileOrFail(root + "\\" + c.package, package);
  if (c.damaged) {
    std::string bytes = ReadFileBytes(package);
    bytes[bytes.size() - 2048] ^= 0x20;  // inside setup.ks, the last entry's data
    WriteFileBytes(package, bytes);
  }
  for (const char* name : kPlantedNames)
    CopyFileOrFail(FixturePath("planted.dll"), download / name);
  // Wine prefers its own libraries; Windows would take the first one found on the search path.
  SetEnvironmentVariableA("WINEDLLOVERRIDES",
                          "mscoree,mshtml=;comctl32,version,uxtheme,dwmapi,cryptbase=n,b");
  std::vector<std::string> temporaryBefore = TemporaryEntries();

  DWORD exitCode;
  {
    ChildProcess run("\"" + package + "\"" + c.commandTail, kDownload);
    ASSERT_TRUE(run.started());
    if (c.interactive) {
      std::optional<DWORD> setupId = FindSetupProcess(run.id());
      ASSERT_TRUE(setupId) << "the package started no SETUP.EXE";
      ChildProcess setup(*setupId);
      std::vector<MessageBoxInfo> boxes =
          ServeSetupUntilExit(setup, PressFirstButton, AcceptFolder(kInstall), 120000);
      for (const MessageBoxInfo& box : boxes) ADD_FAILURE() << "box: " << box.text;
    }
    ASSERT_TRUE(run.Wait(120000));
    exitCode = run.ExitCode();
  }
  SetEnvironmentVariableA("WINEDLLOVERRIDES", "mscoree,mshtml=");

  EXPECT_EQ(exitCode, c.exitCode);
  EXPECT_EQ(TemporaryEntries(), temporaryBefore);
  for (const char* name : kPlantedNames)
    EXPECT_FALSE(PathExists(download / name + ".loaded")) << name << " was loaded";
  if (!c.logLine.empty()) {
    EXPECT_NE(ReadFileBytes(kLog).find(c.logLine), std::string::npos) << ReadFileBytes(kLog);
  }
  if (!c.installs) {
    EXPECT_FALSE(PathExists(kInstall + "\\kestra32.log")) << "the product was started";
    return;
  }
  EXPECT_NE(ProductLog(kInstall).find("/installS /f:\"" + package + "\""), std::string::npos)
      << ProductLog(kInstall);
  std::map<std::string, std::string> product = FilesByBaseName(root + "\\product");
  ASSERT_FALSE(product.empty());
  for (const auto& [name, source] : product)
    EXPECT_TRUE(ReadFileBytes(kInstall + "\\" + name) == ReadFileBytes(source)) << name;
  for (const char* name : kSideFileNames)
    EXPECT_TRUE(ReadFileBytes(kInstall + "\\" + name) == ReadFileBytes(root + "\\dist\\" + name))
        << name;
}

INSTANTIATE_TEST_SUITE_P(
    Package, PackageRun,
    testing::Values(
        PackageCase{"Quiet", "package.exe", " /S /D=" + kInstall + " /LOG=" + kLog, false, false, 0,
                    true, "Setup has been started"},
        PackageCase{"Signed", "signed.exe", " /S /D=" + kInstall, false, false, 0, true, ""},
        PackageCase{"SetupFails", "package.exe", " /S \"/D=C:\\ks*package\" /LOG=" + kLog, false,
                    false, 3, false, ""},
        PackageCase{"Damaged", "package.exe", " /S /D=" + kInstall + " /LOG=" + kLog, true, false,
                    kPackageFailed, false, "The package is damaged: download it again"},
        PackageCase{"Interactive", "package.exe", "", false, true, 0, true, ""}),
    [](const testing::TestParamInfo<PackageCase>& info) { return info.param.name; });

}  // namespace
