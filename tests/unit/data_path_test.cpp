// The entry data path as the progress dialog and the install folder see it: block edges,
// progress messages and their rate, cancel, CRC checks, unknown methods, write and memory
// failures, file times, and the guard against a second job.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>

#include "engine_harness.h"
#include "resources/catalogue.h"
#include "unzip/data_path.h"
#include "unzip/job.h"

namespace engine_test {
namespace {

using Strings = std::vector<std::string>;

class DataPathTest : public EngineTest {};

TEST_F(DataPathTest, EntriesAroundTheBlockSizeArriveWhole) {
  std::vector<ZipEntry> entries;
  for (size_t size : {0, 1, 10239, 10240, 28671, 28672, 28673, 57344, 57345, 100000})
    entries.push_back(Stored("size-" + std::to_string(size), Pattern(size, size & 0xFF)));
  std::string archive = MakeZip(entries);
  EXPECT_EQ(Extract(archive, {.reportCrc = true}), 0);
  EXPECT_TRUE(observer_.errors.empty());
  for (const ZipEntry& entry : entries)
    EXPECT_EQ(ReadBytes(OutFile(entry.name)), entry.data) << entry.name;
  // A test-only job checks the same CRCs without a file.
  fs::remove_all(Out());
  EXPECT_EQ(Extract(archive, {.testOnly = true, .reportCrc = true}), 0);
  EXPECT_TRUE(observer_.errors.empty());
  EXPECT_FALSE(fs::exists(Out()));
}

// One name and one forced progress message per entry; further progress messages once another
// 10,240 bytes have been read, counted across entries.
TEST_F(DataPathTest, ProgressIsReportedPerEntryAndPerTenKilobytesRead) {
  std::string archive =
      MakeZip({Stored("a", Pattern(5000)), Stored("b", Pattern(30000)), Stored("c", Pattern(100)),
               Stored("d", Pattern(8000)), Stored("e", Pattern(70000))});
  EXPECT_EQ(Extract(archive), 0);
  // Bytes read so far at each message: a 0; b 5000, 33672; c 35000; d 35100; e 43100, 71772,
  // 100444, 113100. Reads below 10,240 bytes since the last message send nothing.
  EXPECT_EQ(observer_.events, (Strings{"name a", "progress 0", "name b", "progress 0", "progress 3",
                                       "name c", "progress 3", "name d", "progress 3", "name e",
                                       "progress 4", "progress 7", "progress 9", "progress 11"}));
}

// The unit count travels in 16 bits: it wraps to 0 at 65,536 units (671,088,640 bytes).
TEST_F(DataPathTest, TheProgressUnitCountWrapsAtSixteenBits) {
  ExtractionRequest request = {};
  request.progressWindow = &observer_;
  ExtractionJob& job = extractionJob;
  job.request = &request;
  job.bytesRead = job.lastReported = 0;
  ReportProgress(false, 65535u * kProgressUnit);
  ReportProgress(false, kProgressUnit - 1);
  ReportProgress(false, 1);
  ReportProgress(false, 2 * kProgressUnit);
  ReportProgress(true, 0);
  EXPECT_EQ(observer_.events,
            (Strings{"progress 65535", "progress 0", "progress 2", "progress 2"}));
  job.request = nullptr;
}

// Progress messages of this archive, in order: small.txt starts (1), small.txt read (2),
// large.bin starts (3), then one per block of large.bin (4 to 10).
TEST_F(DataPathTest, ACancelAtAProgressPointRemovesOnlyThePartialFile) {
  struct Case {
    const char* how;
    bool byReply;
    int atMessage;
  } cases[] = {
      {"reply during the large entry", true, 6},
      {"pump during the large entry", false, 6},
      {"reply as the large entry starts", true, 3},
      {"pump as the large entry starts", false, 3},
  };
  std::string archive = MakeZip({Stored("small.txt", Pattern(12000)),
                                 Stored("large.bin", Pattern(200000)), Stored("last.txt", "z")});
  for (const Case& c : cases) {
    fs::remove_all(Out());
    fs::create_directory(Out());
    int messages = 0;
    observer_.onProgress = [&](uint16_t) { return c.byReply && ++messages == c.atMessage; };
    observer_.onPump = [&] { return !c.byReply && ++messages == c.atMessage; };
    observer_.events.clear();
    EXPECT_EQ(Extract(archive), kAbortCancelled) << c.how;
    EXPECT_TRUE(observer_.errors.empty()) << c.how;
    EXPECT_EQ(ListFiles(Out()), Strings{"small.txt"}) << c.how;
    EXPECT_EQ(ReadBytes(OutFile("small.txt")), Pattern(12000));
    EXPECT_EQ(Announced(), (Strings{"small.txt", "large.bin"})) << c.how;
  }
}

TEST_F(DataPathTest, ABadCrcIsReportedOnlyWhenAsked) {
  ZipEntry damaged = Stored("damaged.txt", "the content as it stands");
  damaged.claimedCrc = 0xDEADBEEF;
  std::string archive = MakeZip({damaged, Stored("next.txt", "next")});
  EXPECT_EQ(Extract(archive), 0);
  EXPECT_TRUE(observer_.errors.empty());
  EXPECT_EQ(ReadBytes(OutFile("damaged.txt")), "the content as it stands");
  EXPECT_EQ(ListFiles(Out()), (Strings{"damaged.txt", "next.txt"}));

  fs::remove_all(Out());
  fs::create_directory(Out());
  EXPECT_EQ(Extract(archive, {.reportCrc = true}), kAbortError);
  char expected[200];
  snprintf(expected, sizeof expected, "ZIP damaged: file %s: Bad CRC %08x (should be deadbeef)",
           OutFile("damaged.txt").c_str(), ZlibCrc32("the content as it stands"));
  EXPECT_EQ(observer_.errors, Strings{expected});
  EXPECT_EQ(observer_.errorClasses, std::vector<int>{7004});
  EXPECT_TRUE(ListFiles(Out()).empty()) << "the damaged file is removed, no more follow";

  // The digits are lower case and padded to eight.
  damaged.claimedCrc = 0x00000ABC;
  Extract(MakeZip({damaged}), {.testOnly = true, .reportCrc = true});
  ASSERT_EQ(observer_.errors.size(), 2u);
  EXPECT_NE(observer_.errors[1].find("(should be 00000abc)"), std::string::npos);
  EXPECT_NE(observer_.errors[1].find("file damaged.txt:"), std::string::npos);
}

TEST_F(DataPathTest, AnUnknownMethodEndsTheJobAndRemovesItsFile) {
  ZipEntry imploded = Stored("imploded.bin", "whatever method 6 made of it");
  imploded.method = 6;
  std::string archive = MakeZip({Stored("before.txt", "b"), imploded, Stored("after.txt", "a")});
  EXPECT_EQ(Extract(archive), kAbortError);
  EXPECT_EQ(observer_.errors, Strings{MSG_TEXT_1032});
  EXPECT_EQ(observer_.errorClasses, std::vector<int>{7000});
  EXPECT_EQ(ListFiles(Out()), Strings{"before.txt"});
}

// The file size limit turns the second block's write into a short one.
TEST_F(DataPathTest, AShortWriteIsReportedAsADiskFull) {
  std::string archive = MakeZip({Stored("fits.txt", "small"), Stored("big.bin", Pattern(60000))});
  WriteBytes(ArchivePath(), archive);
  struct rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  struct rlimit limited = saved;
  limited.rlim_cur = 40000;
  signal(SIGXFSZ, SIG_IGN);
  setrlimit(RLIMIT_FSIZE, &limited);
  int32_t result = Run();
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, SIG_DFL);
  EXPECT_EQ(result, kAbortError);
  EXPECT_EQ(observer_.errors, Strings{Format(MSG_TEXT_1036, OutFile("big.bin"))});
  EXPECT_EQ(ListFiles(Out()), Strings{"fits.txt"});
}

TEST_F(DataPathTest, AnOutputFileThatCannotBeCreatedIsReported) {
  fs::create_directory(OutFile("taken.txt"));
  EXPECT_EQ(Extract(MakeZip({Stored("taken.txt", "x")})), kAbortError);
  EXPECT_EQ(observer_.errors, Strings{Format(MSG_TEXT_1030, OutFile("taken.txt"))});
  EXPECT_TRUE(fs::is_directory(OutFile("taken.txt")));
}

// Also in a folder below the destination that exists, where one call creates the file, and
// after a file of the same folder has gone in that way.
TEST_F(DataPathTest, ASymbolicLinkInTheWayIsNotFollowed) {
  WriteBytes(folder_ / "elsewhere.txt", "keep me");
  fs::create_directories(OutFile("sub"));
  for (const char* name : {"link.txt", "sub/link.txt"}) {
    fs::create_symlink(folder_ / "elsewhere.txt", OutFile(name));
    observer_.errors.clear();
    std::string archive = MakeZip({Stored("sub/first.txt", "1"), Stored(name, "overwritten")});
    EXPECT_EQ(Extract(archive, {.keepFolders = true}), kAbortError);
    EXPECT_EQ(observer_.errors, Strings{Format(MSG_TEXT_1030, OutFile(name))});
    EXPECT_EQ(ReadBytes(folder_ / "elsewhere.txt"), "keep me");
  }
}

// Memory for the window, the two buffers and the password copy: whichever is missing, the job
// shows "Insufficient memory" once and releases what it had (the leak checker watches), and the
// next job runs normally.
TEST_F(DataPathTest, MissingMemoryEndsTheJobOnceAndReleasesTheRest) {
  std::string archive = MakeZip({Stored("a.txt", "alpha")});
  for (int successes : {0, 1, 2, 3}) {
    fs::remove_all(Out());
    fs::create_directory(Out());
    observer_.errors.clear();
    observer_.errorClasses.clear();
    FailAllocationAfter(successes);
    EXPECT_EQ(Extract(archive, {.password = "given"}), kAbortError) << successes;
    EXPECT_EQ(observer_.errors, Strings{MSG_TEXT_1035}) << successes;
    EXPECT_EQ(observer_.errorClasses, std::vector<int>{7001});
    EXPECT_TRUE(ListFiles(Out()).empty());
    FailAllocationAfter(-1);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(ListFiles(Out()), Strings{"a.txt"});
  }
}

TEST_F(DataPathTest, FilesCarryTheEntryTimeAsLocalTime) {
  struct Stamp {
    int year, month, day, hour, minute, second;
  } stamps[] = {{1995, 8, 24, 9, 30, 0}, {2001, 1, 1, 0, 0, 0}, {2024, 7, 15, 23, 59, 58}};
  std::vector<ZipEntry> entries;
  for (const Stamp& s : stamps) {
    ZipEntry entry = Stored("file-" + std::to_string(s.year), "dated");
    entry.dosDate = DosDate(s.year, s.month, s.day);
    entry.dosTime = DosTime(s.hour, s.minute, s.second);
    entries.push_back(entry);
  }
  ASSERT_EQ(Extract(MakeZip(entries)), 0);
  for (const Stamp& s : stamps) {
    struct stat status;
    ASSERT_EQ(stat(OutFile("file-" + std::to_string(s.year)).c_str(), &status), 0);
    struct tm local;
    localtime_r(&status.st_mtime, &local);
    EXPECT_EQ(local.tm_year + 1900, s.year);
    EXPECT_EQ(local.tm_mon + 1, s.month);
    EXPECT_EQ(local.tm_mday, s.day);
    EXPECT_EQ(local.tm_hour, s.hour);
    EXPECT_EQ(local.tm_min, s.minute);
    EXPECT_EQ(local.tm_sec, s.second);
  }
}

TEST_F(DataPathTest, ASecondJobIsRefusedWhileOneRuns) {
  std::string archive = MakeZip({Stored("a.txt", "alpha"), Stored("b.txt", "beta")});
  WriteBytes(ArchivePath(), archive);
  std::string second = folder_ / "second", archivePath = ArchivePath();
  fs::create_directory(second);
  ExtractionRequest inner = {};
  inner.archivePath = archivePath.c_str();
  inner.destinationFolder = second.c_str();
  inner.result = 42;
  std::vector<int> innerReturns;
  observer_.onProgress = [&](uint16_t) {
    innerReturns.push_back(RunExtractionJob(&inner));
    return false;
  };
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(returned_, 1);
  EXPECT_EQ(innerReturns, (std::vector<int>{0, 0}));
  EXPECT_EQ(inner.result, 42) << "the refused request is left alone";
  EXPECT_TRUE(ListFiles(second).empty());
  EXPECT_EQ(ListFiles(Out()), (Strings{"a.txt", "b.txt"}));
  // Once the job has ended, the next one runs.
  observer_.onProgress = nullptr;
  EXPECT_EQ(RunExtractionJob(&inner), 1);
  EXPECT_EQ(ListFiles(second), (Strings{"a.txt", "b.txt"}));
}

}  // namespace
}  // namespace engine_test
