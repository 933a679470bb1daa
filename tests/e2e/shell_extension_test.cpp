// SETUP.EXE and the shell extension of an earlier version: a File Manager that will not let its
// Kestra extension go stops setup before anything is written, one that lets it go does not, and
// the old shell-extension registry keys are gone before the product starts.
#include <gtest/gtest.h>

#include <string>

#include "resources/catalogue.h"
#include "shellext/shell_extension_keys.h"
#include "support/distribution.h"
#include "support/file_manager.h"
#include "support/registry_keys.h"
#include "support/ui_robot.h"
#include "support/wine_env.h"

namespace {

const std::string kInstall = kDefaultInstallFolder;

class ShellExtensionTest : public testing::Test {
 protected:
  ShellExtensionTest() {
    dist_.AddSideFiles();
    dist_.SetArchive(EmptyArchive());
  }

  void PlaceProduct() { dist_.SetProductArchive(); }

  FolderCleanup installFolder_{kInstall};
  Distribution dist_{"C:\\ks-shellext"};
  TestFolder oldProduct_{"C:\\ks-shellext-old"};
  std::string library_ = oldProduct_ / "KSFMEXT.DLL";
  FileManagerRegistration registration_;
};

TEST_F(ShellExtensionTest, AFileManagerHoldingTheExtensionStopsSetupBeforeAnythingIsWritten) {
  WriteFileBytes(library_, "MZ extension");
  registration_.Set(library_);
  FakeFileManager fileManager("never", library_);
  ASSERT_TRUE(fileManager.running());

  bool screenshotTaken = false;
  SetupRunResult run = RunSetupExe(dist_.SetupExe(), "", [&](const MessageBoxInfo& box) {
    if (!screenshotTaken) screenshotTaken = SaveScreenshot(CurrentTestName());
    return box.buttons.front();
  });

  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].text,
            "The Kestra installation procedure can not close the \"Kestra File Manager "
            "Extension\" from your existing version of Kestra.\n\nTo install this new version "
            "of Kestra, please\n\n1) Close the File Manager, or, if you are running a \"shell\" "
            "like Norton Desktop, exit and restart Windows, then\n\n2) Run the Kestra "
            "installation procedure again");
  EXPECT_EQ(run.boxes[0].caption, "Kestra Setup");
  EXPECT_EQ(run.boxes[0].icon, BoxIcon::kError);
  EXPECT_EQ(run.boxes[0].buttons, std::vector<int>{IDOK});
  EXPECT_EQ(run.exitCode, 0u);
  EXPECT_TRUE(screenshotTaken);
  EXPECT_FALSE(PathExists(kInstall)) << "nothing is written into the install folder";
  EXPECT_EQ(registration_.Current(), library_) << "the registration is back";
  EXPECT_EQ(fileManager.Title(), "reload 1: 0 0");
}

TEST_F(ShellExtensionTest, AFileManagerThatLetsTheExtensionGoKeepsSetupGoing) {
  WriteFileBytes(library_, "MZ extension");
  registration_.Set(library_);
  FakeFileManager fileManager("release", library_);
  ASSERT_TRUE(fileManager.running());
  PlaceProduct();

  SetupRunResult run = RunSetupExe(dist_.SetupExe(), "");
  EXPECT_TRUE(run.boxes.empty()) << run.boxes[0].text;
  EXPECT_NE(ProductLog(kInstall), "") << "the product was started";
  EXPECT_EQ(registration_.Current(), FileManagerRegistration::kAbsent);
}

TEST_F(ShellExtensionTest, OldShellExtensionKeysAreGoneBeforeTheProductStarts) {
  CreatedKeys keys;
  RegisterShellExtension(keys);
  const std::string neighbour = "Directory\\shellex\\DragDropHandlers\\Other Archiver";
  keys.Add(neighbour, "someone else's");
  PlaceProduct();

  SetupRunResult run = RunSetupExe(dist_.SetupExe(), "");
  EXPECT_TRUE(run.boxes.empty());
  std::string log = ProductLog(kInstall);
  EXPECT_NE(log.find("shell extension: not registered\r\n"), std::string::npos) << log;
  for (const char* classId : kShellExtensionClassIds) EXPECT_FALSE(KeyExists(ClassKey(classId)));
  for (const char* handler : kShellExtensionHandlerKeys) EXPECT_FALSE(KeyExists(handler));
  EXPECT_EQ(ValueText(neighbour, nullptr), "someone else's");
}

}  // namespace
