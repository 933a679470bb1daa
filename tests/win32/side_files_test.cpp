// The side files: the check against SETUP.EXE's time and the progress total (check mode), the
// copy with its meter updates, times and Cancel (copy mode), and every failure's message.
#include "distfiles/side_files.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "common/setup_state.h"
#include "resources/catalogue.h"
#include "support/ui_robot.h"
#include "support/wine_env.h"
#include "ui/meter.h"
#include "ui/meter_messages.h"
#include "ui/progress_dialog.h"
#include "win32/own_resources.h"

namespace {

const char* const kNames[] = {"README.TXT",   "KESTRA.TXT",  "LICENSE.TXT", "VENDOR.TXT",
                              "WHATSNEW.TXT", "FILE_ID.DIZ", "ORDER.TXT"};

const FILETIME kSetupTime = {0x5A3C1E00, 0x01D9C0B4};  // 2023, an even second

FILETIME Shifted(FILETIME time, LONGLONG ticks) {
  ULARGE_INTEGER value = {{time.dwLowDateTime, time.dwHighDateTime}};
  value.QuadPart += ticks;
  return {value.LowPart, value.HighPart};
}

bool operator==(const FILETIME& a, const FILETIME& b) {
  return CompareFileTime(&a, &b) == 0;
}

std::string Bytes(size_t count, char seed) {
  std::string bytes(count, '\0');
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<char>(seed + i * 7 + i / 251);
  return bytes;
}

std::string SzddHeader(DWORD expandedSize) {
  std::string header =
      "SZDD\x88\xF0\x27\x33"
      "A_";
  for (int shift = 0; shift < 32; shift += 8) header += static_cast<char>(expandedSize >> shift);
  return header;
}

std::string Expand(const char* format, const std::string& value) {
  std::string text = format;
  text.replace(text.find("%s"), 2, value);
  return text;
}

int PressOk(const MessageBoxInfo&) {
  return IDOK;
}

// Every MTR_SETPOS the copier sends to the dialog's meter, and every file name it shows.
struct MeterLog {
  static inline std::vector<LRESULT> positions;
  static inline WNDPROC meterProc = nullptr;
  static LRESULT CALLBACK Record(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == MTR_SETPOS) positions.push_back(static_cast<LRESULT>(wParam));
    return CallWindowProcA(meterProc, window, message, wParam, lParam);
  }
};

class SideFilesTest : public testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterMeterClass(GetModuleHandleA(nullptr)); }

  void SetUp() override {
    UseOwnResources();
    lstrcpyA(setupState.sourceFolder, (source_.path() + "\\").c_str());
    lstrcpyA(setupState.installFolder, (install_.path() + "\\").c_str());
    setupState.setupWriteTime = kSetupTime;
    for (size_t i = 0; i < std::size(kNames); ++i)
      WriteSideFile(kNames[i], Bytes(1000 * (i + 1), static_cast<char>('a' + i)));
  }
  void TearDown() override {
    if (setupState.progressDialog) DestroyWindow(setupState.progressDialog);
    setupState = SetupState{};
  }

  void WriteSideFile(const std::string& name, const std::string& bytes,
                     FILETIME time = kSetupTime) {
    WriteFileBytes(source_ / name, bytes);
    SetLastWriteTime(source_ / name, time);
    contents_[name] = bytes;
  }

  // The progress dialog as the setup sequence has it while copying; its meter's updates are
  // recorded.
  void OpenProgressDialog() {
    setupState.progressDialog = CreateProgressDialog();
    ASSERT_NE(setupState.progressDialog, nullptr);
    ShowWindow(setupState.progressDialog, SW_SHOW);
    HWND meter = GetDlgItem(setupState.progressDialog, kProgressMeterItem);
    MeterLog::positions.clear();
    MeterLog::meterProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(meter, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MeterLog::Record)));
  }

  std::vector<MessageBoxInfo> Run(
      bool copy, bool* result, const std::function<void()>& before = [] {}) {
    return AnswerOwnBoxesDuring(
        [&] {
          before();
          *result = copy ? CopySideFiles(setupState.progressDialog) : CheckSideFiles(nullptr);
        },
        PressOk);
  }

  void ExpectCopied(const std::string& name) {
    EXPECT_EQ(ReadFileBytes(install_ / name), contents_[name]) << name;
  }

  TestFolder source_{"C:\\ks-side-source"};
  TestFolder install_{"C:\\ks-side-install"};
  std::map<std::string, std::string> contents_;
};

TEST_F(SideFilesTest, CheckAddsUpTheSizesAndWritesNothing) {
  setupState.totalBytes = 5;
  bool passed = false;
  EXPECT_TRUE(Run(false, &passed).empty());
  EXPECT_TRUE(passed);
  EXPECT_EQ(setupState.totalBytes, 5u + 28000u) << "1000 + 2000 + ... + 7000 added";
  for (const char* name : kNames) EXPECT_FALSE(PathExists(install_ / name));
}

TEST_F(SideFilesTest, SzddFileCountsExpandedButIsCopiedAsItIs) {
  std::string compressed = SzddHeader(100000) + Bytes(300, 'z');
  WriteSideFile("LICENSE.TXT", compressed);
  bool passed = false;
  Run(false, &passed);
  EXPECT_TRUE(passed);
  EXPECT_EQ(setupState.totalBytes, 28000u - 3000u + 100000u);
  EXPECT_TRUE(Run(true, &passed).empty());
  EXPECT_TRUE(passed);
  EXPECT_EQ(ReadFileBytes(install_ / "LICENSE.TXT"), compressed);
}

TEST_F(SideFilesTest, OnlyACompleteSzddHeaderGivesTheExpandedSize) {
  std::string header = SzddHeader(0x01020304);
  struct Case {
    const char* what;
    std::string bytes;
    DWORD size;
  } cases[] = {
      {"header alone", header, 0x01020304},
      {"header and data", header + "data", 0x01020304},
      {"one byte short", header.substr(0, 13), 12345},
      {"another signature", "SZDD\x88\xF0\x27\x34" + header.substr(8), 12345},
      {"lower case", "szdd" + header.substr(4), 12345},
      {"empty", "", 12345},
  };
  for (const Case& c : cases) {
    WriteFileBytes(source_ / "probe", c.bytes);
    EXPECT_EQ(CompressedSize((source_ / "probe").c_str(), 12345), c.size) << c.what;
  }
  EXPECT_EQ(CompressedSize((source_ / "absent").c_str(), 77), 77u);
}

TEST_F(SideFilesTest, MissingFileIsNamed) {
  for (const char* name : {"ORDER.TXT", "README.TXT"}) {
    DeleteFileA((source_ / name).c_str());
    for (bool copy : {false, true}) {
      bool passed = true;
      auto boxes = Run(copy, &passed);
      EXPECT_FALSE(passed);
      ASSERT_EQ(boxes.size(), 1u) << name;
      EXPECT_EQ(boxes[0].text, Expand(MSG_TEXT_1013, name));
      EXPECT_EQ(boxes[0].caption, "Kestra Setup");
      EXPECT_EQ(boxes[0].icon, BoxIcon::kError);
    }
    WriteSideFile(name, "back\r\n");
  }
}

TEST_F(SideFilesTest, AnyTimeDifferenceIsRejected) {
  struct Case {
    const char* what;
    LONGLONG ticks;
  } cases[] = {
      {"one microsecond later", 10},      {"one second later", 10000000},
      {"one second earlier", -10000000},  {"two seconds later", 20000000},
      {"one day earlier", -864000000000},
  };
  for (const Case& c : cases) {
    WriteSideFile("VENDOR.TXT", "vendor\r\n", Shifted(kSetupTime, c.ticks));
    ASSERT_FALSE(LastWriteTime(source_ / "VENDOR.TXT") == kSetupTime) << c.what;
    bool passed = true;
    auto boxes = Run(false, &passed);
    EXPECT_FALSE(passed) << c.what;
    ASSERT_EQ(boxes.size(), 1u) << c.what;
    EXPECT_EQ(boxes[0].text, Expand(MSG_TEXT_1023, "VENDOR.TXT"));
    EXPECT_EQ(boxes[0].icon, BoxIcon::kError);
  }
}

TEST_F(SideFilesTest, CopiesAreExactWithTheSourceTimeInAllThreeTimes) {
  WriteSideFile("FILE_ID.DIZ", "");
  OpenProgressDialog();
  bool passed = false;
  EXPECT_TRUE(Run(true, &passed).empty());
  EXPECT_TRUE(passed);
  for (const char* name : kNames) {
    // The times first: reading the contents would move the last-access time.
    HANDLE file = CreateFileA((install_ / name).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    FILETIME created, accessed, written;
    ASSERT_TRUE(GetFileTime(file, &created, &accessed, &written));
    CloseHandle(file);
    EXPECT_TRUE(written == kSetupTime) << name;
    EXPECT_TRUE(accessed == kSetupTime) << name;
    EXPECT_TRUE(created == kSetupTime) << name;
    ExpectCopied(name);
  }
  EXPECT_TRUE(PathExists(install_ / "FILE_ID.DIZ")) << "an empty side file is copied empty";
  EXPECT_EQ(ControlText(GetDlgItem(setupState.progressDialog, kProgressFileNameItem)), "ORDER.TXT");
  EXPECT_EQ(setupState.copiedBytes, 28000u - 6000u);
}

TEST_F(SideFilesTest, MeterMovesOncePerTenKilobytesCopied) {
  // One file carries all the bytes; the others are empty. Sizes one below, at and one above
  // the meter step and the copy block.
  struct Case {
    size_t size;
    std::vector<LRESULT> positions;
  } cases[] = {
      {10239, {}},
      {10240, {1}},
      {10241, {1}},
      {15359, {1}},
      {15360, {1}},
      {15361, {1}},
      {25599, {1}},
      {25600, {1, 2}},
      {30720, {1, 3}},
      {46080, {1, 3, 4}},
      {102400, {1, 3, 4, 6, 7, 9, 10}},
  };
  for (const char* name : kNames) WriteSideFile(name, "");
  for (const Case& c : cases) {
    WriteSideFile("KESTRA.TXT", Bytes(c.size, 'k'));
    setupState.copiedBytes = setupState.lastReportedBytes = 0;
    OpenProgressDialog();
    bool passed = false;
    Run(true, &passed);
    EXPECT_TRUE(passed);
    EXPECT_EQ(MeterLog::positions, c.positions) << c.size << " bytes";
    ExpectCopied("KESTRA.TXT");
    DestroyWindow(setupState.progressDialog);
    setupState.progressDialog = nullptr;
  }
}

TEST_F(SideFilesTest, MeterCountsOnAcrossFiles) {
  for (size_t i = 0; i < std::size(kNames); ++i) WriteSideFile(kNames[i], Bytes(51200, 'm'));
  OpenProgressDialog();
  bool passed = false;
  Run(true, &passed);
  EXPECT_TRUE(passed);
  const std::vector<LRESULT>& sent = MeterLog::positions;
  ASSERT_FALSE(sent.empty());
  for (size_t i = 1; i < sent.size(); ++i) EXPECT_GT(sent[i], sent[i - 1]);
  EXPECT_LE(sent.size(), 35u) << "at most one update per 10240 bytes";
  EXPECT_GE(sent.back(), 34);
  EXPECT_LE(sent.back(), 35);
}

TEST_F(SideFilesTest, ConfirmedCancelStopsAfterTheNextFilesFirstBlockAndRemovesIt) {
  for (size_t i = 0; i < std::size(kNames); ++i) WriteSideFile(kNames[i], Bytes(40000, 'c'));
  struct Case {
    int answer;
    bool finished;
  } cases[] = {{IDNO, true}, {IDYES, false}};
  for (const Case& c : cases) {
    RemoveTree(install_.path());
    CreateDirectoryA(install_.path().c_str(), nullptr);
    OpenProgressDialog();
    // The click waits in the queue until the copier looks at it, before the first file.
    PostMessageA(setupState.progressDialog, WM_COMMAND, IDCANCEL, 0);
    bool passed = !c.finished;
    auto boxes = AnswerOwnBoxesDuring([&] { passed = CopySideFiles(setupState.progressDialog); },
                                      [&](const MessageBoxInfo&) { return c.answer; });
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, MSG_TEXT_1005);
    EXPECT_EQ(passed, c.finished);
    EXPECT_EQ(setupState.cancelRequested, !c.finished);
    if (c.finished) {
      for (const char* name : kNames) ExpectCopied(name);
    } else {
      // README.TXT was cut short after its first block: no partial copy stays.
      for (const char* name : kNames) EXPECT_FALSE(PathExists(install_ / name)) << name;
    }
    DestroyWindow(setupState.progressDialog);
    setupState.progressDialog = nullptr;
  }
}

TEST_F(SideFilesTest, CopyFailuresAreReportedWithTheRightPath) {
  // 1017: the source cannot be opened; reported with text 1018 naming the source.
  {
    ExclusiveHold held(source_ / "KESTRA.TXT");
    bool passed = true;
    auto boxes = Run(true, &passed);
    EXPECT_FALSE(passed);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, Expand(MSG_TEXT_1018, source_ / "KESTRA.TXT"));
    EXPECT_EQ(boxes[0].icon, BoxIcon::kError);
    ExpectCopied("README.TXT");
    EXPECT_FALSE(PathExists(install_ / "LICENSE.TXT")) << "nothing after the failure";
  }
  // 1018: the destination cannot be created.
  {
    ASSERT_TRUE(CreateDirectoryA((install_ / "VENDOR.TXT").c_str(), nullptr));
    bool passed = true;
    auto boxes = Run(true, &passed);
    EXPECT_FALSE(passed);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, Expand(MSG_TEXT_1018, install_ / "VENDOR.TXT"));
    EXPECT_FALSE(PathExists(install_ / "WHATSNEW.TXT"));
  }
  // 1019: a write that does not take all the bytes (a full device).
  EXPECT_EQ(CopyFileData((source_ / "ORDER.TXT").c_str(), "Z:\\dev\\full"), 1019u);
  // 1017: a source that fails to be read (its first page is not mapped), or is not there. A
  // destination that was begun does not stay.
  struct Case {
    std::string source, destination;
  } cases[] = {
      {"Z:\\proc\\self\\mem", install_ / "unreadable"},
      {source_ / "absent", install_ / "absent"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CopyFileData(c.source.c_str(), c.destination.c_str()), 1017u) << c.source;
    EXPECT_FALSE(PathExists(c.destination)) << c.source;
  }
}

}  // namespace
