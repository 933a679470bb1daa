// The text rules of the install folder: which typed folders are refused, how an accepted one is
// normalised, and which folder a ".zip" association names.
#include "setup/folder_rules.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(FolderRules, FormOfTheFolderText) {
  struct Case {
    const char* text;
    bool accepted;
  } cases[] = {
      {"C:", true},
      {"C:\\", true},
      {"D:\\Apps\\", true},
      {"C:/Kestra", true},
      {"C:\\Kestra\\..\\Other", true},
      {"c:relative", false},  // below the drive's current folder
      {"\\\\server\\share\\Kestra", true},
      {"//server/share", true},
      {"\\\\", false},  // the current drive's root
      {"//", false},
      {"C:\\Kestra ", false},  // made as C:\Kestra, addressed as C:\Kestra \...
      {"C:\\Kestra \\bin", false},
      {"C:\\Kestra.", false},
      {"Kestra", false},
      {"\\Kestra", false},
      {"/Kestra", false},
      {"\\/server", false},
      {"C", false},
      {":C", false},
      {"", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsAcceptableFolderText(c.text), c.accepted) << c.text;
}

// The install folder, with its separator, must leave room for a 12-character file name in a
// 260-character path buffer, so at most 247 characters.
TEST(FolderRules, LongFolderTextsLeaveRoomForAFileName) {
  const std::string drive = "C:\\";
  struct Case {
    std::string text;
    bool accepted;
  } cases[] = {
      {drive + std::string(243, 'x'), true},            // folder C:\xxx\ of 247
      {drive + std::string(244, 'x'), false},           // 248
      {drive + std::string(243, 'x') + "\\", true},     // the final backslash is replaced
      {drive + std::string(244, 'x') + "\\", false},    //
      {drive + std::string(243, 'x') + "/", true},      // a final slash stays and counts
      {drive + std::string(244, 'x') + "/", false},     //
      {drive + std::string(256, 'x'), false},           // the longest text the field takes
      {drive + std::string(400, 'x'), false},           // longer than any path buffer
      {"\\\\" + std::string(244, 's') + "\\k", false},  // UNC the same way
  };
  for (const Case& c : cases)
    EXPECT_EQ(IsAcceptableFolderText(c.text.c_str()), c.accepted) << c.text.size();
}

TEST(FolderRules, Normalisation) {
  struct Case {
    const char* text;
    const char* normalised;
  } cases[] = {
      {"C:", "C:\\"},
      {"C:\\", "C:"},
      {"D:\\Apps\\", "D:\\Apps"},
      {"D:\\Apps", "D:\\Apps"},
      {"D:\\Apps\\\\", "D:\\Apps\\"},  // only one backslash goes
      {"D:/Apps/", "D:/Apps/"},        // a slash stays
      {"\\\\server\\share\\", "\\\\server\\share"},
      {"//server/share", "//server/share"},
  };
  for (const Case& c : cases) {
    char text[16] = {};
    std::string(c.text).copy(text, sizeof text - 2);
    NormalizeFolderText(text);
    EXPECT_STREQ(text, c.normalised) << c.text;
  }
}

TEST(FolderRules, ProductFolderOfTheZipAssociation) {
  struct Case {
    const char* association;
    const char* folder;  // nullptr: the association does not name the product
  } cases[] = {
      {"C:\\PROGRA~1\\KESTRA\\KESTRA32.EXE ^.zip", "C:\\PROGRA~1\\KESTRA"},
      {"C:\\OLDKS\\kestra.exe ^.zip", "C:\\OLDKS"},
      {"C:/Tools/Kestra32.exe ^.zip", "C:/Tools"},
      {"C:\\Program Files\\Kestra\\KESTRA32.EXE ^.zip", "C:\\Program Files\\Kestra"},
      {"C:\\KESTRA\\KESTRA32.EXE", "C:\\KESTRA"},  // no pattern: nothing to cut
      {"\\KESTRA32.EXE ^.zip", ""},                // the root of the current drive
      {"C:\\UTIL\\UNPACK.EXE ^.zip", nullptr},
      {"C:\\UTIL\\KEST.EXE ^.zip", nullptr},  // shorter than "kestra"
      {"C:\\UTIL\\KESTR ^.zip", nullptr},
      {"KESTRA32.EXE ^.zip", nullptr},            // no folder at all
      {"C:\\Kestra\\UNPACK.EXE ^.zip", nullptr},  // only the program's name counts
      {"C:\\Kestra Tools\\KESTRA32.EXE", "C:"},   // cut at the blank: C:\Kestra
      {"", nullptr},
  };
  for (const Case& c : cases) {
    char folder[276] = "unchanged";
    bool found = AssociatedProductFolder(c.association, folder, sizeof folder);
    EXPECT_EQ(found, c.folder != nullptr) << c.association;
    if (c.folder) {
      EXPECT_STREQ(folder, c.folder) << c.association;
    }
  }
}

TEST(FolderRules, AnAssociatedFolderTooLongForTheSuggestionIsNotTaken) {
  std::string fits = "C:\\" + std::string(272, 'f');  // 275 characters
  std::string association = fits + "\\KESTRA32.EXE ^.zip";
  char folder[276];
  ASSERT_TRUE(AssociatedProductFolder(association.c_str(), folder, sizeof folder));
  EXPECT_EQ(folder, fits);

  association = fits + "f\\KESTRA32.EXE ^.zip";
  EXPECT_FALSE(AssociatedProductFolder(association.c_str(), folder, sizeof folder));
}

}  // namespace

// A log is a file: a path that names a device is never opened. The superscript is spelled in
// the file system's characters, here UTF-8.
TEST(FolderRules, PathsThatNameADevice) {
  struct Case {
    const char* path;
    bool device;
  } cases[] = {
      {"\\\\.\\COM1", true},
      {"\\\\.\\PIPE\\log", true},
      {"\\\\?\\C:\\setup.log", true},
      {"C:\\logs\\COM1", true},
      {"C:\\logs\\lpt1.log", true},
      {"C:\\logs\\PRN", true},
      {"C:\\logs\\nul.txt", true},
      {"C:\\logs\\COM\xC2\xB9.log", true},
      {"C:\\logs\\setup.log:stream", true},
      {"C:\\logs\\", true},
      {"C:\\logs\\setup.log", false},
      {"C:\\COM1\\setup.log", false},
      {"\\\\server\\share\\setup.log", false},
      {"C:\\logs\\com10.log", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsDevicePath(c.path), c.device) << c.path;
}
