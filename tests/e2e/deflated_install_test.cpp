// SETUP.EXE installs a distribution whose setup.ks holds deflated entries, some of them
// encrypted with the built-in password: every installed file is byte for byte its source.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/distribution.h"
#include "support/sample_data.h"
#include "support/wine_env.h"
#include "support/zip_writer.h"
#include "unzip/builtin_password.h"

namespace {

std::string Sample(sample_data::Kind kind, size_t size, uint32_t seed) {
  std::vector<uint8_t> data = sample_data::Make(kind, size, seed);
  return {data.begin(), data.end()};
}

ZipEntry Deflated(const std::string& name, const std::string& data, bool encrypted) {
  ZipEntry entry;
  entry.name = name;
  entry.data = data;
  entry.method = 8;
  if (encrypted) entry.password = std::string(kBuiltInPassword);
  return entry;
}

TEST(DeflatedInstallTest, InstalledFilesAreByteIdenticalToTheirSources) {
  using sample_data::Kind;
  FolderCleanup install(kDefaultInstallFolder);
  Distribution dist("C:\\ks-deflated");
  dist.AddSideFiles();
  std::vector<ZipEntry> entries = {
      Deflated("KESTRA32.EX_", ReadFileBytes(FixturePath("KESTRA32.EXE")), true),
      Deflated("README.TXT", Sample(Kind::kText, 120000, 1), false),
      Deflated("KESTRA.HLP", Sample(Kind::kBinary, 300000, 2), true),
      Deflated("bin/KSTOOLS.DLL", Sample(Kind::kBinary, 65536, 3), false),
      Deflated("LICENSE.TXT", Sample(Kind::kText, 28672, 4), true),
      Deflated("NOISE.DAT", Sample(Kind::kRandom, 40000, 5), true),
      Deflated("EMPTY.TXT", "", false),
  };
  dist.SetArchive(MakeZip(entries));

  SetupRunResult run = RunSetupExe(dist.SetupExe(), "");
  for (const MessageBoxInfo& box : run.boxes) ADD_FAILURE() << "box: " << box.text;
  EXPECT_EQ(run.exitCode, 0u);

  const std::string folder = std::string(kDefaultInstallFolder) + "\\";
  EXPECT_EQ(ReadFileBytes(folder + "KESTRA32.EXE"), entries[0].data) << "renamed after unpacking";
  for (size_t i = 1; i < entries.size(); i++) {
    std::string name = entries[i].name.substr(entries[i].name.rfind('/') + 1);
    EXPECT_EQ(ReadFileBytes(folder + name), entries[i].data) << name;
  }
  EXPECT_NE(ProductLog(kDefaultInstallFolder), "") << "the installed product was started";
}

}  // namespace
