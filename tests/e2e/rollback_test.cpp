// A quiet run that fails after its first write leaves the install folder as it found it: a full
// disk half-way through an upgrade or a fresh install, a run killed from outside and followed
// by another SETUP.EXE (of either release), and a second SETUP.EXE started while one runs.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "support/distribution.h"
#include "support/ui_robot.h"
#include "support/wine_env.h"
#include "support/zip_writer.h"

namespace {

const std::string kRoot = "C:\\ks rollback";
const std::string kInstall = kRoot + "\\Kestra";
const char kFault[] = "KS_SETUP_WRITE_FAULT";
// The side files are the run's writes 1 to 7 in an upgrade (the stub library is up to date),
// the product's entries the writes after them: 13 is the sixth entry, after FILE05.DAT.
const char kFifthEntry[] = "FILE05.DAT";

using Folder = std::map<std::string, std::string>;

// Every file of `path` with its bytes and last-write time; a folder inside shows as "<name>\".
Folder ReadFolder(const std::string& path) {
  Folder folder;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return folder;
  do {
    std::string name = found.cFileName;
    if (name == "." || name == "..") continue;
    if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
      folder[name + "\\"] = "";
    else
      folder[name] = ReadFileBytes(path + "\\" + name) + "@" +
                     std::to_string(found.ftLastWriteTime.dwHighDateTime) + ":" +
                     std::to_string(found.ftLastWriteTime.dwLowDateTime);
  } while (FindNextFileA(search, &found));
  FindClose(search);
  return folder;
}

std::vector<std::string> Names(const Folder& folder) {
  std::vector<std::string> names;
  for (const auto& [name, bytes] : folder) names.push_back(name);
  return names;
}

// One release: twenty product files whose content names the release, and a file of its own.
std::vector<ZipEntry> Release(const std::string& tag, size_t size) {
  std::vector<ZipEntry> entries;
  for (int i = 1; i <= 20; ++i) {
    char name[16];
    wsprintfA(name, "FILE%02d.DAT", i);
    ZipEntry entry;
    entry.name = name;
    entry.data = std::string(size, static_cast<char>('a' + i)) + tag;
    entry.method = i % 2 ? 8 : 0;
    entries.push_back(entry);
  }
  ZipEntry own;
  own.name = "ONLY" + tag + ".DAT";
  own.data = tag;
  entries.push_back(own);
  ZipEntry product;
  product.name = "KESTRA32.EX_";
  product.data = ReadFileBytes(FixturePath("KESTRA32.EXE"));
  entries.push_back(product);
  return entries;
}

// The environment variable of the write fault, for the SETUP.EXE started while it lives.
class FaultScope {
 public:
  explicit FaultScope(const std::string& value) { SetEnvironmentVariableA(kFault, value.c_str()); }
  ~FaultScope() { SetEnvironmentVariableA(kFault, nullptr); }
};

class RollbackTest : public testing::Test {
 protected:
  RollbackTest() {
    oldDist_.AddSideFiles("release 1 read me\r\n");
    oldDist_.SetArchive(MakeZip(Release("1", 3000)));
    newDist_.AddSideFiles("release 2 read me, somewhat longer\r\n");
    newDist_.SetArchive(MakeZip(Release("2", 9000)));
  }

  DWORD RunQuietly(const Distribution& dist, const std::string& fault = "",
                   const std::string& folder = kInstall) {
    FaultScope scope(fault);
    ChildProcess setup("\"" + dist.SetupExe() + "\" /S \"/D=" + folder + "\"");
    EXPECT_TRUE(setup.Wait(120000));
    return setup.ExitCode();
  }

  // What a run of `dist` into an empty folder leaves (after a run of `first` when given), the
  // product's log aside.
  Folder Installed(const Distribution& dist, const Distribution* first = nullptr) {
    RemoveTree(kInstall);
    if (first) {
      EXPECT_EQ(RunQuietly(*first), 0u);
    }
    EXPECT_EQ(RunQuietly(dist), 0u);
    Folder folder = ReadFolder(kInstall);
    folder.erase("kestra32.log");
    RemoveTree(kInstall);
    return folder;
  }

  TestFolder root_{kRoot};
  Distribution oldDist_{"C:\\ks-rollback-old"};
  Distribution newDist_{"C:\\ks-rollback-new"};
};

TEST_F(RollbackTest, AFailedOrCutOffRunLeavesTheFolderAsItWas) {
  const Folder oldRelease = Installed(oldDist_);
  const Folder upgraded = Installed(newDist_, &oldDist_);  // release 1's own file stays
  const Folder downgraded = Installed(oldDist_, &oldDist_);
  ASSERT_NE(oldRelease, upgraded);
  // Release 1 over release 2 writes shorter files over longer ones, in place.
  Folder backToOld = oldRelease;
  backToOld["ONLY2.DAT"] = upgraded.at("ONLY2.DAT");
  EXPECT_TRUE(Installed(oldDist_, &newDist_) == backToOld);
  struct Case {
    const char* what;
    bool upgrade;                    // release 1 installed first
    std::string fault;               // for the run of release 2
    DWORD exitCode;                  // of that run
    const Distribution* rerun;       // then started again, without a fault
    std::optional<Folder> expected;  // none: the folder is gone
  } cases[] = {
      {"a full disk half-way through an upgrade", true, "13", 5, nullptr, oldRelease},
      {"a full disk in a fresh install", false, "13", 5, nullptr, std::nullopt},
      // The first write is the stub library's: message 1054.
      {"a full disk at the fresh install's first write", false, "1", 6, nullptr, std::nullopt},
      {"killed mid-upgrade, then release 2 again", true, "13w", 0, &newDist_, upgraded},
      {"killed mid-upgrade, then release 1 again", true, "13w", 0, &oldDist_, downgraded},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RemoveTree(kInstall);
    if (c.upgrade) {
      ASSERT_EQ(RunQuietly(oldDist_), 0u);
    }
    Folder before = ReadFolder(kInstall);
    if (c.fault.back() == 'w') {
      FaultScope scope(c.fault);
      ChildProcess setup("\"" + newDist_.SetupExe() + "\" /S \"/D=" + kInstall + "\"");
      // Held at the sixth entry once the fifth is written.
      const std::string fifth = Release("2", 9000)[4].data;
      ASSERT_TRUE(
          WaitUntil([&] { return ReadFileBytes(kInstall + "\\" + kFifthEntry) == fifth; }, 60000));
      Sleep(500);
      setup.Terminate();
      EXPECT_TRUE(PathExists(kInstall + "\\KSSETUP.$$$\\SETUP.JNL")) << "the journal is left";
      EXPECT_EQ(RunQuietly(*c.rerun), 0u);
      Folder after = ReadFolder(kInstall);
      after.erase("kestra32.log");
      EXPECT_EQ(Names(after), Names(*c.expected));
      EXPECT_TRUE(after == *c.expected);
      continue;
    }
    EXPECT_EQ(RunQuietly(newDist_, c.fault), c.exitCode);
    if (!c.expected) {
      EXPECT_FALSE(PathExists(kInstall)) << "the folder setup created is gone";
      EXPECT_TRUE(PathExists(kRoot));
      continue;
    }
    Folder after = ReadFolder(kInstall);
    EXPECT_EQ(Names(after), Names(before));
    EXPECT_TRUE(after == before) << "every file of the earlier release byte for byte";
  }
}

// The second run ends with 8 while the first pauses at its first write; the first installs.
TEST_F(RollbackTest, ASecondSetupStartedMeanwhileChangesNothing) {
  const Folder newRelease = Installed(newDist_);
  DWORD first, second;
  {
    FaultScope scope("1s");
    ChildProcess running("\"" + newDist_.SetupExe() + "\" /S \"/D=" + kInstall + "\"");
    SetEnvironmentVariableA(kFault, nullptr);
    // Held at its first write, the stub library's.
    ASSERT_TRUE(WaitUntil([] { return PathExists(kInstall + "\\KSSHLSTB.TMP"); }, 60000));
    Folder during = ReadFolder(kInstall);
    second = RunQuietly(oldDist_);
    EXPECT_EQ(ReadFolder(kInstall), during) << "the second run wrote nothing";
    ASSERT_TRUE(running.Wait(120000));
    first = running.ExitCode();
  }
  EXPECT_EQ(first, 0u);
  EXPECT_EQ(second, 8u);
  Folder after = ReadFolder(kInstall);
  after.erase("kestra32.log");
  EXPECT_TRUE(after == newRelease);
}

// On a 1 MB tmpfs that its fixture mounted, an upgrade pauses at its first write while the
// drive is filled to its last 48 KB, and then runs out of space for real half-way.
TEST_F(RollbackTest, ADiskThatFillsUpForRealLeavesTheFolderAsItWas) {
  const std::string drive = BuildPath("small-drive");
  if (!PathExists(drive + "\\ON-TMPFS")) GTEST_SKIP() << "no tmpfs could be mounted here";
  const std::string install = drive + "\\Kestra", filler = drive + "\\FILLER";
  RemoveTree(install);
  ASSERT_EQ(RunQuietly(oldDist_, "", install), 0u);
  const Folder before = ReadFolder(install);
  DWORD exitCode;
  {
    FaultScope scope("1s");
    ChildProcess setup("\"" + newDist_.SetupExe() + "\" /S \"/D=" + install + "\"");
    SetEnvironmentVariableA(kFault, nullptr);
    ASSERT_TRUE(WaitUntil([&] { return PathExists(install + "\\KSSETUP.$$$\\SETUP.JNL"); }, 60000));
    Sleep(1000);
    ULARGE_INTEGER available, total, free;
    ASSERT_TRUE(GetDiskFreeSpaceExA((drive + "\\").c_str(), &available, &total, &free));
    WriteFileBytes(filler, std::string(available.QuadPart - 48 * 1024, 'f'));
    ASSERT_TRUE(setup.Wait(120000));
    exitCode = setup.ExitCode();
  }
  DeleteFileA(filler.c_str());
  EXPECT_EQ(exitCode, 5u) << "message 1036, the disk is full";
  Folder after = ReadFolder(install);
  after.erase("kestra32.log");
  Folder expected = before;
  expected.erase("kestra32.log");
  EXPECT_EQ(Names(after), Names(expected));
  EXPECT_TRUE(after == expected);
  RemoveTree(install);
}

}  // namespace
