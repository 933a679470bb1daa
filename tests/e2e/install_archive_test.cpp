// SETUP.EXE unpacks setup.ks into the install folder: stored entries, some encrypted with the
// built-in password, arrive byte-identical with the archive's times, the product is renamed and
// started; a damaged archive ends setup with the extractor's box and the closing notice.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/catalogue.h"
#include "support/distribution.h"
#include "support/ui_robot.h"
#include "support/wine_env.h"
#include "support/zip_writer.h"
#include "unzip/builtin_password.h"

namespace {

const std::string kInstall = kDefaultInstallFolder;

struct Stamp {
  WORD year, month, day, hour, minute, second;
};

ZipEntry Entry(const std::string& name, const std::string& data, const Stamp& stamp,
               bool encrypted) {
  ZipEntry entry;
  entry.name = name;
  entry.data = data;
  entry.dosDate = DosDate(stamp.year, stamp.month, stamp.day);
  entry.dosTime = DosTime(stamp.hour, stamp.minute, stamp.second);
  if (encrypted) entry.password = kBuiltInPassword;
  return entry;
}

std::string Binary(size_t size, unsigned seed) {
  std::string data(size, '\0');
  for (size_t i = 0; i < size; ++i) data[i] = static_cast<char>((i * 131 + seed) % 251);
  return data;
}

// The install folder's file time, shown as local time.
SYSTEMTIME ShownTime(const std::string& path) {
  FILETIME written = LastWriteTime(path), local;
  SYSTEMTIME shown;
  FileTimeToLocalFileTime(&written, &local);
  FileTimeToSystemTime(&local, &shown);
  return shown;
}

class InstallArchiveTest : public testing::Test {
 protected:
  InstallArchiveTest() { dist_.AddSideFiles(); }

  FolderCleanup installFolder_{kInstall};
  Distribution dist_{"C:\\ks-install-archive"};
};

TEST_F(InstallArchiveTest, TheArchiveIsUnpackedByteForByteWithItsTimes) {
  struct File {
    std::string stored, installed, data;
    Stamp stamp;
    bool encrypted;
  } files[] = {
      {"KESTRA32.EX_",
       "KESTRA32.EXE",
       ReadFileBytes(FixturePath("KESTRA32.EXE")),
       {1995, 8, 24, 9, 30, 0},
       true},
      {"KESTRA.INI", "KESTRA.INI", "[Kestra]\r\nVersion=8.0\r\n", {1995, 8, 23, 18, 5, 44}, false},
      {"system/KESTRA.DLL", "KESTRA.DLL", Binary(90000, 7), {1995, 7, 1, 12, 0, 0}, true},
      {"help\\KESTRA.HLP", "KESTRA.HLP", Binary(28672, 3), {1995, 6, 30, 23, 59, 58}, false},
      {"EMPTY.INI", "EMPTY.INI", "", {1995, 1, 2, 3, 4, 6}, true},
  };
  ZipWriter writer;
  writer.Add(Entry("system/", "", {1995, 7, 1, 12, 0, 0}, false));
  for (const File& f : files) writer.Add(Entry(f.stored, f.data, f.stamp, f.encrypted));
  dist_.SetArchive(writer.Finish());

  SetupRunResult run = RunSetupExe(dist_.SetupExe(), "");
  for (const MessageBoxInfo& box : run.boxes) ADD_FAILURE() << "box: " << box.text;
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_NE(ProductLog(kInstall), "") << "the installed product was started";
  for (const File& f : files) {
    std::string path = kInstall + "\\" + f.installed;
    EXPECT_EQ(ReadFileBytes(path), f.data) << f.installed;
    SYSTEMTIME shown = ShownTime(path);
    EXPECT_EQ(shown.wYear, f.stamp.year) << f.installed;
    EXPECT_EQ(shown.wMonth, f.stamp.month) << f.installed;
    EXPECT_EQ(shown.wDay, f.stamp.day) << f.installed;
    EXPECT_EQ(shown.wHour, f.stamp.hour) << f.installed;
    EXPECT_EQ(shown.wMinute, f.stamp.minute) << f.installed;
    EXPECT_EQ(shown.wSecond, f.stamp.second) << f.installed;
  }
  EXPECT_FALSE(PathExists(kInstall + "\\system")) << "folders are not created";
}

TEST_F(InstallArchiveTest, ADamagedArchiveEndsSetupWithTheExtractorsBox) {
  ZipEntry product = Entry("KESTRA32.EX_", ReadFileBytes(FixturePath("KESTRA32.EXE")),
                           {1995, 8, 24, 9, 30, 0}, true);
  ZipEntry readme = Entry("KESTRA.INI", "[Kestra]", {1995, 8, 24, 9, 30, 0}, false);
  std::string archive = MakeZip({readme, product});
  struct Case {
    std::string archive;
    std::string text;
  } cases[] = {
      {archive.substr(0, archive.size() - 30),
       "Error reading C:\\ks-install-archive\\setup.ks.  Possible cause: bad disk"},
      {archive.substr(0, 50) + "no record follows", MSG_TEXT_1034},
  };
  for (const Case& c : cases) {
    RemoveTree(kInstall);
    dist_.SetArchive(c.archive);
    SetupRunResult run = RunSetupExe(dist_.SetupExe(), "");
    EXPECT_EQ(run.exitCode, 0u);
    ASSERT_EQ(run.boxes.size(), 2u) << c.text;
    EXPECT_EQ(run.boxes[0].text, c.text);
    EXPECT_EQ(run.boxes[0].caption, "Error");
    EXPECT_EQ(run.boxes[0].icon, BoxIcon::kError);
    EXPECT_NE(run.boxes[0].owner, nullptr) << "owned by the progress dialog";
    EXPECT_EQ(run.boxes[1].text, MSG_TEXT_1006);
    EXPECT_EQ(ReadFileBytes(kInstall + "\\kestra32.log"), "") << "the product is not started";
  }
}

}  // namespace
