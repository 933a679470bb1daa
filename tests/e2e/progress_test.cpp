// The progress dialog during a real run of SETUP.EXE: the name of every side file and archive
// entry and a rising meter that ends at 100%; the Cancel question answered No (the installation
// finishes intact) and Yes, during the side files (setup stops after the next file's first
// block) and during an upgrade's unpacking, each time followed by the closing notice, without
// the product being started, and with the folder put back as it was.
//
// Setup notices a Cancel click only when it pumps its messages: before each side file, and at
// the extractor's progress points (the start of each entry and each block of 28,672 bytes it
// reads). The test holds setup at each file name and progress message (support/progress_gate.h)
// and clicks there, so every question comes at a known point however loaded the machine is.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "resources/catalogue.h"
#include "support/distribution.h"
#include "support/progress_gate.h"
#include "support/ui_robot.h"
#include "support/wine_env.h"
#include "support/zip_writer.h"
#include "ui/meter_messages.h"

namespace {

const std::string kInstall = kDefaultInstallFolder;

// Side files of one to ten copy blocks (15,360 bytes), one exactly a block, one a byte short of
// a meter step (10,240 bytes).
const size_t kSideSizes[7] = {150000, 40000, 20481, 100000, 15360, 10239, 30001};

constexpr size_t kMegabyte = 1 << 20;
constexpr size_t kExtractorBlock = 28672;

std::string Bytes(size_t count, char seed) {
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(seed + i * 13 + i / 509);
  return bytes;
}

struct ArchiveFile {
  std::string name;
  std::string data;
};

// Stored entries, the product first. The large ones are read in a hundred blocks each, with a
// progress point after every block.
std::vector<ArchiveFile> ArchiveFiles() {
  return {{"KESTRA32.EX_", ReadFileBytes(FixturePath("KESTRA32.EXE"))},
          {"KESTRA.INI", "[Kestra]\r\nVersion=8.0\r\n"},
          {"KESTRA.DLL", Bytes(3 * kMegabyte + 4321, 'd')},
          {"KESTRA.HLP", Bytes(2 * kMegabyte + 77, 'h')},
          {"TUTORIAL.AVI", Bytes(5 * kMegabyte / 2, 'a')},
          {"README.1ST", "Read me first.\r\n"}};
}

// What the progress dialog shows while setup waits for an answer.
struct Snapshot {
  std::string fileName;
  LRESULT position, range;
  bool cancelEnabled;
};

// A Cancel question: what the dialog showed, and the stop at which the test had clicked.
struct Question {
  MessageBoxInfo box;
  Snapshot shown;
  GateStop clickedAt;
};

// Everything a gated run of setup showed, in order.
struct GatedRun {
  std::vector<GateStop> stops;
  std::vector<Question> questions;
  std::vector<MessageBoxInfo> otherBoxes;
  std::vector<bool> dialogAtOtherBox;  // whether the progress dialog still existed then
  size_t stopsBeforeLastQuestion = 0;
};

LRESULT Ask(HWND window, UINT message) {
  DWORD_PTR result = 0;
  SendMessageTimeoutA(window, message, 0, 0, SMTO_ABORTIFHUNG, 5000, &result);
  return static_cast<LRESULT>(result);
}

// Asks setup's windows, so only while setup serves them (a question is open).
Snapshot Look(HWND dialog) {
  HWND meter = GetDlgItem(dialog, 100);
  return {ControlText(GetDlgItem(dialog, 104)), Ask(meter, MTR_GETPOS), Ask(meter, MTR_GETRANGE),
          IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)) != FALSE};
}

// The next message box, or none once setup has ended.
std::optional<MessageBoxInfo> NextBox(ChildProcess& setup) {
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

// Moves a box to the lower left corner and waits until the dialog it covered shows again on
// the screen (its meter's bar, which is not empty wherever the test looks), for a screenshot.
void SlideAside(HWND box, HWND dialog) {
  RECT r;
  GetWindowRect(box, &r);
  SetWindowPos(box, nullptr, 10, GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top), 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  RECT meter;
  GetWindowRect(GetDlgItem(dialog, 100), &meter);
  HDC screen = GetDC(nullptr);
  EXPECT_TRUE(WaitUntil(
      [&] {
        return GetPixel(screen, meter.left + 2, (meter.top + meter.bottom) / 2) ==
               GetSysColor(COLOR_HIGHLIGHT);
      },
      10000))
      << "the dialog was not drawn again";
  ReleaseDC(nullptr, screen);
}

void Answer(const MessageBoxInfo& box, int button) {
  EXPECT_TRUE(AnswerUntilClosed(box, button)) << box.text;
}

// Serves setup until it ends: passes every stop (clicking Cancel at those `clickAt` picks) and
// answers each Cancel question with what `answer` says after it has looked; other boxes get OK.
GatedRun Serve(GatedSetup& setup, const std::function<bool(const GateStop&)>& clickAt,
               const std::function<int(const Question&)>& answer) {
  GatedRun run;
  std::optional<GateStop> clicked;
  for (;;) {
    if (std::optional<GateStop> stop = setup.NextStop()) {
      run.stops.push_back(*stop);
      if (clickAt(*stop)) {
        EXPECT_TRUE(ClickButton(stop->dialog, IDCANCEL)) << "at " << stop->fileName;
        clicked = stop;
      }
      setup.GoOn();
      continue;
    }
    std::optional<MessageBoxInfo> box = NextBox(setup.process());
    if (!box) break;
    if (box->text == MSG_TEXT_1005 && clicked) {
      Question question = {*box, Look(box->owner), *clicked};
      run.questions.push_back(question);
      run.stopsBeforeLastQuestion = run.stops.size();
      Answer(*box, answer(question));
    } else {
      run.otherBoxes.push_back(*box);
      run.dialogAtOtherBox.push_back(!run.stops.empty() && IsWindow(run.stops.back().dialog));
      Answer(*box, box->buttons.empty() ? IDOK : box->buttons.front());
    }
  }
  EXPECT_TRUE(setup.process().Wait(10000));
  return run;
}

// The n-th (from 1) progress point inside the entry `name`.
std::function<bool(const GateStop&)> AtProgressPoint(const std::string& name, int n) {
  auto seen = std::make_shared<int>(0);
  return [=](const GateStop& stop) {
    return stop.kind == kGateProgress && stop.fileName == name && ++*seen == n;
  };
}

LONGLONG FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
  return (static_cast<LONGLONG>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

class ProgressTest : public testing::Test {
 protected:
  void SetUp() override {
    FILETIME setupTime = LastWriteTime(dist_.SetupExe());
    size_t total = 0;
    for (int i = 0; i < 7; ++i) {
      contents_[i] = Bytes(kSideSizes[i], static_cast<char>('A' + i));
      WriteFileBytes(dist_ / kSideFileNames[i], contents_[i]);
      SetLastWriteTime(dist_ / kSideFileNames[i], setupTime);
      total += kSideSizes[i];
    }
    ZipWriter writer;
    for (const ArchiveFile& file : files_) {
      ZipEntry entry;
      entry.name = file.name;
      entry.data = file.data;
      writer.Add(entry);
    }
    dist_.SetArchive(writer.Finish());
    total += ReadFileBytes(dist_ / "setup.ks").size();
    // The total is the side files' and the archive's KB, the range that over 10.
    expectedRange_ = static_cast<LONG>((total >> 10) / 10);
    ASSERT_TRUE(CreateDirectoryA(kInstall.c_str(), nullptr));
  }

  std::string Installed(const std::string& name) const { return kInstall + "\\" + name; }

  // Every file of the install folder with its bytes.
  std::map<std::string, std::string> FolderBytes() const {
    std::map<std::string, std::string> files;
    for (const std::string& name : FileNames(kInstall))
      files[name] = ReadFileBytes(Installed(name));
    return files;
  }

  // An earlier installation: each name this release writes, and a file of its own.
  void InstallEarlierRelease() {
    for (const char* name : kSideFileNames) WriteFileBytes(Installed(name), "earlier side file");
    for (const ArchiveFile& file : files_)
      WriteFileBytes(Installed(file.name == "KESTRA32.EX_" ? "KESTRA32.EXE" : file.name),
                     "earlier " + file.name);
    WriteFileBytes(Installed("EARLIER.DAT"), "earlier only");
  }

  void ExpectSideFileCopied(int row) {
    std::string path = Installed(kSideFileNames[row]);
    FILETIME copied = LastWriteTime(path), setupTime = LastWriteTime(dist_.SetupExe());
    EXPECT_EQ(CompareFileTime(&copied, &setupTime), 0) << path;
    EXPECT_TRUE(ReadFileBytes(path) == contents_[row]) << path;
  }

  void ExpectUnpacked(size_t entry) {
    EXPECT_TRUE(ReadFileBytes(Installed(files_[entry].name)) == files_[entry].data)
        << files_[entry].name;
  }

  size_t EntryIndex(const std::string& name) const {
    for (size_t i = 0; i < files_.size(); ++i)
      if (files_[i].name == name) return i;
    return files_.size();
  }

  // Every name the dialog is to show, in order: the side files, then the archive's entries.
  std::vector<std::string> AllNames() const {
    std::vector<std::string> names(kSideFileNames, kSideFileNames + 7);
    for (const ArchiveFile& file : files_) names.push_back(file.name);
    return names;
  }

  // The Cancel question as setup asks it, over a dialog whose Cancel button is still enabled.
  void ExpectQuestionBox(const Question& q) {
    EXPECT_EQ(q.box.caption, "Kestra Setup");
    EXPECT_EQ(q.box.icon, BoxIcon::kQuestion);
    EXPECT_EQ(q.box.buttons, (std::vector<int>{IDYES, IDNO}));
    EXPECT_EQ(q.box.owner, q.clickedAt.dialog);
    EXPECT_TRUE(q.shown.cancelEnabled);
    EXPECT_EQ(q.shown.range, expectedRange_);
  }

  void TakeScreenshots(const Question& q) {
    EXPECT_TRUE(SaveScreenshot(CurrentTestName() + "-confirmation"));
    SlideAside(q.box.window, q.box.owner);
    EXPECT_TRUE(SaveScreenshot(CurrentTestName() + "-mid-install"));
  }

  // The closing notice after the dialog has gone, and nothing else: in particular no "Error
  // running" box, which an attempt to start the product would bring.
  void ExpectOnlyTheClosingNotice(const GatedRun& run) {
    ASSERT_EQ(run.otherBoxes.size(), 1u);
    EXPECT_EQ(run.otherBoxes[0].text, MSG_TEXT_1006);
    EXPECT_EQ(run.otherBoxes[0].icon, BoxIcon::kInformation);
    EXPECT_EQ(run.otherBoxes[0].owner, nullptr);
    EXPECT_FALSE(run.dialogAtOtherBox[0]) << "the dialog is gone before the notice";
  }

  // What setup did after the question was answered Yes: only `expected`, as (stop, file
  // name), with Cancel disabled from then on.
  static void ExpectStopsAfterYes(
      const GatedRun& run, const std::vector<std::pair<GateStopKind, std::string>>& expected) {
    std::vector<std::pair<GateStopKind, std::string>> after;
    for (size_t i = run.stopsBeforeLastQuestion; i < run.stops.size(); ++i) {
      after.emplace_back(run.stops[i].kind, run.stops[i].fileName);
      EXPECT_FALSE(run.stops[i].cancelEnabled) << "Yes disables Cancel";
    }
    EXPECT_EQ(after, expected);
  }

  FolderCleanup installFolder_{kInstall};
  Distribution dist_{"C:\\ks-progress"};
  std::string contents_[7];
  std::vector<ArchiveFile> files_ = ArchiveFiles();
  LONG expectedRange_ = 0;
};

TEST_F(ProgressTest, ShowsEveryFileAndARisingMeterAndFinishesIntactWhenCancelIsAnsweredNo) {
  GatedSetup setup("\"" + dist_.SetupExe() + "\"");
  ASSERT_TRUE(setup.gated());
  ASSERT_TRUE(AcceptWelcomeDialog(setup.process(), kInstall));
  // Between two side files; as an entry starts; in the middle of a large entry.
  auto inDll = AtProgressPoint("KESTRA.DLL", 20);
  auto clickAt = [&](const GateStop& stop) {
    return (stop.kind == kGateFileShown &&
            (stop.fileName == "KESTRA.TXT" || stop.fileName == "KESTRA.INI")) ||
           inDll(stop);
  };
  LONGLONG partialDll = -1;
  GatedRun run = Serve(setup, clickAt, [&](const Question& q) {
    if (q.shown.fileName == "KESTRA.TXT") {
      ExpectSideFileCopied(1);
      EXPECT_FALSE(PathExists(Installed("LICENSE.TXT"))) << "asked before the next file";
    } else if (q.shown.fileName == "KESTRA.INI") {
      EXPECT_EQ(FileSize(Installed("KESTRA.INI")), 0) << "asked as the entry starts";
    } else if (q.shown.fileName == "KESTRA.DLL") {
      partialDll = FileSize(Installed("KESTRA.DLL"));
      TakeScreenshots(q);
    }
    return IDNO;
  });
  EXPECT_EQ(setup.process().ExitCode(), 0u);
  for (const MessageBoxInfo& box : run.otherBoxes) ADD_FAILURE() << "box: " << box.text;

  // The dialog showed every side file and entry in order, each entry followed by a progress
  // point of its own; the meter rose over one range and ended full as the dialog went.
  std::vector<std::string> shown;
  for (size_t i = 0; i < run.stops.size(); ++i) {
    const GateStop& stop = run.stops[i];
    SCOPED_TRACE(testing::Message() << "stop " << i << " at \"" << stop.fileName << "\"");
    if (stop.kind == kGateFileShown) shown.push_back(stop.fileName);
    if (stop.kind == kGateFileShown && shown.size() > 7) {
      ASSERT_LT(i + 1, run.stops.size());
      EXPECT_EQ(run.stops[i + 1].kind, kGateProgress);
      EXPECT_EQ(run.stops[i + 1].fileName, stop.fileName);
    }
    EXPECT_EQ(stop.range, expectedRange_);
    EXPECT_TRUE(stop.cancelEnabled) << "No leaves Cancel enabled";
    if (i > 0) {
      EXPECT_GE(stop.position, run.stops[i - 1].position);
    }
    EXPECT_LE(stop.position, expectedRange_);
  }
  EXPECT_EQ(shown, AllNames());
  ASSERT_FALSE(run.stops.empty());
  EXPECT_EQ(run.stops.back().kind, kGateClosing);
  EXPECT_EQ(run.stops.back().fileName, files_.back().name);
  EXPECT_EQ(run.stops.back().position, expectedRange_) << "100%";
  EXPECT_EQ(run.stops.front().position, 0) << "started at 0%";
  int dllPoints = 0;
  for (const GateStop& stop : run.stops)
    dllPoints += stop.kind == kGateProgress && stop.fileName == "KESTRA.DLL";
  EXPECT_GE(dllPoints, static_cast<int>(files_[2].data.size() / kExtractorBlock));

  // Each No left the dialog as it was and the work went on from there.
  ASSERT_EQ(run.questions.size(), 3u);
  const char* asked[] = {"KESTRA.TXT", "KESTRA.INI", "KESTRA.DLL"};
  for (size_t i = 0; i < 3; ++i) {
    const Question& q = run.questions[i];
    SCOPED_TRACE(asked[i]);
    ExpectQuestionBox(q);
    EXPECT_EQ(q.shown.fileName, asked[i]);
    EXPECT_GE(q.shown.position, q.clickedAt.position);
    if (q.clickedAt.kind == kGateProgress) {
      EXPECT_EQ(q.shown.position, q.clickedAt.position) << "asked at that progress point";
    }
  }
  EXPECT_GT(partialDll, 0) << "the entry was being written";
  EXPECT_LT(partialDll, static_cast<LONGLONG>(files_[2].data.size()));

  for (int row = 0; row < 7; ++row) ExpectSideFileCopied(row);
  for (size_t entry = 1; entry < files_.size(); ++entry) ExpectUnpacked(entry);
  EXPECT_TRUE(ReadFileBytes(Installed("KESTRA32.EXE")) == files_[0].data);
  EXPECT_NE(ProductLog(kInstall), "") << "the product was started";
}

// Cancel confirmed in the middle of an upgrade: the earlier installation comes back.
TEST_F(ProgressTest, ConfirmedCancelDuringUnpackingRestoresTheEarlierInstallation) {
  InstallEarlierRelease();
  const std::map<std::string, std::string> before = FolderBytes();
  GatedSetup setup("\"" + dist_.SetupExe() + "\"");
  ASSERT_TRUE(setup.gated());
  ASSERT_TRUE(AcceptWelcomeDialog(setup.process(), kInstall));
  const size_t stopped = EntryIndex("KESTRA.HLP");
  GatedRun run = Serve(setup, AtProgressPoint("KESTRA.HLP", 10), [&](const Question& q) {
    // Setup waits in the middle of the entry: part of it is written, the entries before it
    // are complete and none after it has begun (the earlier release's file is still there).
    LONGLONG partial = FileSize(Installed(files_[stopped].name));
    EXPECT_GT(partial, 0);
    EXPECT_LT(partial, static_cast<LONGLONG>(files_[stopped].data.size()));
    for (size_t entry = 0; entry < stopped; ++entry) ExpectUnpacked(entry);
    EXPECT_EQ(ReadFileBytes(Installed(files_[stopped + 1].name)),
              "earlier " + files_[stopped + 1].name);
    TakeScreenshots(q);
    return IDYES;
  });
  EXPECT_EQ(setup.process().ExitCode(), 0u);
  ASSERT_EQ(run.questions.size(), 1u);
  ExpectQuestionBox(run.questions[0]);
  EXPECT_EQ(run.questions[0].shown.fileName, files_[stopped].name);
  EXPECT_EQ(run.questions[0].shown.position, run.questions[0].clickedAt.position);
  ExpectStopsAfterYes(run, {{kGateClosing, files_[stopped].name}});
  ExpectOnlyTheClosingNotice(run);

  EXPECT_TRUE(FolderBytes() == before) << "the earlier installation byte for byte, nothing else";
  EXPECT_FALSE(PathExists(Installed("KSSETUP.$$$")));
}

TEST_F(ProgressTest, ConfirmedCancelDuringTheSideFilesStopsInTheNextFileAndRemovesIt) {
  GatedSetup setup("\"" + dist_.SetupExe() + "\"");
  ASSERT_TRUE(setup.gated());
  ASSERT_TRUE(AcceptWelcomeDialog(setup.process(), kInstall));
  const int asked = 2, stoppedRow = 3;
  GatedRun run = Serve(
      setup,
      [&](const GateStop& stop) {
        return stop.kind == kGateFileShown && stop.fileName == kSideFileNames[asked];
      },
      [&](const Question&) {
        EXPECT_FALSE(PathExists(Installed(kSideFileNames[stoppedRow])));
        return IDYES;
      });
  EXPECT_EQ(setup.process().ExitCode(), 0u);
  ASSERT_EQ(run.questions.size(), 1u);
  ExpectQuestionBox(run.questions[0]);
  EXPECT_EQ(run.questions[0].shown.fileName, kSideFileNames[asked]);
  ExpectStopsAfterYes(run, {{kGateFileShown, kSideFileNames[stoppedRow]},
                            {kGateClosing, kSideFileNames[stoppedRow]}});
  ExpectOnlyTheClosingNotice(run);

  // The folder was empty and is again: the files copied and the one cut short are gone.
  EXPECT_EQ(FileNames(kInstall), std::vector<std::string>{});
  EXPECT_TRUE(PathExists(kInstall)) << "the folder setup did not create stays";
}

TEST_F(ProgressTest, MeterReachesHundredPercentBeforeTheDialogGoes) {
  // A main executable that cannot be replaced keeps the dialog on the screen behind the
  // failure messages, so its final state can be seen.
  WriteFileBytes(Installed("KESTRA32.EXE"), "in use");
  ExclusiveHold held(Installed("KESTRA32.EXE"));
  ASSERT_TRUE(held.held());
  ChildProcess setup("\"" + dist_.SetupExe() + "\"");
  ASSERT_TRUE(AcceptWelcomeDialog(setup, kInstall));
  std::optional<MessageBoxInfo> failure = NextBox(setup);
  ASSERT_TRUE(failure);
  EXPECT_EQ(failure->text, "Cannot open " + kInstall + "\\KESTRA32.EXE for writing");
  HWND dialog = failure->owner;
  ASSERT_TRUE(IsWindowVisible(dialog));
  Snapshot end = Look(dialog);
  EXPECT_EQ(end.fileName, files_.back().name) << "the archive's last entry";
  EXPECT_EQ(end.range, expectedRange_);
  EXPECT_EQ(end.position, end.range) << "100%";
  SlideAside(failure->window, dialog);
  EXPECT_TRUE(SaveScreenshot(CurrentTestName()));
  Answer(*failure, IDOK);

  std::optional<MessageBoxInfo> notice = NextBox(setup);
  ASSERT_TRUE(notice);
  EXPECT_EQ(notice->text, MSG_TEXT_1006);
  EXPECT_TRUE(IsWindowVisible(dialog)) << "the notice comes over the dialog";
  Answer(*notice, IDOK);
  EXPECT_TRUE(setup.Wait(10000));
  EXPECT_EQ(FileNames(kInstall), std::vector<std::string>{"KESTRA32.EXE"}) << "rolled back";
}

}  // namespace
