// The message routines on Windows: the catalogue as SETUP.EXE carries it, composed texts in
// their rotating buffers, the internal-error boxes, formatted boxes, the copy results, and every
// kind of box in a quiet run, where it becomes a line of the log.
#include "ui/messages.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "common/setup_state.h"
#include "resources/catalogue.h"
#include "support/ui_robot.h"
#include "support/wine_env.h"

namespace {

// Resources of SETUP.EXE itself, or of this test program (its test texts).
class MessagesTest : public testing::Test {
 protected:
  void SetUp() override {
    setupExe_ = LoadLibraryExA(SetupExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(setupExe_, nullptr) << SetupExePath();
    UseSetupExeTexts();
    lstrcpyA(setupState.title, "Kestra Setup");
    setupState.quiet = false;
    setupState.logFile[0] = '\0';
  }
  void TearDown() override {
    if (setupExe_) FreeLibrary(setupExe_);
  }
  void UseSetupExeTexts() { setupState.instance = setupExe_; }
  void UseTestTexts() { setupState.instance = GetModuleHandleA(nullptr); }

  HMODULE setupExe_ = nullptr;
};

int PressOk(const MessageBoxInfo&) {
  return IDOK;
}

struct CatalogueText {
  UINT id;
  const char* text;
};

const CatalogueText kCatalogue[] = {
    {1004, MSG_TEXT_1004}, {1005, MSG_TEXT_1005}, {1006, MSG_TEXT_1006}, {1013, MSG_TEXT_1013},
    {1016, MSG_TEXT_1016}, {1017, MSG_TEXT_1017}, {1018, MSG_TEXT_1018}, {1019, MSG_TEXT_1019},
    {1021, MSG_TEXT_1021}, {1023, MSG_TEXT_1023}, {1024, MSG_TEXT_1024}, {1025, MSG_TEXT_1025},
    {1029, MSG_TEXT_1029}, {1030, MSG_TEXT_1030}, {1031, MSG_TEXT_1031}, {1032, MSG_TEXT_1032},
    {1033, MSG_TEXT_1033}, {1034, MSG_TEXT_1034}, {1035, MSG_TEXT_1035}, {1036, MSG_TEXT_1036},
    {1037, MSG_TEXT_1037}, {1039, MSG_TEXT_1039}, {1040, MSG_TEXT_1040}, {1041, MSG_TEXT_1041},
    {1042, MSG_TEXT_1042}, {1044, MSG_TEXT_1044}, {1045, MSG_TEXT_1045}, {1046, MSG_TEXT_1046},
    {1047, MSG_TEXT_1047}, {1048, MSG_TEXT_1048}, {1049, MSG_TEXT_1049}, {1050, MSG_TEXT_1050},
    {1051, MSG_TEXT_1051}, {1052, MSG_TEXT_1052}, {1053, MSG_TEXT_1053}, {1054, MSG_TEXT_1054},
    {1060, MSG_TEXT_1060},
};

TEST_F(MessagesTest, SetupExeCarriesTheCatalogueInUsEnglish) {
  for (const CatalogueText& entry : kCatalogue) {
    HRSRC block = FindResourceExA(setupExe_, RT_STRING, MAKEINTRESOURCEA(entry.id / 16 + 1),
                                  MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US));
    EXPECT_NE(block, nullptr) << entry.id;
    char text[1100] = "";
    LoadStringA(setupExe_, entry.id, text, sizeof text);
    EXPECT_STREQ(text, entry.text) << entry.id;
  }
  char none[10] = "";
  for (UINT unused : {1003u, 1015u, 1027u, 1043u})
    EXPECT_EQ(LoadStringA(setupExe_, unused, none, 10), 0);
}

TEST_F(MessagesTest, ComposedTextsRotateThroughThreeBuffers) {
  const char* first = ComposeMessage(1039);
  EXPECT_EQ(lstrlenA(first), 402);
  const char* second = ComposeMessage(1044);
  const char* third = ComposeMessage(1052);
  std::string secondText = second, thirdText = third;
  const char* fourth = ComposeMessage(1046);
  EXPECT_EQ(fourth, first) << "the fourth call reuses the first buffer";
  EXPECT_EQ(fourth[0], '\n');
  EXPECT_EQ(std::string(second), secondText);
  EXPECT_EQ(std::string(third), thirdText);
  EXPECT_EQ(std::string(second), std::string(MSG_TEXT_1044 + 1) + MSG_TEXT_1045);
}

TEST_F(MessagesTest, CompositionFailuresShowAnUntitledErrorBox) {
  struct Case {
    UINT id;
    bool testTexts;
    const char* box;
    const char* returned;
  } cases[] = {
      {1043, false, "Internal error: string resource not found: 1043", ""},
      {2000, true, "Internal error: string resource not found: 2002", "first piece second piece "},
      {2020, true, "Internal error: string resource too long: 2021", nullptr},
  };
  for (const Case& c : cases) {
    if (c.testTexts) {
      UseTestTexts();
    } else {
      UseSetupExeTexts();
    }
    std::string returned;
    auto boxes = AnswerOwnBoxesDuring([&] { returned = ComposeMessage(c.id); }, PressOk);
    ASSERT_EQ(boxes.size(), 1u) << c.id;
    EXPECT_EQ(boxes[0].text, c.box);
    EXPECT_EQ(boxes[0].caption, "Error") << "no caption: the platform's default";
    EXPECT_EQ(boxes[0].icon, BoxIcon::kError);
    EXPECT_EQ(boxes[0].buttons, std::vector<int>{IDOK});
    EXPECT_EQ(returned, c.returned ? c.returned : std::string(300, 'a'));
  }
  UseTestTexts();
  std::string exact;
  auto none = AnswerOwnBoxesDuring([&] { exact = ComposeMessage(2010); }, PressOk);
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(exact, std::string(300, 'a') + std::string(212, 'b'));
}

TEST_F(MessagesTest, TitleIsCutToTwentyEightCharacters) {
  UseTestTexts();
  LoadSetupTitle();
  EXPECT_STREQ(setupState.title, "Kestra Setup for the Twentie");
  UseSetupExeTexts();
  LoadSetupTitle();
  EXPECT_STREQ(setupState.title, "Kestra Setup");
}

TEST_F(MessagesTest, ShowMessageFillsTheTextWithoutCuttingIt) {
  std::string folder = "C:\\" + std::string(250, 'F');
  int button = 0;
  auto boxes = AnswerOwnBoxesDuring(
      [&] { button = ShowMessage(nullptr, 1051, MB_YESNO | MB_ICONQUESTION, folder.c_str()); },
      [](const MessageBoxInfo&) { return IDNO; });
  ASSERT_EQ(boxes.size(), 1u);
  std::string expected = MSG_TEXT_1051;
  expected.replace(expected.find("%s"), 2, folder);
  EXPECT_GT(expected.size(), 516u);
  EXPECT_EQ(boxes[0].text, expected);
  EXPECT_EQ(boxes[0].caption, "Kestra Setup");
  EXPECT_EQ(boxes[0].icon, BoxIcon::kQuestion);
  EXPECT_EQ(boxes[0].buttons, (std::vector<int>{IDYES, IDNO}));
  EXPECT_EQ(button, IDNO);
}

TEST_F(MessagesTest, CopyResultsNameTheRightPath) {
  struct Case {
    UINT code;
    const char* box;  // nullptr: no box, result true
  } cases[] = {
      {0, nullptr},
      {1017, "Cannot open C:\\src\\README.TXT for writing"},
      {1018, "Cannot open C:\\dst\\README.TXT for writing"},
      {1019, "Error writing to C:\\dst\\README.TXT"},
  };
  for (const Case& c : cases) {
    bool result = true;
    auto boxes = AnswerOwnBoxesDuring(
        [&] { result = ReportCopyResult(c.code, "C:\\src\\README.TXT", "C:\\dst\\README.TXT"); },
        PressOk);
    EXPECT_EQ(result, c.box == nullptr) << c.code;
    if (!c.box) {
      EXPECT_TRUE(boxes.empty());
      continue;
    }
    ASSERT_EQ(boxes.size(), 1u) << c.code;
    EXPECT_EQ(boxes[0].text, c.box);
    EXPECT_EQ(boxes[0].caption, "Kestra Setup");
    EXPECT_EQ(boxes[0].icon, BoxIcon::kError);
  }
}

// No box opens: the text goes to the log with its id (none for a text outside the catalogue),
// each further line of it indented on a line of its own; a question gets the answer that changes
// nothing, and the exit code is the one the first message that stops the run stands for (a
// side file that cannot be written is a copy failure, whichever message names it).
TEST_F(MessagesTest, AQuietRunLogsEveryBoxInsteadOfShowingIt) {
  TestFolder folder("C:\\ks-messages-quiet");
  const std::string log = folder / "setup.log";
  setupState.quiet = true;
  lstrcpyA(setupState.logFile, log.c_str());
  struct Case {
    std::function<int()> show;
    int answer;
    std::string logged;
    int exitCode;
  } cases[] = {
      {[] { return ShowMessage(nullptr, 1025, MB_RETRYCANCEL | MB_ICONERROR); }, IDCANCEL,
       "message 1025: Setup cannot install Kestra now because another version of Kestra is "
       "running.  You can either\r\n\t\r\n\t1)",
       2},
      {[] { return int(ReportCopyResult(1018, "C:\\src\\A.TXT", "C:\\dst\\A.TXT")); }, FALSE,
       "message 1018: Cannot open C:\\dst\\A.TXT for writing\r\n", 5},
      {[] {
         ShowPlainMessage("setup.ks is missing", kTextArchiveMissing);
         return 0;
       },
       0, "message: setup.ks is missing\r\n", 4},
      {[] { return int(ComposeMessage(1043)[0]); }, 0,
       "message: Internal error: string resource not found: 1043\r\n", 0},
  };
  for (const Case& c : cases) {
    DeleteFileA(log.c_str());
    setupState.exitCode = 0;
    int answer = -1;
    auto boxes = AnswerOwnBoxesDuring([&] { answer = c.show(); }, PressOk);
    EXPECT_TRUE(boxes.empty()) << c.logged;
    EXPECT_EQ(answer, c.answer) << c.logged;
    EXPECT_EQ(setupState.exitCode, c.exitCode) << c.logged;
    std::string written = ReadFileBytes(log);
    EXPECT_EQ(written.substr(21, c.logged.size()), c.logged);
  }
  // The run's first stop counts; the closing notice after it changes nothing.
  setupState.exitCode = 0;
  ShowMessage(nullptr, 1024, MB_ICONERROR);
  ShowMessage(nullptr, 1006, MB_TASKMODAL | MB_ICONINFORMATION);
  EXPECT_EQ(setupState.exitCode, 3);
  setupState.quiet = false;
}

}  // namespace
