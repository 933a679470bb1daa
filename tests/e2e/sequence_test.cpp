// SETUP.EXE from start to the launch of the product, driven as a user would: the Windows
// version check, a running copy of the product, the -argv0 command line and the switches before
// it, the main executable's final name and the launch.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "resources/catalogue.h"
#include "support/distribution.h"
#include "support/ui_robot.h"
#include "support/wine_env.h"

namespace {

const std::string kInstall = kDefaultInstallFolder;

class SequenceTest : public testing::Test {
 protected:
  SequenceTest() {
    dist_.AddSideFiles();
    dist_.SetArchive(EmptyArchive());
  }

  // setup.ks carries the product; the install folder exists beforehand.
  void PlaceProduct(const std::string& product = "") {
    ASSERT_TRUE(CreateDirectoryA(kInstall.c_str(), nullptr));
    dist_.SetProductArchive(product);
  }

  FolderCleanup installFolder_{kInstall};
  Distribution dist_{"C:\\ks-sequence"};
};

std::string Expand(const char* format, const std::string& value) {
  std::string text = format;
  text.replace(text.find("%s"), 2, value);
  return text;
}

TEST_F(SequenceTest, RefusesWin32sAndNt3) {
  for (const char* version : {"win31", "nt351"}) {
    WindowsVersionScope scope(version);
    SetupRunResult run = RunSetupExe(dist_.SetupExe(), "");
    ASSERT_EQ(run.boxes.size(), 1u) << version;
    EXPECT_EQ(run.boxes[0].text, MSG_TEXT_1052);
    EXPECT_EQ(run.boxes[0].caption, "Kestra Setup");
    EXPECT_EQ(run.boxes[0].icon, BoxIcon::kError);
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(PathExists(kInstall)) << "nothing is written";
  }
}

TEST_F(SequenceTest, AcceptsWindows95Nt4AndLater) {
  for (const char* version : {"win95", "nt40", "win10"}) {
    RemoveTree(kInstall);
    PlaceProduct();
    WindowsVersionScope scope(version);
    SetupRunResult run = RunSetupExe(dist_.SetupExe(), "");
    EXPECT_TRUE(run.boxes.empty()) << version << ": " << run.boxes[0].text;
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_NE(ProductLog(kInstall), "") << version << ": the product was started";
  }
}

TEST_F(SequenceTest, WaitsForARunningCopyOfTheProduct) {
  for (const char* windowClass : {"KestraWClass", "Kestra2WClass"}) {
    RemoveTree(kInstall);
    auto product =
        std::make_unique<ChildProcess>(FixturePath("product_window.exe") + " " + windowClass);
    ASSERT_TRUE(WaitUntil([&] { return FindWindowA(windowClass, nullptr) != nullptr; }, 10000));

    // Cancel ends setup with nothing written.
    bool screenshotTaken = false;
    SetupRunResult cancelled = RunSetupExe(dist_.SetupExe(), "", [&](const MessageBoxInfo& box) {
      if (!screenshotTaken) screenshotTaken = SaveScreenshot(CurrentTestName());
      return box.buttons.back();
    });
    ASSERT_EQ(cancelled.boxes.size(), 1u);
    EXPECT_EQ(cancelled.boxes[0].text, MSG_TEXT_1025);
    EXPECT_EQ(cancelled.boxes[0].caption, "Kestra Setup");
    EXPECT_EQ(cancelled.boxes[0].icon, BoxIcon::kError);
    EXPECT_EQ(cancelled.boxes[0].buttons, (std::vector<int>{IDRETRY, IDCANCEL}));
    EXPECT_TRUE(screenshotTaken);
    EXPECT_FALSE(PathExists(kInstall));

    // Retry while the window is open asks again; after it has closed, setup goes on.
    PlaceProduct();
    int asked = 0;
    SetupRunResult retried = RunSetupExe(dist_.SetupExe(), "", [&](const MessageBoxInfo&) {
      if (++asked == 2) {
        PostMessageA(FindWindowA(windowClass, nullptr), WM_CLOSE, 0, 0);
        product->Wait(5000);
      }
      return IDRETRY;
    });
    EXPECT_EQ(retried.boxes.size(), 2u);
    EXPECT_NE(ProductLog(kInstall), "");
  }
}

TEST_F(SequenceTest, PassesTheArgv0PathToTheProduct) {
  struct Case {
    std::string tail;
    std::string expectedEnd;
  } cases[] = {
      {" -ARGV0   C:\\Temp\\pkg.exe", "/installS /f:\"C:\\Temp\\pkg.exe\""},
      {" -argv0 D:\\download\\package name.exe", "/installS /f:\"D:\\download\\package name.exe\""},
      {"", "/installS /f:\"\""},
      {" C:\\x.exe -argv0 C:\\y.exe", "/installS /f:\"\""},  // not read, as it never was
      // A quoted path loses its quotes, not its blanks.
      {" -argv0 \"C:\\My Downloads\\kestra 8.exe\"",
       "/installS /f:\"C:\\My Downloads\\kestra 8.exe\""},
      {" -argv0 \"C:\\Temp\\pkg.exe\"   ", "/installS /f:\"C:\\Temp\\pkg.exe\""},
  };
  for (const Case& c : cases) {
    RemoveTree(kInstall);
    PlaceProduct();
    SetupRunResult run = RunSetupExe(dist_.SetupExe(), c.tail);
    EXPECT_TRUE(run.boxes.empty());
    std::string log = ProductLog(kInstall);
    std::string command = log.substr(0, log.find("\r\n"));
    EXPECT_EQ(command, "command: \"" + kInstall + "\\KESTRA32.EXE\" " + c.expectedEnd) << c.tail;
    EXPECT_NE(log.find("current: " + kInstall + "\r\n"), std::string::npos) << log;
  }
}

// /? and a switch that is not understood show the box that lists the switches and install
// nothing; /D is the folder the dialog proposes and /LOG gets each step and each box's text. An
// interactive run ends with 0 whatever happens.
TEST_F(SequenceTest, TheSwitchesOfAnInteractiveRun) {
  const std::string folder = "C:\\ks sequence d\\Kestra";
  FolderCleanup folderRoot("C:\\ks sequence d");
  const std::string log = dist_ / "setup.log";
  for (const char* tail : {" /?", " /silent -argv0 C:\\pkg.exe"}) {
    SetupRunResult run = RunSetupExe(dist_.SetupExe(), tail);
    ASSERT_EQ(run.boxes.size(), 1u) << tail;
    EXPECT_EQ(run.boxes[0].text, MSG_TEXT_1060);
    EXPECT_EQ(run.boxes[0].caption, "Kestra Setup");
    EXPECT_EQ(run.boxes[0].icon, BoxIcon::kInformation);
    EXPECT_EQ(run.boxes[0].buttons, std::vector<int>{IDOK});
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_FALSE(PathExists(kInstall)) << tail;
  }

  std::string proposed;
  dist_.SetProductArchive();
  SetupRunResult run =
      RunSetupExe(dist_.SetupExe(), " \"/D=" + folder + "\" /LOG=" + log + " -argv0 C:\\pkg.exe",
                  PressFirstButton, 60000, [&](HWND dialog, int attempt) {
                    if (attempt == 0) proposed = ControlText(GetDlgItem(dialog, 101));
                    SetControlText(dialog, 101, attempt == 0 ? "Kestra" : proposed);
                    ClickButton(dialog, IDOK);
                  });
  EXPECT_EQ(proposed, folder);
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].text, MSG_TEXT_1024);
  EXPECT_EQ(run.exitCode, 0u);
  std::string product = ProductLog(folder);
  EXPECT_EQ(product.substr(0, product.find("\r\n")),
            "command: \"" + folder + "\\KESTRA32.EXE\" /installS /f:\"C:\\pkg.exe\"");
  std::string written = ReadFileBytes(log);
  for (const std::string& entry : std::vector<std::string>{
           "  Install folder proposed: " + folder + "\r\n", "  message 1024: " MSG_TEXT_1024 "\r\n",
           "  Product started: \"" + folder + "\\KESTRA32.EXE\"",
           "  Setup has ended, exit code 0\r\n"})
    EXPECT_NE(written.find(entry), std::string::npos) << entry << " in\n" << written;
}

TEST_F(SequenceTest, GivesTheMainExecutableItsFinalName) {
  PlaceProduct();
  WriteFileBytes(kInstall + "\\KESTRA32.EXE", "an older version");
  SetupRunResult run = RunSetupExe(dist_.SetupExe(), "");
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_FALSE(PathExists(kInstall + "\\KESTRA32.EX_"));
  EXPECT_EQ(ReadFileBytes(kInstall + "\\KESTRA32.EXE"), ReadFileBytes(FixturePath("KESTRA32.EXE")));
  EXPECT_NE(ProductLog(kInstall), "");
}

// The old KESTRA32.EXE goes only once its successor is there: held open, it stays and the new
// one is removed; without KESTRA32.EX_ in the archive, it stays and the missing file is named.
TEST_F(SequenceTest, AMainExecutableThatCannotBeReplacedStopsSetup) {
  struct Case {
    const char* what;
    bool held;
    std::string message;
  } cases[] = {
      {"held open", true, Expand(MSG_TEXT_1018, kInstall + "\\KESTRA32.EXE")},
      {"no KESTRA32.EX_", false, Expand(MSG_TEXT_1013, "KESTRA32.EX_")},
  };
  for (const Case& c : cases) {
    RemoveTree(kInstall);
    PlaceProduct();
    if (!c.held) dist_.SetArchive(EmptyArchive());
    WriteFileBytes(kInstall + "\\KESTRA32.EXE", "an older version");
    std::unique_ptr<ExclusiveHold> held;
    if (c.held) held = std::make_unique<ExclusiveHold>(kInstall + "\\KESTRA32.EXE");
    SetupRunResult run = RunSetupExe(dist_.SetupExe(), "");
    ASSERT_EQ(run.boxes.size(), 2u) << c.what;
    EXPECT_EQ(run.boxes[0].text, c.message);
    EXPECT_EQ(run.boxes[0].icon, BoxIcon::kError);
    EXPECT_EQ(run.boxes[1].text, MSG_TEXT_1006);
    EXPECT_EQ(run.boxes[1].icon, BoxIcon::kInformation);
    EXPECT_EQ(run.exitCode, 0u);
    held.reset();
    Sleep(1000);
    EXPECT_EQ(ReadFileBytes(kInstall + "\\kestra32.log"), "") << "the product is not started";
    EXPECT_FALSE(PathExists(kInstall + "\\KESTRA32.EX_")) << c.what;
    EXPECT_EQ(ReadFileBytes(kInstall + "\\KESTRA32.EXE"), "an older version") << c.what;
  }
}

// Neither form of the launch starts a KESTRA32.EXE from outside the install folder, such as
// one planted beside SETUP.EXE in a download folder.
TEST_F(SequenceTest, AProductThatCannotStartIsReported) {
  PlaceProduct("not a program");
  CopyFileOrFail(FixturePath("KESTRA32.EXE"), dist_ / "KESTRA32.EXE");
  SetupRunResult run = RunSetupExe(dist_.SetupExe(), "");
  Sleep(1000);
  EXPECT_FALSE(PathExists(dist_ / "kestra32.log")) << "the planted program ran";
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].text, "Error running " + kInstall + "\\KESTRA32.EXE");
  EXPECT_EQ(run.boxes[0].caption, "Error");
  EXPECT_EQ(run.boxes[0].icon, BoxIcon::kNone);
  EXPECT_EQ(run.boxes[0].buttons, std::vector<int>{IDOK});
}

}  // namespace
