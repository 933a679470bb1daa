// SETUP.EXE's stub library step, seen from outside: the libraries already in the install folder,
// the shell holding them open (a fixture process), the wait shown in the welcome dialog's two
// texts, the offer to turn the shell extension off, and the files, times and registry after.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "resources/catalogue.h"
#include "shellext/shell_extension_keys.h"
#include "support/distribution.h"
#include "support/registry_keys.h"
#include "support/ui_robot.h"
#include "support/wine_env.h"

namespace {

const std::string kInstall = kDefaultInstallFolder;
const std::string kStub = kInstall + "\\KSSHLSTB.DLL";
const std::string kWorker = kInstall + "\\ksshlex1.dll";
const char kWelcomeText106[] =
    "Setup will install Kestra into the following folder, which it will create if necessary.";
const char kWelcomeText107[] =
    "If you want to install Kestra in a different folder and/or drive, type the name of the "
    "folder below:";
const char kSwitchKey[] = "Software\\Ferrule Works\\Kestra\\fm";

std::string Composed(std::initializer_list<const char*> pieces) {
  std::string text;
  for (const char* piece : pieces) text += piece[0] == '!' ? piece + 1 : piece;
  return text;
}

const std::string kOfferText =
    Composed({MSG_TEXT_1039, MSG_TEXT_1040, MSG_TEXT_1041, MSG_TEXT_1042});
const std::string kTurnedOffText = Composed({MSG_TEXT_1046, MSG_TEXT_1047, MSG_TEXT_1048});

std::string CarriedImage() {
  return ReadFileBytes(WinTreePath() + "\\src\\stublib\\KSSHLSTB.DLL");
}

// The carried image with its file version changed to `ms`.`ls` (the fixed record patched), or
// with bytes appended: another library of the same version.
std::string StubWithVersion(uint32_t ms, uint32_t ls) {
  std::string image = CarriedImage();
  size_t record = image.find(std::string("\xBD\x04\xEF\xFE", 4));
  EXPECT_NE(record, std::string::npos);
  for (int i = 0; i < 4; ++i) {
    image[record + 8 + i] = static_cast<char>(ms >> (8 * i));
    image[record + 12 + i] = static_cast<char>(ls >> (8 * i));
  }
  return image;
}

std::string SameVersionOtherBytes() {
  return CarriedImage() + std::string(512, '\x5A');
}

struct FileTimes {
  FILETIME creation, access, write;
};

FileTimes TimesOf(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data);
  return {data.ftCreationTime, data.ftLastAccessTime, data.ftLastWriteTime};
}

bool operator==(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// The fixture process that holds files open, as the shell holds its extension libraries, until
// Release: without sharing, or letting others read, as a loaded library does.
enum class Sharing { kNone, kRead };

class FileHolder {
 public:
  explicit FileHolder(const std::vector<std::string>& paths, Sharing sharing = Sharing::kNone) {
    static int serial = 0;
    name_ =
        "ks-file-holder-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
    held_ = CreateEventA(nullptr, TRUE, FALSE, (name_ + ".held").c_str());
    release_ = CreateEventA(nullptr, TRUE, FALSE, (name_ + ".release").c_str());
    std::string command = FixturePath("file_holder.exe") + " " + name_;
    if (sharing == Sharing::kRead) command += " /share-read";
    for (const std::string& path : paths) command += " \"" + path + "\"";
    process_ = std::make_unique<ChildProcess>(command);
    WaitUntil([&] { return WaitForSingleObject(held_, 0) == WAIT_OBJECT_0 || process_->Wait(0); },
              10000);
    EXPECT_EQ(WaitForSingleObject(held_, 0), WAIT_OBJECT_0) << "the holder cannot open its files";
  }
  ~FileHolder() {
    Release();
    CloseHandle(held_);
    CloseHandle(release_);
  }
  void Release() {
    SetEvent(release_);
    process_->Wait(5000);
  }

 private:
  std::string name_;
  HANDLE held_, release_;
  std::unique_ptr<ChildProcess> process_;
};

// What the welcome dialog's two texts showed, and when (ms after the dialog appeared).
struct Shown {
  DWORD at;
  std::string text106, text107;
  size_t Stars() const {
    return text107.find_first_not_of('*') == std::string::npos ? text107.size() : 0;
  }
};

struct HandOverRun {
  std::vector<MessageBoxInfo> boxes;
  std::vector<DWORD> boxTimes;  // ms after the dialog appeared
  DWORD exitCode;
  std::vector<Shown> shown;  // every change of the two texts, in order
  size_t MostStars() const {
    size_t most = 0;
    for (const Shown& s : shown) most = std::max(most, s.Stars());
    return most;
  }
  bool Showed(const std::string& text106) const {
    for (const Shown& s : shown)
      if (s.text106 == text106) return true;
    return false;
  }
};

struct DialogSearch {
  DWORD processId;
  HWND found;
};

BOOL CALLBACK CheckForWelcomeDialog(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<DialogSearch*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner != search->processId || !GetDlgItem(window, 106) || !GetDlgItem(window, 107))
    return TRUE;
  search->found = window;
  return FALSE;
}

// The welcome dialog: the process's top-level window, visible or not, with items 106 and 107.
HWND FindWelcomeDialog(DWORD processId) {
  DialogSearch search = {processId, nullptr};
  EnumWindows(CheckForWelcomeDialog, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The text of item `id`; false when it cannot be read, as while the dialog is destroyed.
bool ReadItem(HWND dialog, int id, std::string* text) {
  char buffer[512];
  DWORD_PTR length = 0;
  HWND item = GetDlgItem(dialog, id);
  if (!item ||
      !SendMessageTimeoutA(item, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer),
                           SMTO_ABORTIFHUNG, 2000, &length))
    return false;
  text->assign(buffer, length);
  return IsWindow(item);
}

using OnShown = std::function<void(const Shown&, HWND dialog)>;

// Runs SETUP.EXE from `dist`, answering its boxes with `answer`, while a watcher records the
// welcome dialog's texts every few milliseconds and hands each change to `onShown`.
HandOverRun RunSetup(const Distribution& dist,
                     const std::function<int(const MessageBoxInfo&)>& answer,
                     const OnShown& onShown = {}) {
  HandOverRun run = {};
  ChildProcess setup("\"" + dist.SetupExe() + "\"");
  std::atomic<DWORD> appeared = 0;
  std::atomic<bool> done = false;
  std::thread watcher([&] {
    Shown last = {};
    bool okPressed = false;
    while (!done) {
      HWND dialog = FindWelcomeDialog(setup.id());
      // The welcome dialog gets the install folder and OK once.
      if (dialog && !okPressed && SetControlText(dialog, 101, kInstall) &&
          ClickButton(dialog, IDOK))
        okPressed = true;
      if (dialog) {
        if (!appeared) appeared = GetTickCount();
        Shown now = {GetTickCount() - appeared, {}, {}};
        bool read = ReadItem(dialog, 106, &now.text106) && ReadItem(dialog, 107, &now.text107);
        bool changed = now.text106 != last.text106 || now.text107 != last.text107;
        if (read && changed && !now.text106.empty()) {
          run.shown.push_back(now);
          if (onShown) onShown(now, dialog);
          last = now;
        }
      }
      Sleep(10);
    }
  });
  run.boxes = AnswerBoxesUntilExit(setup, [&](const MessageBoxInfo& box) {
    run.boxTimes.push_back(appeared ? GetTickCount() - appeared : 0);
    return answer(box);
  });
  done = true;
  watcher.join();
  run.exitCode = setup.ExitCode();
  return run;
}

// Shows the hidden stand-in dialog and takes a screenshot of the screen.
void ScreenshotOfDialog(HWND dialog, const std::string& name) {
  ShowWindowAsync(dialog, SW_SHOWNOACTIVATE);
  Sleep(400);
  EXPECT_TRUE(SaveScreenshot(name));
}

// The "shlExt" switch: its type and its text. (Setup writes the one byte "0"; Wine stores a
// terminator with it, so the byte count itself cannot be seen here.)
std::optional<std::string> SwitchValue(DWORD* type) {
  HKEY key;
  if (RegOpenKeyExA(HKEY_CURRENT_USER, kSwitchKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return std::nullopt;
  char data[16] = "";
  DWORD size = sizeof data - 1;
  LONG status =
      RegQueryValueExA(key, "shlExt", nullptr, type, reinterpret_cast<BYTE*>(data), &size);
  RegCloseKey(key);
  if (status != ERROR_SUCCESS) return std::nullopt;
  return std::string(data);
}

// How many of the shell extension's class and handler keys are there.
int ShellExtensionKeyCount() {
  int count = 0;
  for (const char* classId : kShellExtensionClassIds) count += KeyExists(ClassKey(classId));
  for (const char* handler : kShellExtensionHandlerKeys) count += KeyExists(handler);
  return count;
}

int PressNo(const MessageBoxInfo& box) {
  return box.buttons.back();
}

class StubHandoverTest : public testing::Test {
 protected:
  void SetUp() override {
    RegDeleteKeyA(HKEY_CURRENT_USER, kSwitchKey);
    dist_.AddSideFiles();
    dist_.SetProductArchive();
    setupTime_ = LastWriteTime(dist_.SetupExe());
    PrepareInstallFolder();
  }
  // A fresh, empty install folder (setup.ks brings the product).
  void PrepareInstallFolder() {
    RemoveTree(kInstall);
    ASSERT_TRUE(CreateDirectoryA(kInstall.c_str(), nullptr));
  }
  void TearDown() override { RegDeleteKeyA(HKEY_CURRENT_USER, kSwitchKey); }

  // The stub library written by this run: the carried image with SETUP.EXE's time as its
  // creation, access and write time. (The times are read before the bytes.)
  void ExpectStubWritten() {
    FileTimes times = TimesOf(kStub);
    EXPECT_TRUE(times.creation == setupTime_) << "creation time";
    EXPECT_TRUE(times.access == setupTime_) << "last-access time";
    EXPECT_TRUE(times.write == setupTime_) << "last-write time";
    EXPECT_EQ(ReadFileBytes(kStub), CarriedImage());
  }
  void ExpectGoneOn(const HandOverRun& run) {
    EXPECT_TRUE(run.boxes.empty()) << run.boxes[0].text;
    EXPECT_EQ(run.exitCode, 0u);
    EXPECT_NE(ProductLog(kInstall), "") << "setup went on to the product";
  }
  void ExpectNotGoneOn() {
    Sleep(500);
    EXPECT_EQ(ReadFileBytes(kInstall + "\\kestra32.log"), "") << "the product is not started";
  }
  FolderCleanup installFolder_{kInstall};
  Distribution dist_{"C:\\ks-stubhandover"};
  FILETIME setupTime_ = {};
};

TEST_F(StubHandoverTest, WithNeitherLibraryTheStubIsWrittenAtOnce) {
  HandOverRun run = RunSetup(dist_, PressFirstButton);
  ExpectGoneOn(run);
  ExpectStubWritten();
  EXPECT_FALSE(PathExists(kWorker));
  for (const Shown& shown : run.shown) {
    EXPECT_EQ(shown.text106, kWelcomeText106) << "nothing is shown";
    EXPECT_EQ(shown.text107, kWelcomeText107);
  }
}

TEST_F(StubHandoverTest, AStubOfTheSameVersionIsNeitherWaitedForNorWritten) {
  WriteFileBytes(kStub, SameVersionOtherBytes());
  FILETIME before = LastWriteTime(kStub);
  // The shell has it loaded: others may read it, so its version can be read.
  FileHolder shell({kStub}, Sharing::kRead);
  HandOverRun run = RunSetup(dist_, PressFirstButton);
  ExpectGoneOn(run);
  EXPECT_FALSE(run.Showed(MSG_TEXT_1029)) << "no wait";
  shell.Release();
  EXPECT_TRUE(LastWriteTime(kStub) == before);
  EXPECT_EQ(ReadFileBytes(kStub), SameVersionOtherBytes());
}

TEST_F(StubHandoverTest, WithASameVersionStubOnlyTheWorkerIsWaitedFor) {
  WriteFileBytes(kStub, SameVersionOtherBytes());
  WriteFileBytes(kWorker, "worker");
  FILETIME before = LastWriteTime(kStub);
  FileHolder stubUser({kStub}, Sharing::kRead);
  FileHolder workerUser({kWorker});
  HandOverRun run = RunSetup(dist_, PressFirstButton, [&](const Shown& shown, HWND) {
    if (shown.text106 == MSG_TEXT_1029) workerUser.Release();
  });
  ExpectGoneOn(run);
  EXPECT_TRUE(run.Showed(MSG_TEXT_1029)) << "the held worker is waited for";
  stubUser.Release();
  EXPECT_TRUE(LastWriteTime(kStub) == before);
  EXPECT_EQ(ReadFileBytes(kStub), SameVersionOtherBytes());
  EXPECT_EQ(ReadFileBytes(kWorker), "worker");
}

TEST_F(StubHandoverTest, AStubOfAnotherVersionOrNoneIsWaitedForAndOverwritten) {
  struct Case {
    const char* what;
    std::string content;
  } cases[] = {
      {"older 4.0.0.0", StubWithVersion(0x00040000, 0)},
      {"newer 4.1.0.1", StubWithVersion(0x00040001, 1)},
      {"no version resource", ReadFileBytes(FixturePath("KESTRA32.EXE"))},
      {"not a library", "old stub"},
  };
  for (const Case& c : cases) {
    PrepareInstallFolder();
    WriteFileBytes(kStub, c.content);
    FileHolder shell({kStub});
    HandOverRun run = RunSetup(dist_, PressFirstButton, [&](const Shown& shown, HWND) {
      if (shown.text106 == MSG_TEXT_1029) shell.Release();
    });
    ExpectGoneOn(run);
    EXPECT_TRUE(run.Showed(MSG_TEXT_1029)) << c.what << ": the held stub is waited for";
    ExpectStubWritten();
  }
}

TEST_F(StubHandoverTest, WithOnlyTheWorkerPresentOnlyItIsWaitedFor) {
  WriteFileBytes(kWorker, "worker");
  FileHolder shell({kWorker});
  HandOverRun run = RunSetup(dist_, PressFirstButton, [&](const Shown& shown, HWND) {
    if (shown.text106 == MSG_TEXT_1029) shell.Release();
  });
  ExpectGoneOn(run);
  EXPECT_TRUE(run.Showed(MSG_TEXT_1029));
  ExpectStubWritten();
  EXPECT_EQ(ReadFileBytes(kWorker), "worker");
}

// While setup waits for the libraries the dialog takes no input: the close box, Escape and OK
// pressed then change nothing (an OK taken would start the wait again, with no stars), and
// setup goes on once the libraries are free.
TEST_F(StubHandoverTest, TheDialogIgnoresCloseEscapeAndOkDuringTheWait) {
  WriteFileBytes(kWorker, "worker");
  FileHolder shell({kWorker});
  HandOverRun run = RunSetup(dist_, PressFirstButton, [&](const Shown& shown, HWND dialog) {
    if (shown.text106 != MSG_TEXT_1029) return;
    if (shown.Stars() == 1) {
      HWND edit = GetDlgItem(dialog, 101);
      PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
      PostMessageA(edit, WM_KEYDOWN, VK_ESCAPE, 1);
      PostMessageA(edit, WM_KEYUP, VK_ESCAPE, 0xC0000001);
      PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
    }
    if (shown.Stars() == 3) shell.Release();
  });
  ExpectGoneOn(run);
  size_t stars = 0;
  for (const Shown& shown : run.shown) {
    if (shown.text106 != MSG_TEXT_1029) continue;
    EXPECT_GE(shown.Stars(), stars) << "the wait went on";
    stars = shown.Stars();
  }
  EXPECT_EQ(stars, 3u);
  ExpectStubWritten();
}

// Both libraries stay in use for the whole wait: the text, the stars, then the offer.
// Times are taken from the first sight of text 1029, which the robot sees within a few
// milliseconds; the dialog itself may be seen later than it appeared.
void ExpectFullWait(const HandOverRun& run) {
  constexpr DWORD kSlack = 150;
  ASSERT_FALSE(run.shown.empty());
  EXPECT_EQ(run.shown[0].text106, kWelcomeText106);
  EXPECT_EQ(run.shown[0].text107, kWelcomeText107);
  std::optional<DWORD> waitShown;
  size_t stars = 0;
  for (const Shown& shown : run.shown) {
    if (shown.text106 != MSG_TEXT_1029) continue;
    if (!waitShown) {
      waitShown = shown.at;
      EXPECT_GE(shown.at + kSlack, 500u) << "text 1029 only after the first half second";
    }
    EXPECT_EQ(shown.Stars(), shown.text107.size()) << "only stars: " << shown.text107;
    EXPECT_GE(shown.Stars(), stars) << "the row only grows";
    EXPECT_GE(shown.at - *waitShown + kSlack, 1000 * shown.Stars()) << shown.Stars() << " stars";
    stars = shown.Stars();
  }
  ASSERT_TRUE(waitShown);
  EXPECT_EQ(run.MostStars(), 15u);
  ASSERT_FALSE(run.boxes.empty());
  EXPECT_EQ(run.boxes[0].text, kOfferText);
  EXPECT_EQ(run.boxes[0].caption, "Kestra Setup");
  EXPECT_EQ(run.boxes[0].icon, BoxIcon::kError);
  EXPECT_EQ(run.boxes[0].buttons, (std::vector<int>{IDYES, IDNO}));
  DWORD offerAfter = run.boxTimes[0] - *waitShown;
  EXPECT_GE(offerAfter + kSlack, 16000u) << "the offer comes after the whole wait";
  EXPECT_LT(offerAfter, 16000u + 3000);
}

TEST_F(StubHandoverTest, LibrariesThatStayInUseLeadToTheOfferAndNoEndsSetup) {
  WriteFileBytes(kStub, "old stub");
  WriteFileBytes(kWorker, "worker");
  CreatedKeys keys;
  RegisterShellExtension(keys);
  FileHolder shell({kStub, kWorker});
  bool screenshotTaken = false;
  HandOverRun run = RunSetup(
      dist_,
      [&](const MessageBoxInfo& box) {
        if (box.text == kOfferText) {
          EXPECT_TRUE(SaveScreenshot(CurrentTestName() + ".offer"));
        }
        return PressNo(box);
      },
      [&](const Shown& shown, HWND dialog) {
        if (shown.Stars() == 5 && !screenshotTaken) {
          screenshotTaken = true;
          ScreenshotOfDialog(dialog, CurrentTestName() + ".stars");
        }
      });
  ExpectFullWait(run);
  ASSERT_EQ(run.boxes.size(), 2u);
  EXPECT_EQ(run.boxes[1].text, MSG_TEXT_1006);
  EXPECT_EQ(run.boxes[1].icon, BoxIcon::kInformation);
  EXPECT_EQ(run.exitCode, 0u);
  ExpectNotGoneOn();
  DWORD type = 0;
  EXPECT_FALSE(SwitchValue(&type)) << "the switch is not written";
  EXPECT_EQ(ShellExtensionKeyCount(), kShellExtensionClassCount + kShellExtensionHandlerCount)
      << "the registry is not touched";
  shell.Release();
  EXPECT_EQ(ReadFileBytes(kStub), "old stub");
}

TEST_F(StubHandoverTest, YesTurnsTheShellExtensionOffAndSetupEndsQuietly) {
  WriteFileBytes(kStub, "old stub");
  WriteFileBytes(kWorker, "worker");
  CreatedKeys keys;
  RegisterShellExtension(keys);
  FileHolder shell({kStub, kWorker});
  HandOverRun run = RunSetup(dist_, [](const MessageBoxInfo& box) {
    if (box.text == kTurnedOffText) {
      EXPECT_TRUE(SaveScreenshot(CurrentTestName() + ".turned-off"));
    }
    return PressFirstButton(box);
  });
  ExpectFullWait(run);
  ASSERT_EQ(run.boxes.size(), 2u) << "no further message after the notice";
  EXPECT_EQ(run.boxes[1].text, kTurnedOffText);
  EXPECT_EQ(run.boxes[1].caption, "Kestra Setup");
  EXPECT_EQ(run.boxes[1].icon, BoxIcon::kInformation);
  EXPECT_EQ(run.boxes[1].buttons, std::vector<int>{IDOK});
  EXPECT_EQ(run.exitCode, 0u);
  ExpectNotGoneOn();
  DWORD type = 0;
  std::optional<std::string> value = SwitchValue(&type);
  ASSERT_TRUE(value) << "HKCU\\" << kSwitchKey << " shlExt";
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(*value, "0");
  EXPECT_EQ(ShellExtensionKeyCount(), 0) << "the shell extension's keys are removed";
  shell.Release();
  EXPECT_EQ(ReadFileBytes(kStub), "old stub");
}

TEST_F(StubHandoverTest, LibrariesFreedDuringTheKthSecondKeepKMinusOneStars) {
  for (size_t k : {1, 4}) {
    PrepareInstallFolder();
    WriteFileBytes(kStub, "old stub");
    WriteFileBytes(kWorker, "worker");
    FileHolder shell({kStub, kWorker});
    HandOverRun run = RunSetup(dist_, PressFirstButton, [&](const Shown& shown, HWND) {
      if (shown.text106 == MSG_TEXT_1029 && shown.Stars() == k - 1) shell.Release();
    });
    ExpectGoneOn(run);
    EXPECT_TRUE(run.Showed(MSG_TEXT_1029)) << k;
    EXPECT_EQ(run.MostStars(), k - 1) << k;
    ExpectStubWritten();
  }
}

TEST_F(StubHandoverTest, AReadOnlyStubOfAnotherVersionIsNeverFree) {
  WriteFileBytes(kStub, StubWithVersion(0x00040000, 0));
  auto readOnly = std::make_unique<ReadOnlyFile>(kStub);
  HandOverRun run = RunSetup(dist_, PressNo);
  ExpectFullWait(run);
  ASSERT_EQ(run.boxes.size(), 2u);
  EXPECT_EQ(run.boxes[1].text, MSG_TEXT_1006);
  ExpectNotGoneOn();
  readOnly.reset();
  EXPECT_EQ(ReadFileBytes(kStub), StubWithVersion(0x00040000, 0));
}

TEST_F(StubHandoverTest, AVersionLibraryBesideSetupIsNotLoaded) {
  // Not the system's version library: it lacks every version function.
  CopyFileOrFail(FixturePath("ksshlex1.dll"), dist_ / "VERSION.DLL");
  WriteFileBytes(kStub, SameVersionOtherBytes());
  FILETIME before = LastWriteTime(kStub);
  HandOverRun run = RunSetup(dist_, PressFirstButton);
  ExpectGoneOn(run);
  EXPECT_TRUE(LastWriteTime(kStub) == before) << "the version was read with the system's library";
  EXPECT_EQ(ReadFileBytes(kStub), SameVersionOtherBytes());
}

}  // namespace
