// SETUP.EXE unpacks setup.ks into the install folder: stored entries, some encrypted with the
// built-in password, some streamed as writers to a pipe make them, arrive byte-identical with
// the archive's times, the product is renamed and started; a damaged archive, a damaged entry or
// one that setup cannot decode ends setup with the extractor's box and the closing notice, and
// leaves no file of that entry behind.
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
    bool streamed = false;
  } files[] = {
      {"KESTRA32.EX_",
       "KESTRA32.EXE",
       ReadFileBytes(FixturePath("KESTRA32.EXE")),
       {1995, 8, 24, 9, 30, 0},
       true},
      {"KESTRA.INI", "KESTRA.INI", "[Kestra]\r\nVersion=8.0\r\n", {1995, 8, 23, 18, 5, 44}, false},
      {"system/KESTRA.DLL", "KESTRA.DLL", Binary(90000, 7), {1995, 7, 1, 12, 0, 0}, true, true},
      {"help\\KESTRA.HLP", "KESTRA.HLP", Binary(28672, 3), {1995, 6, 30, 23, 59, 58}, false, true},
      {"EMPTY.INI", "EMPTY.INI", "", {1995, 1, 2, 3, 4, 6}, true},
  };
  ZipWriter writer;
  writer.Add(Entry("system/", "", {1995, 7, 1, 12, 0, 0}, false));
  for (const File& f : files) {
    ZipEntry entry = Entry(f.stored, f.data, f.stamp, f.encrypted);
    entry.streamed = f.streamed;
    writer.Add(entry);
  }
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

// Entries that setup must not install as they are: each ends setup with its box and the
// closing notice, and an installed file of the same name keeps what it had, or none is left.
TEST_F(InstallArchiveTest, ADamagedOrUnreadableEntryEndsSetupWithItsBox) {
  const Stamp stamp = {1995, 8, 24, 9, 30, 0};
  ZipEntry product = Entry("KESTRA32.EX_", ReadFileBytes(FixturePath("KESTRA32.EXE")), stamp, true);
  ZipEntry badCrc = Entry("KESTRA.INI", "[Kestra]", stamp, false);
  badCrc.streamed = true;
  badCrc.claimedCrc = 0x0BADC0DE;
  ZipEntry aes = Entry("KESTRA.INI", "[Kestra]", stamp, false);
  aes.method = 99;
  ZipEntry longer = Entry("KESTRA.INI", Binary(50000, 1), stamp, false);
  longer.method = 8;
  longer.claimedUncompressedSize = 10;
  char crcText[120];
  wsprintfA(crcText, "ZIP damaged: file %s\\KESTRA.INI: Bad CRC %08lx (should be 0badc0de)",
            kInstall.c_str(), ZlibCrc32("[Kestra]"));
  struct Case {
    ZipEntry entry;
    std::string text;
    const char* left;  // KESTRA.INI afterwards; nullptr: none is there
  } cases[] = {
      {badCrc, crcText, "[Kestra]"},  // a CRC error leaves the file as it came out
      {aes, MSG_TEXT_1032, "installed before"},
      {longer, "ZIP damaged: file " + kInstall + "\\KESTRA.INI: Bad CRC ", nullptr},
  };
  for (const Case& c : cases) {
    RemoveTree(kInstall);
    CreateDirectoryA(kInstall.c_str(), nullptr);
    WriteFileBytes(kInstall + "\\KESTRA.INI", "installed before");
    dist_.SetArchive(MakeZip({c.entry, product}));
    SetupRunResult run = RunSetupExe(dist_.SetupExe(), "");
    ASSERT_EQ(run.boxes.size(), 2u) << c.text;
    EXPECT_EQ(run.boxes[0].text.rfind(c.text, 0), 0u) << run.boxes[0].text;
    EXPECT_EQ(run.boxes[1].text, MSG_TEXT_1006);
    if (c.left) {
      EXPECT_EQ(ReadFileBytes(kInstall + "\\KESTRA.INI"), c.left) << c.text;
    } else {
      EXPECT_FALSE(PathExists(kInstall + "\\KESTRA.INI")) << c.text;
    }
    EXPECT_FALSE(PathExists(kInstall + "\\KESTRA32.EX_")) << "setup ended at the entry";
  }
}

}  // namespace
