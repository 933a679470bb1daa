// A distribution made by `ksdist pack` from a product folder of 200 files (20 MB), deflated
// and encrypted, installs through SETUP.EXE: every file arrives byte for byte with its time,
// flattened into the install folder, KESTRA32.EXE under its final name, and the product is
// started. So does the same distribution whose setup.ks was packed by bsdtar, every entry
// streamed. tests/e2e/packed_distribution_prepare.sh lays out the product and the
// distributions natively before this test runs.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "support/distribution.h"
#include "support/wine_env.h"

namespace {

const std::string kInstall = kDefaultInstallFolder;

int64_t Ticks(const FILETIME& time) {
  return static_cast<int64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

class PackedDistribution : public testing::TestWithParam<const char*> {};

TEST_P(PackedDistribution, InstallsEveryFileOfTheProduct) {
  const std::string root = BuildPath("packed-e2e");
  const std::string dist = root + "\\" + GetParam();
  std::map<std::string, std::string> product = FilesByBaseName(root + "\\product");
  ASSERT_EQ(product.size(), 200u) << "packed_distribution_prepare.sh has not run";
  FolderCleanup installFolder(kInstall);

  SetupRunResult run = RunSetupExe(dist + "\\SETUP.EXE", " -argv0 C:\\download\\package.exe",
                                   PressFirstButton, 300000);
  for (const MessageBoxInfo& box : run.boxes) ADD_FAILURE() << "box: " << box.text;
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_NE(ProductLog(kInstall).find("/installS /f:\"C:\\download\\package.exe\""),
            std::string::npos);

  size_t bytes = 0;
  for (const auto& [name, source] : product) {
    std::string installed = kInstall + "\\" + name;
    std::string data = ReadFileBytes(source);
    bytes += data.size();
    EXPECT_EQ(ReadFileBytes(installed), data) << name;
    EXPECT_EQ(Ticks(LastWriteTime(installed)), Ticks(LastWriteTime(source))) << name;
  }
  EXPECT_GE(bytes, 20u << 20);
  EXPECT_FALSE(PathExists(kInstall + "\\KESTRA32.EX_")) << "renamed to KESTRA32.EXE";
  for (const char* name : kSideFileNames)
    EXPECT_EQ(ReadFileBytes(kInstall + "\\" + name), ReadFileBytes(dist + "\\" + name));
  std::map<std::string, std::string> installed = FilesByBaseName(kInstall);
  // The product, the side files, the stub library and the stand-in product's log.
  EXPECT_EQ(installed.size(), product.size() + 7 + 2);
}

INSTANTIATE_TEST_SUITE_P(PackedBy, PackedDistribution, testing::Values("dist", "dist-bsdtar"));

}  // namespace
