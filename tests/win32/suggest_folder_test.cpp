// The suggested install folder from Wine's registry and WIN.INI: the Program Files value, a
// 16-bit product in the way, and the ".zip" association in its various forms. Every value
// changed here is put back afterwards.
#include "setup/suggest_folder.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "common/setup_state.h"
#include "support/wine_env.h"

namespace {

const char kCurrentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";
const std::string kRoot = "C:\\ks-suggest";

class SuggestFolderTest : public testing::Test {
 protected:
  SuggestFolderTest() {
    CreateDirectoryA(programFiles_.c_str(), nullptr);
    CreateDirectoryA((programFiles_ + "\\Kestra").c_str(), nullptr);
  }

  // Runs the suggestion as setup does at start, from its initial text.
  static std::string Suggest(const std::optional<std::string>& programFiles,
                             const std::optional<std::string>& association) {
    RegistryValueScope value(HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesDir", programFiles);
    ProfileValueScope zip("extensions", "zip", association);
    lstrcpyA(setupState.suggestedFolder, "C:\\Kestra");
    SuggestInstallFolder();
    return setupState.suggestedFolder;
  }

  // A program file in a new folder under the test root; returns the folder.
  std::string Install(const std::string& folder, const std::string& program) {
    std::string path = kRoot + "\\" + folder;
    CreateDirectoryA(path.c_str(), nullptr);
    WriteFileBytes(path + "\\" + program, "program");
    return path;
  }

  TestFolder root_{kRoot};
  std::string programFiles_ = kRoot + "\\Program Files";
};

TEST_F(SuggestFolderTest, ProgramFilesOrTheDefault) {
  EXPECT_EQ(Suggest(std::nullopt, std::nullopt), "C:\\Kestra");
  EXPECT_EQ(Suggest("C:\\Program Files", std::nullopt), "C:\\Program Files\\Kestra");
  EXPECT_EQ(Suggest(programFiles_, ""), programFiles_ + "\\Kestra");
}

TEST_F(SuggestFolderTest, AFolderWithThe16BitProductGetsASuffix) {
  WriteFileBytes(programFiles_ + "\\Kestra\\kestra.exe", "16-bit");
  EXPECT_EQ(Suggest(programFiles_, std::nullopt), programFiles_ + "\\Kestra32");
}

TEST_F(SuggestFolderTest, AnAssociatedProductFolderIsTakenInItsLongForm) {
  std::string installed = Install("Long Install Folder", "KESTRA32.EXE");
  std::string shortProgram = ShortPath(installed + "\\KESTRA32.EXE");
  ASSERT_EQ(shortProgram.find("Long Install Folder"), std::string::npos) << shortProgram;
  EXPECT_EQ(Suggest(programFiles_, shortProgram + " ^.zip"), installed);
  EXPECT_EQ(Suggest(std::nullopt, shortProgram + " ^.zip"), installed);
}

TEST_F(SuggestFolderTest, AnAssociationWithAnotherProgramHasNoEffect) {
  std::string other = Install("Util", "UNPACK.EXE");
  // A Program Files value in its short form shows whether the suggestion was expanded.
  std::string shortProgramFiles = ShortPath(programFiles_);
  EXPECT_EQ(Suggest(shortProgramFiles, ShortPath(other + "\\UNPACK.EXE") + " ^.zip"),
            shortProgramFiles + "\\Kestra");
  EXPECT_EQ(Suggest(shortProgramFiles, "KESTRA32.EXE ^.zip"), shortProgramFiles + "\\Kestra")
      << "a program without a folder";
}

TEST_F(SuggestFolderTest, AnAssociationWithThe16BitProductKeepsTheSuggestionButExpandsIt) {
  std::string old = Install("Old Kestra", "KESTRA.EXE");
  std::string shortProgramFiles = ShortPath(programFiles_);
  EXPECT_EQ(Suggest(shortProgramFiles, ShortPath(old + "\\KESTRA.EXE") + " ^.zip"),
            programFiles_ + "\\Kestra");
}

TEST_F(SuggestFolderTest, AnAssociatedFolderThatIsGoneIsTakenAsItStands) {
  EXPECT_EQ(Suggest(programFiles_, kRoot + "\\GONE~1\\KESTRA32.EXE ^.zip"), kRoot + "\\GONE~1");
}

TEST_F(SuggestFolderTest, Has16BitProductLooksForKestraExe) {
  std::string old = Install("Old", "kestra.exe");
  EXPECT_TRUE(Has16BitProduct(old.c_str()));
  EXPECT_TRUE(Has16BitProduct((old + "\\").c_str()));
  EXPECT_TRUE(Has16BitProduct((kRoot + "\\OLD").c_str())) << "in any case";
  EXPECT_FALSE(Has16BitProduct(programFiles_.c_str()));
  EXPECT_FALSE(Has16BitProduct((kRoot + "\\" + std::string(260, 'x')).c_str()));
}

}  // namespace
