// Long path expansion against a small in-memory file system: the root prefixes, the component
// walk, wildcards, "." and the capacity limits. The Wine tests run the same rules on real
// short names.
#include "setup/long_path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

namespace {

// Entries by full path; a path may be looked up by its short or its long spelling, in any case.
struct Entry {
  std::string shortPath;
  std::string longPath;
  std::string name;  // what a directory search reports
};

std::string Upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  return text;
}

// "*" matches any run of characters, "?" one character.
bool Matches(const char* pattern, const char* text) {
  if (*pattern == '\0') return *text == '\0';
  if (*pattern == '*') return Matches(pattern + 1, text) || (*text && Matches(pattern, text + 1));
  return *text && (*pattern == '?' || *pattern == *text) && Matches(pattern + 1, text + 1);
}

struct FakeDisk {
  std::vector<Entry> entries;
  std::vector<std::string> lookups;
};

bool FindInFake(const char* path, char* name, void* context) {
  auto* disk = static_cast<FakeDisk*>(context);
  disk->lookups.push_back(path);
  std::string wanted = Upper(path);
  for (const Entry& e : disk->entries) {
    if (Matches(wanted.c_str(), Upper(e.shortPath).c_str()) ||
        Matches(wanted.c_str(), Upper(e.longPath).c_str())) {
      std::strcpy(name, e.name.c_str());
      return true;
    }
  }
  return false;
}

struct Expanded {
  int length;
  std::string text;
};

Expanded Expand(FakeDisk& disk, const std::string& source, int capacity = 261) {
  std::vector<char> result(capacity + 1, '#');
  int length = ExpandLongPathWith(source.c_str(), result.data(), capacity, FindInFake, &disk);
  return {length, length ? std::string(result.data()) : std::string()};
}

FakeDisk ProgramFiles() {
  return {{
              {"C:\\PROGRA~1", "C:\\Program Files", "Program Files"},
              {"C:\\PROGRA~1\\KESTRA", "C:\\Program Files\\Kestra", "Kestra"},
              {"C:\\PROGRA~1\\KESTRA\\KESTRA32.EXE", "C:\\Program Files\\Kestra\\KESTRA32.EXE",
               "KESTRA32.EXE"},
              {"C:\\PROGRA~1\\KESTRA\\.", "C:\\Program Files\\Kestra\\.", "."},
              {"\\\\SRV\\SHARE\\DIR~1", "\\\\SRV\\SHARE\\Directory One", "Directory One"},
              {"\\\\SRV\\SHARE\\DIR~1\\SUB~1", "\\\\SRV\\SHARE\\Directory One\\Sub Folder",
               "Sub Folder"},
              {"C:DATA~1", "C:Data Files", "Data Files"},
          },
          {}};
}

TEST(LongPath, RootPrefixesAreKeptAsTyped) {
  struct Case {
    const char* source;
    const char* expanded;
  } cases[] = {
      {"C:\\PROGRA~1\\KESTRA", "C:\\Program Files\\Kestra"},
      {"c:\\progra~1\\kestra", "c:\\Program Files\\Kestra"},
      {"C:DATA~1", "C:Data Files"},
      {"\\\\SRV\\SHARE\\DIR~1", "\\\\SRV\\SHARE\\Directory One"},
      {"\\\\srv\\share\\DIR~1\\SUB~1", "\\\\srv\\share\\Directory One\\Sub Folder"},
      {"C:\\PROGRA~1\\KESTRA\\KESTRA32.EXE", "C:\\Program Files\\Kestra\\KESTRA32.EXE"},
      {"C:\\PROGRA~1\\KESTRA\\.", "C:\\Program Files\\Kestra\\"},  // a found "." adds nothing
  };
  for (const Case& c : cases) {
    FakeDisk disk = ProgramFiles();
    Expanded e = Expand(disk, c.source);
    EXPECT_EQ(e.text, c.expanded) << c.source;
    EXPECT_EQ(e.length, static_cast<int>(std::strlen(c.expanded))) << c.source;
  }
}

TEST(LongPath, EachComponentIsLookedUpWithItsShortPrefix) {
  FakeDisk disk = ProgramFiles();
  Expand(disk, "C:\\PROGRA~1\\KESTRA\\KESTRA32.EXE");
  EXPECT_EQ(disk.lookups, (std::vector<std::string>{"C:\\PROGRA~1", "C:\\PROGRA~1\\KESTRA",
                                                    "C:\\PROGRA~1\\KESTRA\\KESTRA32.EXE"}));

  disk.lookups.clear();
  Expand(disk, "\\\\SRV\\SHARE\\DIR~1\\SUB~1");
  EXPECT_EQ(disk.lookups,
            (std::vector<std::string>{"\\\\SRV\\SHARE\\DIR~1", "\\\\SRV\\SHARE\\DIR~1\\SUB~1"}));
}

TEST(LongPath, MissingComponentsAndTrailingSeparatorsFail) {
  for (const char* source : {"C:\\NOSUCH\\X", "C:\\PROGRA~1\\NOSUCH", "C:\\NOSUCH\\KESTRA",
                             "C:\\PROGRA~1\\KESTRA\\", "C:\\", "", "\\\\SRV", "\\\\SRV\\SHARE"}) {
    FakeDisk disk = ProgramFiles();
    EXPECT_EQ(Expand(disk, source).length, 0) << source;
  }
}

TEST(LongPath, WildcardsInTheLastComponentAreTakenLiterally) {
  FakeDisk disk = ProgramFiles();
  EXPECT_EQ(Expand(disk, "C:\\PROGRA~1\\KESTRA\\*.txt").text, "C:\\Program Files\\Kestra\\*.txt");
  EXPECT_EQ(Expand(disk, "C:\\PROGRA~1\\KESTR?").text, "C:\\Program Files\\KESTR?");
  EXPECT_EQ(disk.lookups,
            (std::vector<std::string>{"C:\\PROGRA~1", "C:\\PROGRA~1\\KESTRA", "C:\\PROGRA~1"}))
      << "a wildcard last component is never looked up";
  // In a middle component a wildcard finds the first match, whose name is used.
  EXPECT_EQ(Expand(disk, "C:\\PROG*\\KESTRA").text, "C:\\Program Files\\Kestra");
}

TEST(LongPath, ForwardSlashesAreOrdinaryCharacters) {
  FakeDisk disk = {{{"C:\\A/B", "C:\\A/B", "A/B long"}}, {}};
  EXPECT_EQ(Expand(disk, "C:\\A/B").text, "C:\\A/B long");
  EXPECT_EQ(disk.lookups, std::vector<std::string>{"C:\\A/B"});
}

// A folder whose long name makes the result exactly `resultLength` characters.
FakeDisk GrowingFolder(int resultLength) {
  std::string longName = std::string(resultLength - 12, 'L');  // C:\ + name + \FILE.TXT
  return {{{"C:\\LONG~1", "C:\\" + longName, longName},
           {"C:\\LONG~1\\FILE.TXT", "C:\\" + longName + "\\FILE.TXT", "FILE.TXT"}},
          {}};
}

TEST(LongPath, TheResultMayFillTheCapacityExactly) {
  for (int capacity : {261, 40}) {
    FakeDisk fits = GrowingFolder(capacity);
    Expanded e = Expand(fits, "C:\\LONG~1\\FILE.TXT", capacity);
    EXPECT_EQ(e.length, capacity);
    EXPECT_EQ(e.text.size(), static_cast<size_t>(capacity));

    FakeDisk tooLong = GrowingFolder(capacity + 1);
    EXPECT_EQ(Expand(tooLong, "C:\\LONG~1\\FILE.TXT", capacity).length, 0) << capacity;
  }
}

TEST(LongPath, EveryStepKeepsWithinTheCapacity) {
  FakeDisk disk = ProgramFiles();
  // "C:\Program Files\Kestra\KESTRA32.EXE" is 36 characters.
  EXPECT_EQ(Expand(disk, "C:\\PROGRA~1\\KESTRA\\KESTRA32.EXE", 36).length, 36);
  EXPECT_EQ(Expand(disk, "C:\\PROGRA~1\\KESTRA\\KESTRA32.EXE", 35).length, 0);
  // A directory's long name and its backslash must fit: "C:\Program Files\" is 17.
  EXPECT_EQ(Expand(disk, "C:\\PROGRA~1\\", 17).length, 0) << "ends in a separator";
  EXPECT_EQ(Expand(disk, "C:\\PROGRA~1\\*", 18).length, 18);
  EXPECT_EQ(Expand(disk, "C:\\PROGRA~1\\*", 16).length, 0);
  // A root that does not fit.
  EXPECT_EQ(Expand(disk, "\\\\SRV\\SHARE\\*", 11).length, 0);
  EXPECT_EQ(Expand(disk, "C:\\*", 2).length, 0);
}

// The short prefix being looked up counts against the capacity as well, even where its long
// form is shorter.
TEST(LongPath, TheLookedUpPrefixCountsAgainstTheCapacity) {
  FakeDisk disk = {
      {{"C:\\ABCDEFGHIJ", "C:\\ABCDEFGHIJ", "A"}, {"C:\\ABCDEFGHIJ\\K", "C:\\ABCDEFGHIJ\\K", "K"}},
      {}};
  EXPECT_EQ(Expand(disk, "C:\\ABCDEFGHIJ\\K", 15).length, 0);  // 3 + 13 > 15
  EXPECT_EQ(Expand(disk, "C:\\ABCDEFGHIJ\\K", 16).text, "C:\\A\\K");
}

TEST(LongPath, AShortPrefixLongerThanAPathIsRefused) {
  std::string source = "C:\\" + std::string(270, 'd') + "\\FILE";
  FakeDisk disk = {{{source.substr(0, 273), source.substr(0, 273), "d"}}, {}};
  EXPECT_EQ(Expand(disk, source, 400).length, 0);
  EXPECT_TRUE(disk.lookups.empty()) << "nothing cut is looked up";
}

}  // namespace
