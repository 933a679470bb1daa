// The ground floor's file routines that take text from outside: the run's log, whose entries
// no text can forge and no second writer can overwrite, and the folder levels of a path.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/files.h"
#include "common/setup_log.h"
#include "common/setup_state.h"
#include "support/wine_env.h"

namespace {

class SetupLogTest : public testing::Test {
 protected:
  SetupLogTest() { lstrcpyA(setupState.logFile, (folder_ / "setup.log").c_str()); }
  ~SetupLogTest() override { setupState.logFile[0] = '\0'; }

  // The log's lines, each without its CR LF.
  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    std::istringstream log(ReadFileBytes(setupState.logFile));
    for (std::string line; std::getline(log, line);) {
      EXPECT_EQ(line.back(), '\r') << line;
      lines.push_back(line.substr(0, line.size() - 1));
    }
    return lines;
  }

  TestFolder folder_{"C:\\ks-setup-log"};
};

// A CR, an LF or both inside a logged text (a stored name, an argument) continue the entry on
// a line of its own behind a tab; a bare CR would otherwise begin a line of its own for many a
// reader.
TEST_F(SetupLogTest, ALineBreakInsideATextCannotStartAnEntry) {
  for (const char* text : {"a\rb", "a\nb", "a\r\nb", "a\n\rb"}) {
    DeleteFileA(setupState.logFile);
    LogStep("%s", text);
    std::vector<std::string> lines = Lines();
    const std::regex stamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  a$)");
    ASSERT_GE(lines.size(), 2u) << text;
    EXPECT_TRUE(std::regex_match(lines[0], stamp)) << lines[0];
    for (size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(lines[i][0], '\t') << text;
    EXPECT_EQ(lines.back(), "\tb") << text;
  }
}

// Entries are appended, each whole: writers at the same time lose none of them.
TEST_F(SetupLogTest, WritersAtTheSameTimeNeverOverwriteEachOther) {
  WriteFileBytes(setupState.logFile, "an earlier run\r\n");
  constexpr int kWriters = 8, kEntries = 400;
  std::vector<std::thread> writers;
  for (int w = 0; w < kWriters; ++w)
    writers.emplace_back([w] {
      for (int i = 0; i < kEntries; ++i) LogStep("writer %d entry %d", w, i);
    });
  for (std::thread& writer : writers) writer.join();
  std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 1u + kWriters * kEntries);
  EXPECT_EQ(lines[0], "an earlier run");
  std::set<std::string> entries;
  for (size_t i = 1; i < lines.size(); ++i) entries.insert(lines[i].substr(21));
  EXPECT_EQ(entries.size(), size_t{kWriters * kEntries});
  EXPECT_EQ(*entries.begin(), "writer 0 entry 0");
}

// The second byte of a double-byte character may be 0x5C, a backslash in a single-byte code
// page: it never ends a folder level. Here 0x95 0x5C is one character in code page 932, two in
// code page 1252, where this test runs and the file system reads the bytes.
TEST(FolderLevels, ADoubleByteCharacterNeverSplitsAFolderName) {
  TestFolder root("C:\\ks-folder-levels");
  const std::string half = root / "\x95";
  for (UINT codePage : {932u, 1252u}) {
    RemoveTree(half);
    std::string path = root / "\x95\\x\\file.txt";
    CreateFolderLevels(path.c_str(), static_cast<int>(root.path().size()) + 1, codePage);
    EXPECT_EQ(PathExists(half), codePage == 1252) << codePage;
  }
}

}  // namespace
