// The progress dialog during a real run of SETUP.EXE: the side files' names and a rising meter,
// the Cancel question answered No (the installation finishes intact) and Yes (setup stops after
// the next file's first block and says it has not installed), and the meter at 100% before the
// dialog goes.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/catalogue.h"
#include "support/distribution.h"
#include "support/ui_robot.h"
#include "support/wine_env.h"
#include "ui/meter_messages.h"

namespace {

const std::string kInstall = kDefaultInstallFolder;

// Every file is large enough that its copy is still running when the test, having seen its
// name appear, clicks Cancel; the first is the largest, as the test starts by finding the dialog.
const size_t kSizes[7] = {6 << 20, 1500000, (2 << 20) + 1, 1 << 20,
                          1800000, 1310720, (1 << 20) + 1};

std::string Bytes(size_t count, char seed) {
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(seed + i * 13 + i / 509);
  return bytes;
}

int SideFileIndex(const std::string& name) {
  for (int i = 0; i < 7; ++i)
    if (name == kSideFileNames[i]) return i;
  return -1;
}

// What the progress dialog shows while setup waits for an answer.
struct Snapshot {
  std::string fileName;
  LRESULT position, range;
  bool cancelEnabled;
};

class ProgressTest : public testing::Test {
 protected:
  void SetUp() override {
    FILETIME setupTime = LastWriteTime(dist_.SetupExe());
    size_t total = 0;
    for (int i = 0; i < 7; ++i) {
      contents_[i] = Bytes(kSizes[i], static_cast<char>('A' + i));
      WriteFileBytes(dist_ / kSideFileNames[i], contents_[i]);
      SetLastWriteTime(dist_ / kSideFileNames[i], setupTime);
      total += kSizes[i];
    }
    dist_.SetProductArchive();
    total += ReadFileBytes(dist_ / "setup.ks").size();
    // The total is the side files' and the archive's KB, the range that over 10.
    expectedRange_ = static_cast<LRESULT>((total >> 10) / 10);
    ASSERT_TRUE(CreateDirectoryA(kInstall.c_str(), nullptr));
  }

  // The progress dialog of `setup`, found without asking setup for anything (it answers only
  // between files while it copies).
  static HWND WaitForProgressDialog(const ChildProcess& setup) {
    HWND found = nullptr;
    WaitUntil(
        [&] {
          for (HWND window : TopLevelWindows(setup.id()))
            if (GetDlgItem(window, 100) && GetDlgItem(window, 104)) found = window;
          return found != nullptr;
        },
        20000);
    return found;
  }

  static LRESULT Ask(HWND window, UINT message) {
    DWORD_PTR result = 0;
    SendMessageTimeoutA(window, message, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
    return static_cast<LRESULT>(result);
  }

  static Snapshot Look(HWND dialog) {
    HWND meter = GetDlgItem(dialog, 100);
    return {ControlText(GetDlgItem(dialog, 104)), Ask(meter, MTR_GETPOS), Ask(meter, MTR_GETRANGE),
            IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)) != FALSE};
  }

  // The file name that follows `shown`, read as the system keeps it, without waiting for setup
  // to answer; "" when the dialog has gone.
  static std::string WaitForNextFileName(HWND dialog, const std::string& shown) {
    HWND item = GetDlgItem(dialog, 104);
    for (DWORD start = GetTickCount(); GetTickCount() - start < 20000; Sleep(1)) {
      char text[MAX_PATH] = "";
      if (!IsWindow(item)) break;
      GetWindowTextA(item, text, sizeof text);
      if (*text && shown != text) return text;
    }
    return "";
  }

  // The next message box, or none once setup has ended.
  static std::optional<MessageBoxInfo> NextBox(ChildProcess& setup) {
    std::optional<MessageBoxInfo> box;
    WaitUntil(
        [&] {
          if (setup.Wait(0)) return true;
          for (HWND window : TopLevelWindows(setup.id()))
            if ((box = ReadMessageBox(window))) return true;
          return false;
        },
        60000);
    return box;
  }

  // Moves a box to the lower left corner, so that the dialog behind it can be seen.
  static void SlideAside(HWND box) {
    RECT r;
    GetWindowRect(box, &r);
    SetWindowPos(box, nullptr, 10, GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top), 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    Sleep(500);
  }

  static void Answer(const MessageBoxInfo& box, int button) {
    ASSERT_TRUE(AnswerMessageBox(box, button));
    WaitUntil([&] { return !IsWindow(box.window) || !IsWindowVisible(box.window); }, 5000);
  }

  void ExpectCopied(int row) {
    std::string path = kInstall + "\\" + kSideFileNames[row];
    FILETIME copied = LastWriteTime(path), setupTime = LastWriteTime(dist_.SetupExe());
    EXPECT_EQ(CompareFileTime(&copied, &setupTime), 0) << path;
    EXPECT_TRUE(ReadFileBytes(path) == contents_[row]) << path;
  }

  FolderCleanup installFolder_{kInstall};
  Distribution dist_{"C:\\ks-progress"};
  std::string contents_[7];
  LRESULT expectedRange_ = 0;
};

TEST_F(ProgressTest, ShowsEachSideFileAndARisingMeterAndFinishesWhenCancelIsAnsweredNo) {
  ChildProcess setup("\"" + dist_.SetupExe() + "\"");
  HWND dialog = WaitForProgressDialog(setup);
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(ClickButton(dialog, IDCANCEL));

  std::vector<Snapshot> pauses;
  std::vector<std::string> otherBoxes;
  bool screenshotsTaken = false;
  while (std::optional<MessageBoxInfo> box = NextBox(setup)) {
    if (box->text != MSG_TEXT_1005) {
      otherBoxes.push_back(box->text);
      Answer(*box, box->buttons.front());
      continue;
    }
    pauses.push_back(Look(dialog));
    EXPECT_EQ(box->caption, "Kestra Setup");
    EXPECT_EQ(box->icon, BoxIcon::kQuestion);
    EXPECT_EQ(box->buttons, (std::vector<int>{IDYES, IDNO}));
    EXPECT_EQ(box->owner, dialog);
    if (!screenshotsTaken && !pauses.back().fileName.empty()) {
      screenshotsTaken = true;
      EXPECT_TRUE(SaveScreenshot(CurrentTestName() + "-confirmation"));
      SlideAside(box->window);
      EXPECT_TRUE(SaveScreenshot(CurrentTestName() + "-mid-install"));
    }
    ASSERT_TRUE(AnswerMessageBox(*box, IDNO));
    // Click again as soon as the next file is being copied, unless it is the last one.
    std::string next = WaitForNextFileName(dialog, pauses.back().fileName);
    if (!next.empty() && next != kSideFileNames[6]) ClickButton(dialog, IDCANCEL);
  }
  EXPECT_EQ(setup.ExitCode(), 0u);
  EXPECT_TRUE(otherBoxes.empty()) << otherBoxes[0];

  // Each question came between two files: the dialog named the file just copied, in table
  // order, and the meter had grown.
  ASSERT_GE(pauses.size(), 4u);
  int previousRow = -2;
  for (size_t i = 0; i < pauses.size(); ++i) {
    const Snapshot& s = pauses[i];
    int row = SideFileIndex(s.fileName);
    SCOPED_TRACE(testing::Message() << "pause " << i << " after \"" << s.fileName << "\"");
    EXPECT_TRUE(row >= 0 || (i == 0 && s.fileName.empty()));
    if (i > 0) {
      EXPECT_GT(row, previousRow);
      EXPECT_GT(s.position, pauses[i - 1].position);
    }
    previousRow = row;
    EXPECT_EQ(s.range, expectedRange_);
    EXPECT_TRUE(s.cancelEnabled);
    EXPECT_LT(s.position, expectedRange_);
  }
  EXPECT_GT(pauses.back().position, expectedRange_ * 9 / 10);
  EXPECT_TRUE(screenshotsTaken);

  for (int row = 0; row < 7; ++row) ExpectCopied(row);
  EXPECT_NE(ProductLog(kInstall), "") << "the product was started";
}

TEST_F(ProgressTest, ConfirmedCancelStopsAfterTheNextFilesFirstBlock) {
  ChildProcess setup("\"" + dist_.SetupExe() + "\"");
  HWND dialog = WaitForProgressDialog(setup);
  ASSERT_NE(dialog, nullptr);
  ASSERT_TRUE(ClickButton(dialog, IDCANCEL));
  std::optional<MessageBoxInfo> question = NextBox(setup);
  ASSERT_TRUE(question);
  ASSERT_EQ(question->text, MSG_TEXT_1005);
  int stoppedRow = SideFileIndex(Look(dialog).fileName) + 1;
  Answer(*question, IDYES);

  std::optional<MessageBoxInfo> notice = NextBox(setup);
  ASSERT_TRUE(notice);
  EXPECT_EQ(notice->text, MSG_TEXT_1006);
  EXPECT_EQ(notice->icon, BoxIcon::kInformation);
  EXPECT_EQ(notice->owner, nullptr);
  EXPECT_FALSE(IsWindow(dialog)) << "the dialog is gone before the notice";
  Answer(*notice, IDOK);
  EXPECT_TRUE(AnswerBoxesUntilExit(setup, PressFirstButton).empty());
  EXPECT_EQ(setup.ExitCode(), 0u);

  for (int row = 0; row < stoppedRow; ++row) ExpectCopied(row);
  std::string stopped = kInstall + "\\" + kSideFileNames[stoppedRow];
  EXPECT_TRUE(ReadFileBytes(stopped) == contents_[stoppedRow].substr(0, 15360)) << stopped;
  for (int row = stoppedRow + 1; row < 7; ++row)
    EXPECT_FALSE(PathExists(kInstall + "\\" + kSideFileNames[row])) << kSideFileNames[row];

  Sleep(1000);
  EXPECT_EQ(ReadFileBytes(kInstall + "\\kestra32.log"), "") << "the product is not started";
  EXPECT_FALSE(PathExists(kInstall + "\\KESTRA32.EX_")) << "the archive was not unpacked";
}

TEST_F(ProgressTest, MeterReachesHundredPercentBeforeTheDialogGoes) {
  // A main executable that cannot be replaced keeps the dialog on the screen behind the
  // failure messages, so its final state can be seen.
  WriteFileBytes(kInstall + "\\KESTRA32.EXE", "in use");
  ExclusiveHold held(kInstall + "\\KESTRA32.EXE");
  ASSERT_TRUE(held.held());
  ChildProcess setup("\"" + dist_.SetupExe() + "\"");
  std::optional<MessageBoxInfo> failure = NextBox(setup);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->text, "Cannot open " + kInstall + "\\KESTRA32.EXE for writing");
  HWND dialog = failure->owner;
  ASSERT_TRUE(IsWindowVisible(dialog));
  Snapshot end = Look(dialog);
  EXPECT_EQ(end.fileName, "KESTRA32.EX_") << "the archive's entry, after the side files";
  EXPECT_EQ(end.range, expectedRange_);
  EXPECT_EQ(end.position, end.range) << "100%";
  SlideAside(failure->window);
  EXPECT_TRUE(SaveScreenshot(CurrentTestName()));
  Answer(*failure, IDOK);

  std::optional<MessageBoxInfo> notice = NextBox(setup);
  ASSERT_TRUE(notice);
  EXPECT_EQ(notice->text, MSG_TEXT_1006);
  EXPECT_TRUE(IsWindowVisible(dialog)) << "the notice comes over the dialog";
  Answer(*notice, IDOK);
  EXPECT_TRUE(setup.Wait(10000));
  for (int row = 0; row < 7; ++row) ExpectCopied(row);
}

}  // namespace
