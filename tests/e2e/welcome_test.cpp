// The welcome dialog of SETUP.EXE, driven as a user would: what it shows as it opens, Cancel,
// the OK button that follows the folder field, every folder it refuses (after which a corrected
// folder installs), the missing archive and the old 16-bit product.
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "resources/catalogue.h"
#include "support/distribution.h"
#include "support/ui_robot.h"
#include "support/wine_env.h"

namespace {

constexpr int kFolderItem = 101;
const std::string kInstall = "C:\\ks-welcome-install";
const char kCurrentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";

std::string Fill(const char* format, const std::string& value) {
  std::string text = format;
  text.replace(text.find("%s"), 2, value);
  return text;
}

// Every file of a folder with its size, to show that nothing was written.
std::map<std::string, DWORD> Listing(const std::string& folder) {
  std::map<std::string, DWORD> files;
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA((folder + "\\*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return files;
  do files[found.cFileName] = found.nFileSizeLow;
  while (FindNextFileA(search, &found));
  FindClose(search);
  return files;
}

class WelcomeTest : public testing::Test {
 public:
  WelcomeTest() {
    dist_.AddSideFiles();
    dist_.SetProductArchive();
  }

  // Runs setup with `welcome` and answers every box with `answer`, taking a picture of each
  // box first (named after the test, `label` and the box's number).
  SetupRunResult Run(const WelcomeHandler& welcome,
                     const std::function<int(const MessageBoxInfo&)>& answer = PressFirstButton,
                     const std::string& label = "") {
    int pictures = 0;
    return RunSetupExe(
        dist_.SetupExe(), "",
        [&](const MessageBoxInfo& box) {
          SaveScreenshot(CurrentTestName() + "-" + label + "box" + std::to_string(++pictures));
          return answer(box);
        },
        60000, welcome);
  }

  // A suggestion of our own, so that nothing outside the test's folders is proposed.
  RegistryValueScope programFiles_{HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesDir",
                                   "C:\\ks-welcome-pf"};
  ProfileValueScope association_{"extensions", "zip", std::nullopt};
  FolderCleanup install_{kInstall};
  Distribution dist_{"C:\\ks-welcome"};
};

void ExpectFinalNotice(const SetupRunResult& run) {
  ASSERT_FALSE(run.boxes.empty());
  const MessageBoxInfo& notice = run.boxes.back();
  EXPECT_EQ(notice.text, MSG_TEXT_1006);
  EXPECT_EQ(notice.caption, "Kestra Setup");
  EXPECT_EQ(notice.icon, BoxIcon::kInformation);
  EXPECT_EQ(notice.buttons, std::vector<int>{IDOK});
  EXPECT_EQ(notice.owner, nullptr);
  EXPECT_EQ(run.exitCode, 0u);
}

TEST_F(WelcomeTest, TheDialogAsItOpens) {
  SetupRunResult run = Run([&](HWND dialog, int) {
    SaveScreenshot(CurrentTestName());
    WindowInfo shown = ReadWindow(dialog);
    EXPECT_EQ(shown.title, "Kestra Setup");
    struct Item {
      int id;
      const char* className;
      const char* text;
    } items[] = {
        {106, "Static",
         "Setup will install Kestra into the following folder, which it will create if "
         "necessary."},
        {107, "Static",
         "If you want to install Kestra in a different folder and/or drive, type the name of the "
         "folder below:"},
        {0xFFFF, "Static", "&Install to:"},
        {kFolderItem, "Edit", "C:\\ks-welcome-pf\\Kestra"},
        {IDOK, "Button", "OK"},
        {IDCANCEL, "Button", "Cancel"},
    };
    ASSERT_EQ(shown.controls.size(), std::size(items));
    for (size_t i = 0; i < std::size(items); ++i) {
      EXPECT_EQ(shown.controls[i].id, items[i].id) << i;
      EXPECT_EQ(shown.controls[i].className, items[i].className) << i;
      EXPECT_EQ(shown.controls[i].text, items[i].text) << i;
      EXPECT_TRUE(shown.controls[i].enabled) << i;
    }
    LONG edit = shown.Control(kFolderItem)->style;
    for (LONG style : {ES_AUTOHSCROLL, ES_OEMCONVERT, WS_TABSTOP})
      EXPECT_EQ(edit & style, style) << std::hex << style;
    // A 3-D dialog draws the border of an edit as a sunken client edge.
    LONG editEdge = GetWindowLongA(GetDlgItem(dialog, kFolderItem), GWL_EXSTYLE);
    EXPECT_TRUE((edit & WS_BORDER) || (editEdge & WS_EX_CLIENTEDGE));
    EXPECT_EQ(shown.Control(IDOK)->style & BS_TYPEMASK, BS_DEFPUSHBUTTON);
    EXPECT_EQ(shown.Control(IDCANCEL)->style & BS_TYPEMASK, BS_PUSHBUTTON);
    EXPECT_EQ(SendMessageA(GetDlgItem(dialog, kFolderItem), EM_GETLIMITTEXT, 0, 0), 259);
    // Centred on the screen.
    int left = shown.rect.left, right = GetSystemMetrics(SM_CXSCREEN) - shown.rect.right;
    int top = shown.rect.top, bottom = GetSystemMetrics(SM_CYSCREEN) - shown.rect.bottom;
    EXPECT_LE(std::abs(left - right), 1);
    EXPECT_LE(std::abs(top - bottom), 1);
    ClickButton(dialog, IDCANCEL);
  });
  ASSERT_EQ(run.boxes.size(), 1u);
  ExpectFinalNotice(run);
}

TEST_F(WelcomeTest, CancelEscapeAndTheCloseBoxEndSetupWithNothingWritten) {
  const std::map<std::string, DWORD> distribution = Listing(dist_.folder());
  struct Case {
    const char* name;
    std::function<void(HWND)> act;
  } cases[] = {
      {"Cancel", [](HWND dialog) { ClickButton(dialog, IDCANCEL); }},
      {"Escape",
       [](HWND dialog) {
         HWND edit = GetDlgItem(dialog, kFolderItem);
         PostMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 1);
         PostMessageA(edit, WM_KEYUP, VK_ESCAPE, 0xC0000001);
       }},
      {"CloseBox", [](HWND dialog) { PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0); }},
  };
  for (const Case& c : cases) {
    SetupRunResult run = Run(
        [&](HWND dialog, int attempt) {
          if (attempt == 0) SetControlText(dialog, kFolderItem, kInstall);
          c.act(dialog);
        },
        PressFirstButton, std::string(c.name) + "-");
    ASSERT_EQ(run.boxes.size(), 1u) << c.name;
    ExpectFinalNotice(run);
    EXPECT_FALSE(PathExists(kInstall)) << c.name;
    EXPECT_FALSE(PathExists("C:\\ks-welcome-pf")) << c.name;
    EXPECT_EQ(Listing(dist_.folder()), distribution) << c.name;
  }
}

TEST_F(WelcomeTest, OkIsEnabledOnlyWhileTheFolderFieldHoldsText) {
  SetupRunResult run = Run([&](HWND dialog, int) {
    HWND ok = GetDlgItem(dialog, IDOK);
    HWND edit = GetDlgItem(dialog, kFolderItem);
    EXPECT_TRUE(IsWindowEnabled(ok));
    SetControlText(dialog, kFolderItem, "");
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowEnabled(ok); }, 5000)) << "emptied";
    SaveScreenshot(CurrentTestName() + "-empty");
    PostMessageA(edit, WM_CHAR, 'C', 1);
    EXPECT_TRUE(WaitUntil([&] { return IsWindowEnabled(ok); }, 5000)) << "typed";
    EXPECT_EQ(ControlText(edit), "C");
    PostMessageA(edit, WM_CHAR, VK_BACK, 1);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindowEnabled(ok); }, 5000)) << "deleted";
    ClickButton(dialog, IDCANCEL);
  });
  ExpectFinalNotice(run);
}

// Each refused folder shows one message over the dialog, which stays open with the folder as
// typed; the user then types a usable folder and setup installs there.
TEST_F(WelcomeTest, RefusedFoldersKeepTheDialogOpenForACorrection) {
  const std::string tooLong = "C:\\" + std::string(245, 'x');  // folder of 249 with "\"
  // A level that is a file cannot be created.
  WriteFileBytes("C:\\ks-welcome-file", "not a folder");
  struct Case {
    std::string typed;
    std::string message;
    BoxIcon icon;
    std::function<void()> prepare;
  } cases[] = {
      {"Kestra", MSG_TEXT_1024, BoxIcon::kError, {}},
      {"\\Kestra", MSG_TEXT_1024, BoxIcon::kError, {}},
      {"C", MSG_TEXT_1024, BoxIcon::kError, {}},
      {tooLong, MSG_TEXT_1024, BoxIcon::kError, {}},
      {"c:\\KS-WELCOME\\", MSG_TEXT_1016, BoxIcon::kError, {}},
      {"C:\\ks-welcome", MSG_TEXT_1016, BoxIcon::kError, {}},
      {"C:\\ks-welcome-file\\Kestra",
       Fill(MSG_TEXT_1004, "C:\\ks-welcome-file\\Kestra"),
       BoxIcon::kInformation,
       {}},
      {"C:\\ks-welcome-file\\Kestra\\",
       Fill(MSG_TEXT_1004, "C:\\ks-welcome-file\\Kestra"),
       BoxIcon::kInformation,
       {}},
      {"\\\\server\\share\\Kestra",
       Fill(MSG_TEXT_1004, "\\\\server\\share\\Kestra"),
       BoxIcon::kInformation,
       {}},
      {"//server/share", Fill(MSG_TEXT_1004, "//server/share"), BoxIcon::kInformation, {}},
  };
  int number = 0;
  for (const Case& c : cases) {
    RemoveTree(kInstall);
    std::string keptText;
    bool fieldFocused = false;
    std::string label = "case" + std::to_string(++number) + "-";
    SetupRunResult run = Run(
        [&](HWND dialog, int attempt) {
          if (attempt == 0) {
            SetControlText(dialog, kFolderItem, c.typed);
            ClickButton(dialog, IDOK);
          } else if (attempt == 1) {
            keptText = ControlText(GetDlgItem(dialog, kFolderItem));
            GUITHREADINFO thread = {};
            thread.cbSize = sizeof thread;
            GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &thread);
            fieldFocused = thread.hwndFocus == GetDlgItem(dialog, kFolderItem);
            SetControlText(dialog, kFolderItem, kInstall);
            ClickButton(dialog, IDOK);
          } else {
            ClickButton(dialog, IDCANCEL);
          }
        },
        PressFirstButton, label);
    ASSERT_EQ(run.boxes.size(), 1u) << c.typed;
    EXPECT_EQ(run.boxes[0].text, c.message) << c.typed;
    EXPECT_EQ(run.boxes[0].caption, "Kestra Setup");
    EXPECT_EQ(run.boxes[0].icon, c.icon) << c.typed;
    EXPECT_EQ(run.boxes[0].buttons, std::vector<int>{IDOK});
    EXPECT_NE(run.boxes[0].owner, nullptr) << "owned by the welcome dialog";
    EXPECT_EQ(keptText, c.typed);
    EXPECT_TRUE(fieldFocused) << c.typed << ": the folder field has the focus again";
    EXPECT_NE(ProductLog(kInstall), "") << c.typed << ": installed after the correction";
  }
  EXPECT_EQ(ReadFileBytes("C:\\ks-welcome-file"), "not a folder");
  DeleteFileA("C:\\ks-welcome-file");
}

// Setup creates every missing level of the folder, as the dialog promises.
TEST_F(WelcomeTest, AFolderWithMissingLevelsIsCreated) {
  FolderCleanup made("C:\\ks-welcome-made");
  const std::string folder = "C:\\ks-welcome-made\\Apps New\\Kestra";
  SetupRunResult run = Run(AcceptFolder(folder));
  EXPECT_TRUE(run.boxes.empty()) << run.boxes[0].text;
  EXPECT_NE(ProductLog(folder).find("current: " + folder + "\r\n"), std::string::npos);
}

// kestra.hlp that cannot be opened for writing is refused with 1050 after the quarter second
// setup waits for it; the user then picks another folder. An impatient user presses OK twice:
// the second press, queued while setup waits, does not check the folder again.
void ExpectRefusedAsWriteProtected(WelcomeTest& test, const std::string& folder) {
  DWORD pressed = 0, shown = 0;
  SetupRunResult run = test.Run(
      [&](HWND dialog, int attempt) {
        SetControlText(dialog, kFolderItem, attempt == 0 ? folder : kInstall);
        if (attempt == 0) pressed = GetTickCount();
        ClickButton(dialog, IDOK);
        if (attempt == 0) ClickButton(dialog, IDOK);
      },
      [&](const MessageBoxInfo&) {
        shown = GetTickCount();
        return IDOK;
      });
  ASSERT_EQ(run.boxes.size(), 1u) << run.boxes.back().text;
  EXPECT_EQ(run.boxes[0].text, MSG_TEXT_1050);
  EXPECT_EQ(run.boxes[0].icon, BoxIcon::kError);
  EXPECT_GE(shown - pressed, 240u) << "waited about a quarter second";
  EXPECT_LT(shown - pressed, 5000u);
  EXPECT_NE(ProductLog(kInstall), "");
}

TEST_F(WelcomeTest, AFolderWhoseHelpFileIsInUseIsRefused) {
  TestFolder folder("C:\\ks-welcome-busy");
  WriteFileBytes(folder / "kestra.hlp", "help");
  ExclusiveHold hold(folder / "kestra.hlp");
  ASSERT_TRUE(hold.held());
  ExpectRefusedAsWriteProtected(*this, folder.path());
}

TEST_F(WelcomeTest, AFolderWhoseHelpFileIsReadOnlyIsRefused) {
  TestFolder folder("C:\\ks-welcome-ro");
  WriteFileBytes(folder / "kestra.hlp", "help");
  ReadOnlyFile readOnly(folder / "kestra.hlp");
  ExpectRefusedAsWriteProtected(*this, folder.path());
}

TEST_F(WelcomeTest, AMissingArchiveIsReportedAndOkChecksAgain) {
  DeleteFileA((dist_ / "setup.ks").c_str());
  SetupRunResult run = Run(
      [&](HWND dialog, int attempt) {
        if (attempt == 0) SetControlText(dialog, kFolderItem, kInstall);
        ClickButton(dialog, attempt < 2 ? IDOK : IDCANCEL);
      },
      [&](const MessageBoxInfo& box) {
        dist_.SetProductArchive();  // the user puts the disk back
        return box.buttons.front();
      });
  ASSERT_EQ(run.boxes.size(), 1u);
  EXPECT_EQ(run.boxes[0].text, "setup.ks is missing");
  EXPECT_EQ(run.boxes[0].caption, "Error") << "untitled";
  EXPECT_EQ(run.boxes[0].icon, BoxIcon::kNone);
  EXPECT_EQ(run.boxes[0].buttons, std::vector<int>{IDOK});
  EXPECT_EQ(run.boxes[0].owner, nullptr);
  EXPECT_NE(ProductLog(kInstall), "");
}

// A side file missing or with another time than SETUP.EXE is reported over the dialog, named as
// in the table; once the disk is put right, OK checks again and setup installs.
TEST_F(WelcomeTest, SideFileFaultsKeepTheDialogOpenUntilTheDiskIsRight) {
  struct Case {
    std::string name;
    std::string message;
    std::function<void(const std::string& path)> spoil;
  } cases[] = {
      {"VENDOR.TXT", Fill(MSG_TEXT_1013, "VENDOR.TXT"),
       [](const std::string& path) { DeleteFileA(path.c_str()); }},
      {"ORDER.TXT", Fill(MSG_TEXT_1023, "ORDER.TXT"),
       [](const std::string& path) {
         FILETIME time = LastWriteTime(path);
         time.dwLowDateTime += 10000000;  // one second later
         SetLastWriteTime(path, time);
       }},
  };
  for (const Case& c : cases) {
    dist_.AddSideFiles();
    c.spoil(dist_ / c.name);
    RemoveTree(kInstall);
    SetupRunResult run = Run(
        [&](HWND dialog, int attempt) {
          if (attempt == 0) SetControlText(dialog, kFolderItem, kInstall);
          ClickButton(dialog, attempt < 2 ? IDOK : IDCANCEL);
        },
        [&](const MessageBoxInfo& box) {
          dist_.AddSideFiles();  // the user fixes the disk
          return box.buttons.front();
        },
        c.name + "-");
    ASSERT_EQ(run.boxes.size(), 1u) << c.name;
    EXPECT_EQ(run.boxes[0].text, c.message);
    EXPECT_EQ(run.boxes[0].caption, "Kestra Setup");
    EXPECT_EQ(run.boxes[0].icon, BoxIcon::kError);
    EXPECT_NE(run.boxes[0].owner, nullptr) << "owned by the welcome dialog";
    EXPECT_NE(ProductLog(kInstall), "") << c.name;
  }
}

// The old 16-bit kestra.exe is deleted only after two Yes answers; any No leaves the dialog
// open with the program in place. Its other files are never touched.
TEST_F(WelcomeTest, The16BitProductGoesOnlyWhenTheUserAgreesTwice) {
  const std::string folder = "C:\\ks-welcome-old";
  struct Case {
    std::vector<int> answers;
    size_t questions;
    bool deleted;
  } cases[] = {
      {{IDNO}, 1, false},
      {{IDYES, IDNO}, 2, false},
      {{IDYES, IDYES}, 2, true},
  };
  int number = 0;
  for (const Case& c : cases) {
    TestFolder old(folder);
    std::string label = "case" + std::to_string(++number) + "-";
    WriteFileBytes(folder + "\\kestra.exe", "16-bit program");
    WriteFileBytes(folder + "\\kestra.ini", "settings");
    size_t asked = 0;
    LONG noButtonStyle = 0;
    SetupRunResult run = Run(
        [&](HWND dialog, int attempt) {
          if (attempt > 0) {
            ClickButton(dialog, IDCANCEL);
            return;
          }
          SetControlText(dialog, kFolderItem, folder + "\\");
          ClickButton(dialog, IDOK);
        },
        [&](const MessageBoxInfo& box) {
          if (asked == 0) noButtonStyle = GetWindowLongA(GetDlgItem(box.window, IDNO), GWL_STYLE);
          return asked < c.answers.size() ? c.answers[asked++] : box.buttons.front();
        },
        label);
    ASSERT_GE(run.boxes.size(), c.questions);
    const MessageBoxInfo& question = run.boxes[0];
    EXPECT_EQ(question.text, MSG_TEXT_1049);
    EXPECT_EQ(question.caption, "Kestra Setup");
    EXPECT_EQ(question.icon, BoxIcon::kError);
    EXPECT_EQ(question.buttons, (std::vector<int>{IDYES, IDNO}));
    EXPECT_EQ(noButtonStyle & BS_TYPEMASK, BS_DEFPUSHBUTTON) << "No is the default";
    if (c.questions == 2) {
      const MessageBoxInfo& confirmation = run.boxes[1];
      EXPECT_EQ(confirmation.text, Fill(MSG_TEXT_1051, folder));
      EXPECT_EQ(confirmation.icon, BoxIcon::kQuestion);
      EXPECT_EQ(confirmation.buttons, (std::vector<int>{IDYES, IDNO}));
    }
    EXPECT_EQ(PathExists(folder + "\\kestra.exe"), !c.deleted);
    EXPECT_EQ(ReadFileBytes(folder + "\\kestra.ini"), "settings");
    if (c.deleted) {
      EXPECT_EQ(run.boxes.size(), 2u);
      EXPECT_NE(ProductLog(folder), "");
    } else {
      EXPECT_EQ(run.boxes.size(), c.questions + 1);
      ExpectFinalNotice(run);
    }
  }
}

}  // namespace
