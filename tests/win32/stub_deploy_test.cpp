// The stub library step inside a test process: the carried image, reading versions through the
// system's version library, the exclusive-open wait, the write with SETUP.EXE's time, and the
// step's failures, run in a hidden dialog as the welcome dialog runs it.
#include "shellext/stub_deploy.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/files.h"
#include "common/setup_state.h"
#include "resources/catalogue.h"
#include "shellext/file_version.h"
#include "support/ui_robot.h"
#include "support/wine_env.h"
#include "win32/own_resources.h"

namespace {

const FILETIME kSetupTime = {0x5A3C2000, 0x01C45E71};  // some day in 2004

std::string StubLibraryPath() {
  return WinTreePath() + "\\src\\stublib\\KSSHLSTB.DLL";
}

// A hidden dialog with items 106 and 107 in which HandOverStubLibrary runs, as in the welcome
// dialog; the texts of the two items are read as the dialog closes.
struct HandOverRun {
  INT_PTR result;
  std::vector<MessageBoxInfo> boxes;
  std::string item106, item107;
};

HandOverRun* currentRun;

INT_PTR CALLBACK HarnessProc(HWND dialog, UINT message, WPARAM, LPARAM) {
  if (message == WM_INITDIALOG) {
    SetDlgItemTextA(dialog, 106, "first text");
    SetDlgItemTextA(dialog, 107, "second text");
    HandOverStubLibrary(dialog);
    return TRUE;
  }
  if (message == WM_DESTROY) {
    currentRun->item106 = ControlText(GetDlgItem(dialog, 106));
    currentRun->item107 = ControlText(GetDlgItem(dialog, 107));
  }
  return FALSE;
}

std::vector<WORD> HarnessTemplate() {
  std::vector<WORD> t;
  auto dword = [&](DWORD value) {
    t.push_back(LOWORD(value));
    t.push_back(HIWORD(value));
  };
  dword(WS_POPUP | WS_CAPTION);
  dword(0);
  t.insert(t.end(), {2, 0, 0, 200, 100, 0, 0, 0});
  for (WORD id : {106, 107}) {
    if (t.size() % 2) t.push_back(0);
    dword(WS_CHILD | WS_VISIBLE);
    dword(0);
    t.insert(t.end(),
             {8, static_cast<WORD>(id == 106 ? 8 : 32), 180, 20, id, 0xFFFF, 0x0082, 0, 0});
  }
  return t;
}

HandOverRun RunHandOver() {
  HandOverRun run = {};
  currentRun = &run;
  std::vector<WORD> dialogTemplate = HarnessTemplate();
  run.boxes = AnswerOwnBoxesDuring(
      [&] {
        run.result = DialogBoxIndirectParamA(GetModuleHandleA(nullptr),
                                             reinterpret_cast<DLGTEMPLATE*>(dialogTemplate.data()),
                                             nullptr, HarnessProc, 0);
      },
      [](const MessageBoxInfo& box) { return box.buttons.front(); });
  return run;
}

class StubDeployTest : public testing::Test {
 protected:
  void SetUp() override {
    UseInstallFolder(folder_.path() + "\\");
    setupState.setupWriteTime = kSetupTime;
  }
  void UseInstallFolder(const std::string& folder) {
    lstrcpynA(setupState.installFolder, folder.c_str(), kPathChars);
  }

  SetupExeResources setupExe_;
  TestFolder folder_{"C:\\ks-stubdeploy"};
};

TEST_F(StubDeployTest, TheCarriedImageIsTheStubLibraryByteForByte) {
  ASSERT_TRUE(LoadStubImage());
  std::string carried(reinterpret_cast<const char*>(stubImage), stubImageSize);
  EXPECT_EQ(carried, ReadFileBytes(StubLibraryPath()));
}

TEST_F(StubDeployTest, ReadsFileVersionsThroughTheSystemVersionLibrary) {
  FileVersion version = {1, 1};
  ASSERT_TRUE(ReadFileVersion(StubLibraryPath().c_str(), &version));
  EXPECT_EQ(version.ms, 0x00040001u);
  EXPECT_EQ(version.ls, 0u);
  // SETUP.EXE itself has no version resource.
  WriteFileBytes(folder_ / "plain.txt", "no version here");
  for (std::string path : {folder_ / "plain.txt", folder_ / "missing.dll", SetupExePath()}) {
    version = {1, 1};
    EXPECT_FALSE(ReadFileVersion(path.c_str(), &version)) << path;
    EXPECT_EQ(version.ms, 0u) << path;
    EXPECT_EQ(version.ls, 0u) << path;
  }
}

TEST_F(StubDeployTest, TheScanFindsVersion4100InTheCarriedImage) {
  ASSERT_TRUE(LoadStubImage());
  uint8_t record[kFixedInfoBytes];
  ASSERT_TRUE(FindFixedFileInfo(stubImage, stubImageSize, 20, record));
  FileVersion carried = FileVersionOfRecord(record);
  EXPECT_EQ(carried.ms, 0x00040001u);
  EXPECT_EQ(carried.ls, 0u);
}

TEST_F(StubDeployTest, OnlyAFileThatCanBeOpenedExclusivelyForWritingIsFree) {
  WriteFileBytes(folder_ / "free.dll", "x");
  WriteFileBytes(folder_ / "held.dll", "x");
  WriteFileBytes(folder_ / "readonly.dll", "x");
  ReadOnlyFile readOnly(folder_ / "readonly.dll");
  ExclusiveHold hold(folder_ / "held.dll");
  struct Case {
    std::string path;
    bool free;
  } cases[] = {{"", true},
               {folder_ / "free.dll", true},
               {folder_ / "missing.dll", false},
               {folder_ / "held.dll", false},
               {folder_ / "readonly.dll", false}};
  for (const Case& c : cases) EXPECT_EQ(IsFileFree(c.path.c_str()), c.free) << c.path;
  EXPECT_TRUE(IsFileFree(nullptr));
}

int timerTicks;
void CALLBACK CountTick(HWND, UINT, UINT_PTR, DWORD) {
  ++timerTicks;
}

// The process's own processor time, user and kernel, in milliseconds.
DWORD ProcessorMilliseconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  ULONGLONG ticks = (ULONGLONG(kernel.dwHighDateTime) << 32 | kernel.dwLowDateTime) +
                    (ULONGLONG(user.dwHighDateTime) << 32 | user.dwLowDateTime);
  return static_cast<DWORD>(ticks / 10000);
}

// Both waits: the wait for the shell's libraries and the write test of the welcome dialog.
TEST_F(StubDeployTest, TheWaitsLastTheirTimeServeMessagesAndLeaveTheProcessorFree) {
  std::string held = folder_ / "held.dll";
  WriteFileBytes(held, "x");
  ExclusiveHold hold(held);
  struct Case {
    const char* what;
    std::function<bool()> wait;
  } cases[] = {
      {"libraries", [&] { return WaitForShellExtensionFiles(5000, "", held.c_str()); }},
      {"exclusive open", [&] { return WaitForExclusiveOpen(held.c_str(), 5000); }},
  };
  for (const Case& c : cases) {
    timerTicks = 0;
    UINT_PTR timer = SetTimer(nullptr, 0, 50, CountTick);
    DWORD start = GetTickCount(), busyBefore = ProcessorMilliseconds();
    EXPECT_FALSE(c.wait()) << c.what;
    DWORD elapsed = GetTickCount() - start, busy = ProcessorMilliseconds() - busyBefore;
    KillTimer(nullptr, timer);
    EXPECT_GE(elapsed, 5000u) << c.what;
    EXPECT_LT(elapsed, 5300u) << c.what;
    EXPECT_GE(timerTicks, 50) << c.what << ": timer messages are dispatched during the wait";
    EXPECT_LT(busy, elapsed / 10) << c.what << ": the wait sleeps between its tries";
  }
}

DWORD WINAPI ReleaseLater(void* hold) {
  Sleep(400);
  static_cast<ExclusiveHold*>(hold)->Release();
  return 0;
}

TEST_F(StubDeployTest, TheWaitEndsAsSoonAsBothFilesAreFree) {
  std::string stub = folder_ / "KSSHLSTB.DLL", worker = folder_ / "ksshlex1.dll";
  WriteFileBytes(stub, "x");
  WriteFileBytes(worker, "x");
  DWORD start = GetTickCount();
  EXPECT_TRUE(WaitForShellExtensionFiles(5000, "", ""));
  EXPECT_TRUE(WaitForShellExtensionFiles(5000, stub.c_str(), worker.c_str()));
  EXPECT_LT(GetTickCount() - start, 200u);

  auto hold = std::make_unique<ExclusiveHold>(worker);
  HANDLE releaser = CreateThread(nullptr, 0, ReleaseLater, hold.get(), 0, nullptr);
  start = GetTickCount();
  EXPECT_TRUE(WaitForShellExtensionFiles(5000, stub.c_str(), worker.c_str()));
  DWORD elapsed = GetTickCount() - start;
  EXPECT_GE(elapsed, 350u);
  EXPECT_LT(elapsed, 1500u);
  WaitForSingleObject(releaser, INFINITE);
  CloseHandle(releaser);
}

TEST_F(StubDeployTest, WritesTheImageWithSetupsTimeAsAllThreeFileTimes) {
  HandOverRun run = RunHandOver();
  EXPECT_EQ(run.result, 1);
  EXPECT_TRUE(run.boxes.empty());
  EXPECT_EQ(run.item106, "first text") << "nothing to wait for, nothing shown";
  EXPECT_EQ(run.item107, "second text");
  WIN32_FILE_ATTRIBUTE_DATA data = {};
  ASSERT_TRUE(
      GetFileAttributesExA((folder_ / "KSSHLSTB.DLL").c_str(), GetFileExInfoStandard, &data));
  for (const FILETIME& time : {data.ftCreationTime, data.ftLastAccessTime, data.ftLastWriteTime}) {
    EXPECT_EQ(time.dwLowDateTime, kSetupTime.dwLowDateTime);
    EXPECT_EQ(time.dwHighDateTime, kSetupTime.dwHighDateTime);
  }
  EXPECT_EQ(ReadFileBytes(folder_ / "KSSHLSTB.DLL"), ReadFileBytes(StubLibraryPath()));
}

// A write that stops short (here an image whose second page cannot be read, as a full disk
// would stop it) or a stub that cannot be replaced leaves the old stub or none, never a part.
TEST_F(StubDeployTest, AFailedWriteLeavesTheOldStubOrNone) {
  SYSTEM_INFO system;
  GetSystemInfo(&system);
  DWORD page = system.dwPageSize;
  auto* memory = static_cast<uint8_t*>(
      VirtualAlloc(nullptr, 2 * page, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE));
  ASSERT_NE(memory, nullptr);
  memset(memory, 'S', page);
  DWORD oldProtection;
  ASSERT_TRUE(VirtualProtect(memory + page, page, PAGE_NOACCESS, &oldProtection));
  std::string stub = folder_ / "KSSHLSTB.DLL";
  struct Case {
    const char* what;
    std::string before;  // "" for no stub
    bool held;
  } cases[] = {
      {"short write, no stub", "", false},
      {"short write, old stub", "old stub", false},
      {"old stub in use", "old stub", true},
  };
  for (const Case& c : cases) {
    DeleteFileA(stub.c_str());
    if (!c.before.empty()) WriteFileBytes(stub, c.before);
    std::unique_ptr<ExclusiveHold> hold;
    if (c.held) hold = std::make_unique<ExclusiveHold>(stub);
    stubImage = memory;
    stubImageSize = c.held ? page : 2 * page;
    EXPECT_FALSE(WriteStubLibrary()) << c.what;
    hold.reset();
    EXPECT_EQ(ReadFileBytes(stub), c.before) << c.what;
    EXPECT_EQ(FileNames(folder_.path()), c.before.empty()
                                             ? std::vector<std::string>{}
                                             : std::vector<std::string>{"KSSHLSTB.DLL"})
        << c.what;
  }
  VirtualFree(memory, 0, MEM_RELEASE);
}

TEST_F(StubDeployTest, ReportsAMissingImageAndAStubLibraryThatCannotBeCreated) {
  struct Case {
    const char* what;
    bool withImage;
    std::string installFolder;
    std::string text;
  } cases[] = {
      {"no image in the program", false, folder_.path() + "\\", MSG_TEXT_1053},
      {"install folder missing", true, "C:\\ks-stubdeploy-missing\\", MSG_TEXT_1054},
      {"path too long", true, "C:\\" + std::string(246, 'k') + "\\", MSG_TEXT_1054},
  };
  for (const Case& c : cases) {
    // This test program carries the catalogue but no stub library image.
    setupState.instance = c.withImage ? setupExe_.module() : GetModuleHandleA(nullptr);
    UseInstallFolder(c.installFolder);
    HandOverRun run = RunHandOver();
    EXPECT_EQ(run.result, MSG_NOT_INSTALLED) << c.what;
    ASSERT_EQ(run.boxes.size(), 1u) << c.what;
    EXPECT_EQ(run.boxes[0].text, c.text) << c.what;
    EXPECT_EQ(run.boxes[0].caption, "Kestra Setup") << c.what;
    EXPECT_EQ(run.boxes[0].icon, BoxIcon::kError) << c.what;
    EXPECT_EQ(run.boxes[0].buttons, std::vector<int>{IDOK}) << c.what;
    EXPECT_FALSE(PathExists(folder_ / "KSSHLSTB.DLL")) << c.what;
  }
}

}  // namespace
