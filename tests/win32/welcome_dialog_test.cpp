// The OK handler inside this process, on SETUP.EXE's own dialog template: the install path and
// folder that typed texts become. The distribution here has no setup.ks, so every accepted
// folder stops at "setup.ks is missing" before anything is created.
#include "setup/welcome_dialog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/setup_state.h"
#include "support/ui_robot.h"
#include "support/wine_env.h"

namespace {

const char* const kSideFiles[] = {"README.TXT",   "KESTRA.TXT",  "LICENSE.TXT", "VENDOR.TXT",
                                  "WHATSNEW.TXT", "FILE_ID.DIZ", "ORDER.TXT"};

class WelcomeDialogTest : public testing::Test {
 protected:
  void SetUp() override {
    setupExe_ = LoadLibraryExA(SetupExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(setupExe_, nullptr) << SetupExePath();
    setupState.instance = setupExe_;
    lstrcpyA(setupState.title, "Kestra Setup");
    lstrcpyA(setupState.suggestedFolder, "C:\\Kestra");
    lstrcpyA(setupState.sourceFolder, (source_.path() + "\\").c_str());
    for (const char* name : kSideFiles) WriteFileBytes(source_ / name, "side file");
    setupState.setupWriteTime = LastWriteTime(source_ / kSideFiles[0]);
    for (const char* name : kSideFiles) SetLastWriteTime(source_ / name, setupState.setupWriteTime);
    OpenDialog();
  }
  void TearDown() override {
    if (dialog_) DestroyWindow(dialog_);
    if (setupExe_) FreeLibrary(setupExe_);
  }
  void OpenDialog() {
    if (dialog_) DestroyWindow(dialog_);
    dialog_ = CreateDialogParamA(setupExe_, MAKEINTRESOURCEA(kWelcomeDialogTemplate), nullptr,
                                 WelcomeDialogProc, 0);
    ASSERT_NE(dialog_, nullptr);
  }

  // Types `text` and runs the OK handler; returns the texts of the boxes it showed.
  std::vector<std::string> Accept(const std::string& text) {
    SetDlgItemTextA(dialog_, kFolderItem, text.c_str());
    std::vector<MessageBoxInfo> boxes = AnswerOwnBoxesDuring(
        [&] { AcceptInstallFolder(dialog_); }, [](const MessageBoxInfo&) { return IDOK; });
    std::vector<std::string> texts;
    for (const MessageBoxInfo& box : boxes) texts.push_back(box.text);
    return texts;
  }

  TestFolder source_{"C:\\ks-welcome-source"};
  HMODULE setupExe_ = nullptr;
  HWND dialog_ = nullptr;
};

TEST_F(WelcomeDialogTest, TypedFoldersBecomeInstallPathAndFolder) {
  struct Case {
    const char* typed;
    const char* installPath;
    const char* installFolder;
  } cases[] = {
      {"C:", "C:\\", "C:\\"},
      {"C:\\", "C:", "C:\\"},
      {"D:\\Apps\\", "D:\\Apps", "D:\\Apps\\"},
      {"C:\\ks-welcome-target", "C:\\ks-welcome-target", "C:\\ks-welcome-target\\"},
      {"C:/ks-welcome-target/", "C:/ks-welcome-target/", "C:/ks-welcome-target/"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Accept(c.typed), std::vector<std::string>{"setup.ks is missing"}) << c.typed;
    EXPECT_STREQ(setupState.installPath, c.installPath) << c.typed;
    EXPECT_STREQ(setupState.installFolder, c.installFolder) << c.typed;
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog_, IDOK))) << "the dialog stays usable";
  }
  EXPECT_FALSE(PathExists("C:\\ks-welcome-target")) << "nothing is created before the checks pass";
}

// 7 side files of 9 bytes and an archive of 5056 bytes make 5119 bytes, 4 KB. A total that
// kept the previous attempt's 4 would reach 5 KB.
TEST_F(WelcomeDialogTest, TheProgressTotalIsCountedAfreshOnEveryOk) {
  WriteFileBytes(source_ / "setup.ks", std::string(5056, 'k'));
  // A folder below a file cannot be created: that fails only at the very end, after the total
  // is known.
  std::string folder = source_ / "README.TXT\\Kestra";
  for (int attempt = 0; attempt < 2; ++attempt) {
    EXPECT_EQ(Accept(folder).size(), 1u);
    EXPECT_EQ(setupState.totalBytes, 4u) << attempt;
  }
}

// Every missing level is created, and setup works in the folder itself, also at a drive's root.
// The stub library step then writes its file there and ends the dialog.
TEST_F(WelcomeDialogTest, AcceptedFoldersAreCreatedLevelByLevelAndEntered) {
  WriteFileBytes(source_ / "setup.ks", "archive");
  const std::string made = "C:\\ks-welcome-made";
  struct Case {
    std::string typed;
    std::string current;
  } cases[] = {
      {made + "\\Apps New\\Kestra", made + "\\Apps New\\Kestra"},
      {"C:/ks-welcome-made/one/two/", made + "\\one\\two"},
      {"C:\\", "C:\\"},
  };
  for (const Case& c : cases) {
    OpenDialog();
    SetCurrentDirectoryA(source_.path().c_str());
    EXPECT_TRUE(Accept(c.typed).empty()) << c.typed;
    char current[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, current);
    EXPECT_STREQ(current, c.current.c_str()) << c.typed;
    EXPECT_TRUE(PathExists(c.current + (c.current.back() == '\\' ? "" : "\\") + "KSSHLSTB.DLL"))
        << c.typed;
  }
  SetCurrentDirectoryA("C:\\");
  DeleteFileA("C:\\KSSHLSTB.DLL");
  RemoveTree(made);
}

}  // namespace
