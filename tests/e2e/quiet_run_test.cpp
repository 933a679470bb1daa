// SETUP.EXE /S, watched from its first instruction to its end: no window of its own ever
// appears; a complete distribution is installed into the /D folder and the product started as an
// interactive run starts it; each thing that stops a quiet run ends it with its exit code, the
// question it would have asked answered with what changes nothing, and the box's text in the log.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "resources/catalogue.h"
#include "support/distribution.h"
#include "support/file_manager.h"
#include "support/ui_robot.h"
#include "support/wine_env.h"
#include "support/zip_writer.h"

namespace {

const std::string kRoot = "C:\\ks quiet";
const std::string kInstall = kRoot + "\\Program Files\\Kestra";
const std::string kLog = kRoot + "\\setup log.txt";
const std::string kFolderSwitch = "\"/D=" + kInstall + "\"";
const char kSwitchKey[] = "Software\\Ferrule Works\\Kestra\\fm";
const char kCurrentVersion[] = "Software\\Microsoft\\Windows\\CurrentVersion";

struct QuietRun {
  DWORD exitCode;
  std::vector<std::string> windows;  // class and title of every window SETUP.EXE had
};

struct WindowWatch {
  DWORD processId;
  std::set<HWND> seen;
  std::vector<std::string> names;
};

BOOL CALLBACK NoteWindow(HWND window, LPARAM context) {
  auto* watch = reinterpret_cast<WindowWatch*>(context);
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != watch->processId || !watch->seen.insert(window).second) return TRUE;
  char name[100] = "", title[200] = "";
  GetClassNameA(window, name, sizeof name);
  GetWindowTextA(window, title, sizeof title);
  watch->names.push_back(std::string(name) + " \"" + title + "\"");
  return TRUE;
}

// Starts SETUP.EXE held at its first instruction and looks at every top-level window, shown or
// not, as often as it can until SETUP.EXE ends. A box or dialog would wait for a person forever.
QuietRun RunQuietly(const std::string& setupExe, const std::string& tail) {
  ChildProcess setup("\"" + setupExe + "\" " + tail, "", CREATE_SUSPENDED);
  QuietRun run = {STILL_ACTIVE, {}};
  if (!setup.started()) return run;
  WindowWatch watch = {setup.id(), {}, {}};
  setup.Resume();
  DWORD start = GetTickCount();
  do {
    size_t before = watch.seen.size();
    EnumWindows(NoteWindow, reinterpret_cast<LPARAM>(&watch));
    if (watch.seen.size() != before) SaveScreenshot(CurrentTestName() + "-window");
    if (GetTickCount() - start > 120000) {
      ADD_FAILURE() << "setup did not end";
      setup.Terminate();
    }
  } while (!setup.Wait(1));
  run.windows = watch.names;
  run.exitCode = setup.ExitCode();
  return run;
}

// The log's lines without their time, which is checked on the way.
std::vector<std::string> LogEntries(const std::string& path) {
  std::vector<std::string> entries;
  std::istringstream log(ReadFileBytes(path));
  const std::regex stamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  )");
  for (std::string line; std::getline(log, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line[0] == '\t') {
      EXPECT_FALSE(entries.empty());
      entries.back() += "\n" + line.substr(1);
    } else {
      EXPECT_TRUE(std::regex_search(line, stamp)) << line;
      entries.push_back(line.substr(21));
    }
  }
  return entries;
}

bool Contains(const std::vector<std::string>& entries, const std::string& entry) {
  return std::find(entries.begin(), entries.end(), entry) != entries.end();
}

std::string Fill(const char* format, const std::string& value) {
  std::string text = format;
  text.replace(text.find("%s"), 2, value);
  return text;
}

std::string Composed(std::initializer_list<const char*> pieces) {
  std::string text;
  for (const char* piece : pieces) text += piece[0] == '!' ? piece + 1 : piece;
  return text;
}

void MakeInstallFolder() {
  CreateDirectoryA((kRoot + "\\Program Files").c_str(), nullptr);
  ASSERT_TRUE(CreateDirectoryA(kInstall.c_str(), nullptr));
}

// A file of an earlier installation in the install folder, held open as a running program holds
// it while `held` lives.
void HoldInstalledFile(const std::string& name, std::vector<std::shared_ptr<void>>& held) {
  MakeInstallFolder();
  WriteFileBytes(kInstall + "\\" + name, "an earlier version");
  held.push_back(std::make_shared<ExclusiveHold>(kInstall + "\\" + name));
}

std::string Lines(const std::string& line, size_t repeat) {
  std::string text;
  for (size_t i = 0; i < repeat; ++i) text += line + std::to_string(i) + "\r\n";
  return text;
}

class QuietRunTest : public testing::Test {
 protected:
  QuietRunTest() {
    dist_.AddSideFiles(Lines("Kestra 8.0 read me, line ", 900));
    std::vector<ZipEntry> entries(3);
    entries[0].name = "KESTRA32.EX_";
    entries[0].data = ReadFileBytes(FixturePath("KESTRA32.EXE"));
    entries[1].name = "KESTRA.HLP";  // several windows' worth: the copy and unpacking take a while
    entries[1].data = Lines("Kestra help topic ", 60000);
    entries[1].method = 8;
    entries[2].name = "LICENSE.RTF";
    entries[2].data = Lines("{\\rtf1 licence ", 700);
    entries_ = entries;
    dist_.SetArchive(MakeZip(entries));
  }

  TestFolder root_{kRoot};
  RegistryValueScope programFiles_{HKEY_LOCAL_MACHINE, kCurrentVersion, "ProgramFilesDir",
                                   kRoot + "\\Program Files"};
  Distribution dist_{"C:\\ks-quiet-dist"};
  std::vector<ZipEntry> entries_;
  ProfileValueScope association_{"extensions", "zip", std::nullopt};
};

TEST_F(QuietRunTest, InstallsIntoAFolderWithBlanksWithoutAnyWindow) {
  const std::string tail =
      "/s " + kFolderSwitch + " /LOG=\"" + kLog + "\" -argv0 D:\\download\\package.exe";
  QuietRun run = RunQuietly(dist_.SetupExe(), tail);
  EXPECT_EQ(run.exitCode, 0u);
  for (const std::string& window : run.windows) ADD_FAILURE() << "a window: " << window;

  EXPECT_EQ(ProductLog(kInstall),
            "command: \"" + kInstall +
                "\\KESTRA32.EXE\" /installS /f:\"D:\\download\\package.exe\"" +
                "\r\ncurrent: " + kInstall + "\r\nshell extension: not registered\r\n");
  for (const char* name : kSideFileNames)
    EXPECT_TRUE(ReadFileBytes(kInstall + "\\" + name) == ReadFileBytes(dist_ / name)) << name;
  for (const ZipEntry& entry : entries_) {
    std::string name = entry.name == "KESTRA32.EX_" ? "KESTRA32.EXE" : entry.name;
    EXPECT_TRUE(ReadFileBytes(kInstall + "\\" + name) == entry.data) << name;
  }
  EXPECT_FALSE(PathExists(kInstall + "\\KESTRA32.EX_"));
  EXPECT_TRUE(ReadFileBytes(kInstall + "\\KSSHLSTB.DLL") ==
              ReadFileBytes(WinTreePath() + "\\src\\stublib\\KSSHLSTB.DLL"));

  const std::vector<std::string> expected = {
      "Setup has been started: \"" + dist_.SetupExe() + "\" " + tail,
      "Windows version accepted",
      "No copy of Kestra running",
      "No File Manager extension held",
      "Install folder proposed: " + kInstall,
      "Install folder ready, shell extension library in place: " + kInstall,
      "Side files copied",
      "setup.ks unpacked",
      "KESTRA32.EXE in place",
      "Product started: \"" + kInstall +
          "\\KESTRA32.EXE\" /installS /f:\"D:\\download\\package.exe\"",
      "Setup has ended, exit code 0",
  };
  EXPECT_EQ(LogEntries(kLog), expected);
  CopyFileA(kLog.c_str(), ArtifactsPath("quiet-typical-run.log").c_str(), FALSE);
}

// Each stop of a quiet run, a row for each line of the README's table of exit codes, with the
// box text the log holds in its place (a text ending in '*' is its beginning) and what the stop
// leaves alone. The questions get the answer that changes nothing: no Retry while the product
// runs, the 16-bit program is not deleted, the shell extension is not turned off.
TEST_F(QuietRunTest, EachStopEndsTheRunWithItsExitCodeAndTheBoxTextInTheLog) {
  const std::string oldProgram = kInstall + "\\kestra.exe";
  const std::string fmLibrary = kRoot + "\\kestrafm.dll";
  std::shared_ptr<FileManagerRegistration> registration;
  auto folderUntouched = [] { EXPECT_FALSE(PathExists(kInstall)); };
  struct Case {
    const char* what;
    std::string switches;  // after /S /LOG=...
    std::function<void(std::vector<std::shared_ptr<void>>&)> arrange;
    DWORD exitCode;
    std::vector<std::string> messages;  // logged in this order
    std::function<void()> check;
  } cases[] = {
      {"a switch not understood",
       "/D=C:\\x /SILENT",
       nullptr,
       1,
       {"1060: " MSG_TEXT_1060},
       [&] { EXPECT_TRUE(Contains(LogEntries(kLog), "Switch not understood: /SILENT")); }},
      {"Windows 3.1",
       kFolderSwitch,
       [&](auto& held) { held.push_back(std::make_shared<WindowsVersionScope>("win31")); },
       1,
       {"1052: " MSG_TEXT_1052},
       folderUntouched},
      {"the switches asked for in a quiet run",
       "/?",
       nullptr,
       1,
       {"1060: " MSG_TEXT_1060},
       nullptr},
      // A drive without its root, a network path without a server, a folder name that Windows
      // would make without its final blank.
      {"a drive-relative folder",
       "/D=C:Kestra",
       nullptr,
       3,
       {"1024: " MSG_TEXT_1024, "1006: " MSG_TEXT_1006},
       nullptr},
      {"two backslashes alone",
       "/D=\\\\",
       nullptr,
       3,
       {"1024: " MSG_TEXT_1024, "1006: " MSG_TEXT_1006},
       nullptr},
      {"a final blank",
       "/D=\"" + kInstall + " \"",
       nullptr,
       3,
       {"1024: " MSG_TEXT_1024, "1006: " MSG_TEXT_1006},
       [&] { EXPECT_FALSE(PathExists(kInstall)); }},
      {"the product running",
       kFolderSwitch,
       [&](auto& held) {
         auto product =
             std::make_shared<ChildProcess>(FixturePath("product_window.exe") + " KestraWClass");
         ASSERT_TRUE(WaitUntil([] { return FindWindowA("KestraWClass", nullptr); }, 10000));
         held.push_back(product);
       },
       2,
       {"1025: " MSG_TEXT_1025},
       nullptr},
      {"the 16-bit product in the folder",
       kFolderSwitch,
       [&](auto&) {
         MakeInstallFolder();
         WriteFileBytes(oldProgram, "16-bit");
       },
       3,
       {"1049: " MSG_TEXT_1049, "1006: " MSG_TEXT_1006},
       [&] { EXPECT_EQ(ReadFileBytes(oldProgram), "16-bit"); }},
      {"the distribution's own folder",
       "\"/D=" + dist_.folder() + "\"",
       nullptr,
       3,
       {"1016: " MSG_TEXT_1016, "1006: " MSG_TEXT_1006},
       nullptr},
      // 64 entries of almost 4 GiB each: more than the drive has.
      {"not enough space",
       kFolderSwitch,
       [&](auto&) {
         std::vector<ZipEntry> huge(64);
         for (size_t i = 0; i < huge.size(); ++i) {
           huge[i].name = "HUGE" + std::to_string(i);
           huge[i].claimedUncompressedSize = 0xFFFF0000u;
         }
         dist_.SetArchive(MakeZip(huge));
       },
       3,
       {"1061: " + Fill(MSG_TEXT_1061, "C:").substr(0, Fill(MSG_TEXT_1061, "C:").find("%lu")) + "*",
        "1006: " MSG_TEXT_1006},
       [&] {
         folderUntouched();
         std::smatch numbers;
         std::string log = ReadFileBytes(kLog);
         ASSERT_TRUE(std::regex_search(
             log, numbers, std::regex(R"(Space needed: (\d+) KB\r\n\tSpace free: (\d+) KB)")));
         EXPECT_GE(std::stoull(numbers[1]), 64ull * 0xFFFF0000u / 1024);
         EXPECT_LT(std::stoull(numbers[2]), std::stoull(numbers[1]));
       }},
      // Without /D, the folder setup suggests.
      {"a side file of another release",
       "",
       [&](auto&) {
         FILETIME later = LastWriteTime(dist_ / "ORDER.TXT");
         later.dwLowDateTime += 1;
         SetLastWriteTime(dist_ / "ORDER.TXT", later);
       },
       4,
       {"1023: " + Fill(MSG_TEXT_1023, "ORDER.TXT"), "1006: " MSG_TEXT_1006},
       [&] { EXPECT_TRUE(Contains(LogEntries(kLog), "Install folder proposed: " + kInstall)); }},
      {"setup.ks missing",
       kFolderSwitch,
       [&](auto&) { DeleteFileA((dist_ / "setup.ks").c_str()); },
       4,
       {"1006: " MSG_TEXT_1006},
       [&] {
         EXPECT_TRUE(Contains(LogEntries(kLog), "message: setup.ks is missing"));
         folderUntouched();
       }},
      {"a damaged setup.ks",
       kFolderSwitch,
       [&](auto&) { dist_.SetArchive("PK\x03\x04 damaged"); },
       5,
       {"1037: " + Fill(MSG_TEXT_1037, dist_ / "setup.ks"), "1006: " MSG_TEXT_1006},
       nullptr},
      {"the shell extension held",
       kFolderSwitch,
       [&](auto& held) {
         HoldInstalledFile("KSSHLSTB.DLL", held);
         held.push_back(std::make_shared<RegistryValueScope>(HKEY_CURRENT_USER, kSwitchKey,
                                                             "shlExt", std::nullopt));
       },
       6,
       {"1039: " + Composed({MSG_TEXT_1039, MSG_TEXT_1040, MSG_TEXT_1041, MSG_TEXT_1042}),
        "1006: " MSG_TEXT_1006},
       [&] {
         HKEY key;
         bool switched =
             RegOpenKeyExA(HKEY_CURRENT_USER, kSwitchKey, 0, KEY_READ, &key) == ERROR_SUCCESS &&
             RegQueryValueExA(key, "shlExt", nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
         EXPECT_FALSE(switched) << "the shell extension was turned off";
       }},
      {"the File Manager holding its extension",
       kFolderSwitch,
       [&](auto& held) {
         registration = std::make_shared<FileManagerRegistration>();
         held.push_back(registration);
         WriteFileBytes(fmLibrary, "extension");
         registration->Set(fmLibrary);
         held.push_back(std::make_shared<FakeFileManager>("never", fmLibrary));
       },
       6,
       {"1044: " + Composed({MSG_TEXT_1044, MSG_TEXT_1045})},
       [&] { EXPECT_EQ(registration->Current(), fmLibrary) << "the registration is back"; }},
      {"KESTRA32.EX_ missing from setup.ks",
       kFolderSwitch,
       [&](auto&) { dist_.SetArchive(EmptyArchive()); },
       7,
       {"1013: " + Fill(MSG_TEXT_1013, "KESTRA32.EX_"), "1006: " MSG_TEXT_1006},
       folderUntouched},
      {"another Setup running",
       kFolderSwitch,
       [&](auto& held) {
         HANDLE other = CreateMutexA(nullptr, FALSE, "Kestra Setup is running");
         held.push_back(std::shared_ptr<void>(other, CloseHandle));
       },
       8,
       {"1062: " MSG_TEXT_1062},
       folderUntouched},
      {"the main executable held",
       kFolderSwitch,
       [&](auto& held) { HoldInstalledFile("KESTRA32.EXE", held); },
       7,
       {"1018: " + Fill(MSG_TEXT_1018, kInstall + "\\KESTRA32.EXE"), "1006: " MSG_TEXT_1006},
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RemoveTree(kInstall);
    DeleteFileA(kLog.c_str());
    dist_.AddSideFiles();
    dist_.SetProductArchive();
    std::vector<std::shared_ptr<void>> held;
    if (c.arrange) c.arrange(held);
    QuietRun run = RunQuietly(dist_.SetupExe(), "/S /LOG=\"" + kLog + "\" " + c.switches);
    EXPECT_EQ(run.exitCode, c.exitCode);
    for (const std::string& window : run.windows) ADD_FAILURE() << "a window: " << window;
    std::vector<std::string> messages;
    for (const std::string& entry : LogEntries(kLog))
      if (entry.rfind("message ", 0) == 0) messages.push_back(entry.substr(8));
    EXPECT_EQ(messages.size(), c.messages.size()) << testing::PrintToString(messages);
    for (size_t i = 0; i < std::min(messages.size(), c.messages.size()); ++i) {
      const std::string& expected = c.messages[i];
      if (expected.back() == '*')
        EXPECT_EQ(messages[i].substr(0, expected.size() - 1),
                  expected.substr(0, expected.size() - 1));
      else
        EXPECT_EQ(messages[i], expected);
    }
    EXPECT_TRUE(
        Contains(LogEntries(kLog), "Setup has ended, exit code " + std::to_string(c.exitCode)));
    EXPECT_EQ(ReadFileBytes(kInstall + "\\kestra32.log"), "") << "the product is not started";
    if (c.check) c.check();
  }
}

}  // namespace
