// The extractor's Win32 side as SETUP.EXE runs it: file times from the DOS stamp taken as local
// time, OEM names in the ANSI character set, the progress messages reaching a window (and its
// Cancel), and the error box: owned by the progress window, no caption, the error icon.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/setup_state.h"
#include "resources/catalogue.h"
#include "support/ui_robot.h"
#include "support/wine_env.h"
#include "support/zip_writer.h"
#include "ui/progress_messages.h"
#include "unzip/cp1252.h"
#include "unzip/extraction.h"
#include "unzip/job.h"
#include "unzip/platform.h"
#include "unzip/win32/extract_distribution.h"

namespace {

using Strings = std::vector<std::string>;

// Stands in for the progress dialog: records what it receives; WM_APP plays its Cancel button.
struct ProbeState {
  Strings events;
  int cancelAtProgress = -1;  // reply non-zero to this PDM_PROGRESS (1-based)
  int pressCancelAtProgress = -1;
  int progressCount = 0;
};
ProbeState probe;

LRESULT CALLBACK ProbeProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case PDM_SETFILENAME:
      probe.events.push_back("name " + std::string(reinterpret_cast<const char*>(lParam)));
      return TRUE;
    case PDM_PROGRESS:
      probe.events.push_back("progress " + std::to_string(wParam));
      ++probe.progressCount;
      if (probe.progressCount == probe.pressCancelAtProgress) PostMessageA(window, WM_APP, 0, 0);
      return probe.progressCount == probe.cancelAtProgress;
    case WM_APP:
      setupState.cancelRequested = true;
      return 0;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

class ExtractionSeamTest : public testing::Test {
 protected:
  void SetUp() override {
    setupExe_ = LoadLibraryExA(SetupExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(setupExe_, nullptr);
    setupState.instance = setupExe_;  // the catalogue texts come from SETUP.EXE
    setupState.cancelRequested = false;
    probe = ProbeState();
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = ProbeProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "KsProgressProbe";
    RegisterClassA(&windowClass);
    window_ = CreateWindowA("KsProgressProbe", "probe", WS_OVERLAPPED, 0, 0, 100, 100, nullptr,
                            nullptr, GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(window_, nullptr);
    CreateDirectoryA(Out().c_str(), nullptr);
  }
  void TearDown() override {
    DestroyWindow(window_);
    if (setupExe_) FreeLibrary(setupExe_);
  }

  std::string Out() const { return folder_ / "out"; }
  std::string OutFile(const std::string& name) const { return Out() + "\\" + name; }

  int32_t Extract(const std::string& archive, HWND window) {
    archivePath_ = folder_ / "archive.zip";
    WriteFileBytes(archivePath_, archive);
    ExtractionRequest request = {};
    request.archivePath = archivePath_.c_str();
    out_ = Out();
    request.destinationFolder = out_.c_str();
    request.progressWindow = window;
    EXPECT_EQ(RunExtractionJob(&request), 1);
    return request.result;
  }

  TestFolder folder_{"C:\\ks-extraction-seam"};
  HMODULE setupExe_ = nullptr;
  HWND window_ = nullptr;
  std::string archivePath_, out_;
};

ZipEntry Stored(const std::string& name, const std::string& data) {
  ZipEntry entry;
  entry.name = name;
  entry.data = data;
  return entry;
}

TEST_F(ExtractionSeamTest, FileTimesAreTheDosStampTakenAsLocalTime) {
  struct Stamp {
    WORD year, month, day, hour, minute, second;
  } stamps[] = {{1995, 8, 24, 9, 30, 0}, {2001, 1, 1, 0, 0, 2}, {2024, 7, 15, 23, 59, 58}};
  std::vector<ZipEntry> entries;
  for (const Stamp& s : stamps) {
    ZipEntry entry = Stored("file" + std::to_string(s.year) + ".txt", "dated");
    entry.dosDate = DosDate(s.year, s.month, s.day);
    entry.dosTime = DosTime(s.hour, s.minute, s.second);
    entries.push_back(entry);
  }
  ASSERT_EQ(Extract(MakeZip(entries), nullptr), 0);
  for (const Stamp& s : stamps) {
    FILETIME written = LastWriteTime(OutFile("file" + std::to_string(s.year) + ".txt"));
    FILETIME local;
    SYSTEMTIME shown;
    FileTimeToLocalFileTime(&written, &local);
    FileTimeToSystemTime(&local, &shown);
    EXPECT_EQ(shown.wYear, s.year);
    EXPECT_EQ(shown.wMonth, s.month);
    EXPECT_EQ(shown.wDay, s.day);
    EXPECT_EQ(shown.wHour, s.hour);
    EXPECT_EQ(shown.wMinute, s.minute);
    EXPECT_EQ(shown.wSecond, s.second);
  }
}

// Stored names are OEM, or UTF-8 when flagged, and are written, shown and announced in the ANSI
// character set; a UTF-8 name that the ANSI code page cannot spell is refused, never written
// with a stand-in character.
TEST_F(ExtractionSeamTest, StoredNamesAreWrittenInTheAnsiCharacterSet) {
  ZipEntry utf8 = Stored("na\xc3\xafve \xe2\x82\xac.txt", "utf-8");
  utf8.extraFlags = 0x800;
  ASSERT_EQ(Extract(MakeZip({Stored("caf\x82.txt", "menu"), utf8}), window_), 0);
  EXPECT_EQ(ReadFileBytes(OutFile("caf\xe9.txt")), "menu");
  EXPECT_EQ(ReadFileBytes(OutFile("na\xefve \x80.txt")), "utf-8");
  EXPECT_EQ(probe.events[0], "name caf\xe9.txt");
  EXPECT_EQ(probe.events[2], "name na\xefve \x80.txt");

  ZipEntry russian = Stored("\xd0\xbf\xd1\x80\xd0\xb8.txt", "no spelling");
  russian.extraFlags = 0x800;
  int32_t result = 0;
  std::vector<MessageBoxInfo> boxes =
      AnswerOwnBoxesDuring([&] { result = Extract(MakeZip({russian}), window_); },
                           [](const MessageBoxInfo&) { return IDOK; });
  EXPECT_EQ(result, kAbortError);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, "Can't create output file: " + OutFile("???.txt"));
  EXPECT_FALSE(PathExists(OutFile("???.txt")));
}

// ksdist judges names by its own account of code page 1252; SETUP.EXE asks Windows. Held
// together for every character of the Basic Multilingual Plane and a few beyond: what each
// spells, and which two names Windows' case-blind comparison takes for one.
TEST(CodePage1252, ThePortableAnswerIsWindowsOwn) {
  ASSERT_EQ(GetACP(), 1252u) << "the test needs a Western Windows";
  for (uint32_t code = 1; code < 0x10400; ++code) {
    if (code >= 0xD800 && code <= 0xDFFF) continue;
    WCHAR wide[3] = {static_cast<WCHAR>(code)};
    int units = code < 0x10000 ? 1 : 2;
    if (units == 2) {
      wide[0] = static_cast<WCHAR>(0xD800 | (code - 0x10000) >> 10);
      wide[1] = static_cast<WCHAR>(0xDC00 | (code & 0x3FF));
    }
    char utf8[8] = "a", shown[kNameChars];
    WideCharToMultiByte(CP_UTF8, 0, wide, units, utf8 + 1, 5, nullptr, nullptr);
    ASSERT_EQ(StoredNameToFileName(utf8, true, shown, sizeof shown), Cp1252SpellsName(utf8))
        << std::hex << code;
  }
  // The file system folds case with the table behind RtlUpcaseUnicodeChar.
  using Upcase = WCHAR(WINAPI*)(WCHAR);
  auto upcase = reinterpret_cast<Upcase>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll"), "RtlUpcaseUnicodeChar")));
  ASSERT_NE(upcase, nullptr);
  for (uint32_t a = 1; a < 256; ++a) {
    WCHAR first;
    char byte = static_cast<char>(a);
    MultiByteToWideChar(1252, 0, &byte, 1, &first, 1);
    for (uint32_t b = 1; b < 256; ++b) {
      WCHAR second;
      byte = static_cast<char>(b);
      MultiByteToWideChar(1252, 0, &byte, 1, &second, 1);
      bool windows = upcase(first) == upcase(second);
      ASSERT_EQ(Cp1252UpperCase(first) == Cp1252UpperCase(second), windows)
          << std::hex << int{first} << " " << int{second};
    }
  }
}

TEST_F(ExtractionSeamTest, TheProgressWindowReceivesNamesAndProgress) {
  std::string archive =
      MakeZip({Stored("a.txt", std::string(5000, 'a')), Stored("b.bin", std::string(30000, 'b'))});
  ASSERT_EQ(Extract(archive, window_), 0);
  EXPECT_EQ(probe.events,
            (Strings{"name a.txt", "progress 0", "name b.bin", "progress 0", "progress 3"}));
}

TEST_F(ExtractionSeamTest, TheProgressWindowCancelsByReplyOrThroughTheCancelFlag) {
  std::string archive =
      MakeZip({Stored("first.txt", "complete"), Stored("large.bin", std::string(100000, 'x'))});
  // Messages: first.txt starts (1), large.bin starts (2), its blocks (3 ...).
  for (bool byReply : {true, false}) {
    probe = ProbeState();
    setupState.cancelRequested = false;
    (byReply ? probe.cancelAtProgress : probe.pressCancelAtProgress) = 3;
    DeleteFileA(OutFile("first.txt").c_str());
    EXPECT_EQ(Extract(archive, window_), kAbortCancelled) << byReply;
    EXPECT_EQ(ReadFileBytes(OutFile("first.txt")), "complete");
    EXPECT_FALSE(PathExists(OutFile("large.bin"))) << "the partial file is removed";
  }
  setupState.cancelRequested = false;
}

TEST_F(ExtractionSeamTest, ErrorBoxesAreOwnedByTheProgressWindowWithoutCaption) {
  ZipEntry locked = Stored("locked.bin", "secret");
  locked.password = "not the built-in one";
  struct Case {
    std::string archive;
    std::string text;
  } cases[] = {
      {MakeZip({locked}), "INCORRECT PASSWORD"},
      {"not an archive at all", MSG_TEXT_1034},
      {"PK", "Error reading C:\\ks-extraction-seam\\archive.zip.  Possible cause: bad disk"},
  };
  for (const Case& c : cases) {
    int32_t result = 0;
    std::vector<MessageBoxInfo> boxes = AnswerOwnBoxesDuring(
        [&] { result = Extract(c.archive, window_); }, [](const MessageBoxInfo&) { return IDOK; });
    EXPECT_EQ(result, kAbortError);
    ASSERT_EQ(boxes.size(), 1u) << c.text;
    EXPECT_EQ(boxes[0].text, c.text);
    EXPECT_EQ(boxes[0].caption, "Error") << "Wine's caption for a box without one";
    EXPECT_EQ(boxes[0].icon, BoxIcon::kError);
    EXPECT_EQ(boxes[0].owner, window_);
    EXPECT_EQ(boxes[0].buttons, std::vector<int>{IDOK});
  }
}

TEST_F(ExtractionSeamTest, TheDistributionArchiveIsUnpackedFromTheSourceFolder) {
  lstrcpyA(setupState.sourceFolder, (folder_.path() + "\\").c_str());
  lstrcpyA(setupState.installPath, Out().c_str());
  ZipEntry product = Stored("bin/KESTRA32.EX_", "the product");
  product.password = "Quillfeather\xA9 1987-1995 sample archive text.";
  WriteFileBytes(folder_ / "setup.ks", MakeZip({product, Stored("README.TXT", "read me")}));
  EXPECT_TRUE(ExtractDistributionArchive(nullptr));
  EXPECT_EQ(ReadFileBytes(OutFile("KESTRA32.EX_")), "the product");
  EXPECT_EQ(ReadFileBytes(OutFile("README.TXT")), "read me");

  // A damaged archive: the box, then failure.
  WriteFileBytes(folder_ / "setup.ks", "PK\x03\x04");
  bool installed = true;
  std::vector<MessageBoxInfo> boxes =
      AnswerOwnBoxesDuring([&] { installed = ExtractDistributionArchive(window_); },
                           [](const MessageBoxInfo&) { return IDOK; });
  EXPECT_FALSE(installed);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text,
            "Error reading " + folder_.path() + "\\setup.ks.  Possible cause: bad disk");
}

}  // namespace
