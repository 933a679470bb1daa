// Unloading the File Manager extension, against Wine's profile files and a stand-in File
// Manager in its own process: what is left registered, what the File Manager is sent, how long
// setup waits and what the user is told.
#include "shellext/fm_extension.h"

#include <gtest/gtest.h>

#include <string>

#include "common/setup_state.h"
#include "resources/catalogue.h"
#include "support/file_manager.h"
#include "support/ui_robot.h"
#include "support/wine_env.h"
#include "win32/own_resources.h"

namespace {

const std::string kComposedText = std::string(MSG_TEXT_1044 + 1) + MSG_TEXT_1045;

struct UnloadRun {
  bool result;
  DWORD milliseconds;
  std::vector<MessageBoxInfo> boxes;
};

class FmExtensionTest : public testing::Test {
 protected:
  void SetUp() override { WriteFileBytes(library_, "MZ extension"); }

  UnloadRun Unload() {
    UnloadRun run = {};
    run.boxes = AnswerOwnBoxesDuring(
        [&] {
          DWORD start = GetTickCount();
          run.result = UnloadFileManagerExtension();
          run.milliseconds = GetTickCount() - start;
        },
        [](const MessageBoxInfo&) { return IDOK; });
    return run;
  }

  SetupExeResources setupExe_;  // the message texts come from SETUP.EXE itself
  FileManagerRegistration registration_;
  TestFolder folder_{"C:\\ks-fm-extension"};
  std::string library_ = folder_ / "KSFMEXT.DLL";
};

TEST_F(FmExtensionTest, WithoutARegistrationNothingIsSentOrChanged) {
  registration_.Remove();
  std::string profileBefore = ReadFileBytes(registration_.profilePath());
  FakeFileManager fileManager("release", library_);
  ASSERT_TRUE(fileManager.running());

  UnloadRun run = Unload();
  EXPECT_TRUE(run.result);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_LT(run.milliseconds, 500u);
  Sleep(200);
  EXPECT_EQ(fileManager.Title(), "File Manager") << "no reload request";
  EXPECT_EQ(ReadFileBytes(registration_.profilePath()), profileBefore);
}

TEST_F(FmExtensionTest, WithoutAFileManagerTheRegistrationStays) {
  registration_.Set(library_);
  ExclusiveHold held(library_);  // would make any wait run out
  ASSERT_EQ(FindWindowA("WFS_Frame", nullptr), nullptr);

  UnloadRun run = Unload();
  EXPECT_TRUE(run.result);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_LT(run.milliseconds, 500u);
  EXPECT_EQ(registration_.Current(), library_);
}

TEST_F(FmExtensionTest, AFileManagerThatReleasesTheLibraryInTimeLetsSetupGoOn) {
  struct Case {
    const char* mode;
    DWORD releasedAfter;
  } cases[] = {{"release", 0}, {"900", 900}, {"1700", 1700}};
  for (const Case& c : cases) {
    registration_.Set(library_);
    FakeFileManager fileManager(c.mode, library_);
    ASSERT_TRUE(fileManager.running());
    ASSERT_FALSE(ExclusiveHold(library_).held()) << "the File Manager holds the library";

    UnloadRun run = Unload();
    EXPECT_TRUE(run.result) << c.mode;
    EXPECT_TRUE(run.boxes.empty()) << c.mode;
    EXPECT_GE(run.milliseconds + 50, c.releasedAfter) << c.mode;
    EXPECT_LT(run.milliseconds, 2000u) << c.mode;
    EXPECT_EQ(registration_.Current(), FileManagerRegistration::kAbsent) << c.mode;
    EXPECT_EQ(fileManager.Title(), "reload 1: 0 0") << "message 1543, both parameters 0";
  }
}

TEST_F(FmExtensionTest, ALibraryThatStaysBusyStopsSetupAfterTwoSeconds) {
  struct Case {
    const char* what;
    const char* mode;
    std::string registered;
  } cases[] = {
      {"never released", "never", library_},
      {"registered path missing", "release", folder_ / "MISSING.DLL"},
  };
  for (const Case& c : cases) {
    registration_.Set(c.registered);
    FakeFileManager fileManager(c.mode, library_);
    ASSERT_TRUE(fileManager.running());

    UnloadRun run = Unload();
    EXPECT_FALSE(run.result) << c.what;
    EXPECT_GE(run.milliseconds, 1950u) << c.what;
    EXPECT_LT(run.milliseconds, 4000u) << c.what;
    ASSERT_EQ(run.boxes.size(), 1u) << c.what;
    EXPECT_EQ(run.boxes[0].text, kComposedText);
    EXPECT_EQ(run.boxes[0].caption, "Kestra Setup");
    EXPECT_EQ(run.boxes[0].icon, BoxIcon::kError);
    EXPECT_EQ(run.boxes[0].buttons, std::vector<int>{IDOK});
    EXPECT_EQ(run.boxes[0].owner, nullptr);
    // Nothing is left changed that the File Manager did not act on.
    EXPECT_EQ(registration_.Current(), c.registered) << "the registration is back";
    EXPECT_EQ(fileManager.Title(), "reload 1: 0 0") << "asked once";
  }
}

}  // namespace
