// SETUP.EXE as the i686 build writes it: a Windows-95-clean PE32 GUI program. Every imported
// function is on the allow-list below, so that each new import is a conscious decision. And every
// program and library of the i686 tree, product and test alike, read without running it: what
// only the 32-bit build would get wrong must show on a machine that cannot run it too.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/pe_reader.h"

namespace {

const std::string kTree = KS_PRODUCT_TREE;
const std::string kSetupExe = kTree + "/src/setup/SETUP.EXE";
const std::string kStubLibrary = kTree + "/src/stublib/KSSHLSTB.DLL";
const std::string kPackageStub = kTree + "/src/package/KSPACKAGE.EXE";

// Functions SETUP.EXE and the package stub may import, by DLL. All of them exist on Windows 95 and
// NT 4.0. Both have their own start-up code: what the C runtime's would import is not here.
const std::map<std::string, std::set<std::string>> kAllowedImports = {
    // clang-format off
    {"KERNEL32.dll", {
        "CloseHandle",
        "CreateDirectoryA",
        "CreateFileA",
        "CreateProcessA",
        "CreateMutexA",
        "DeleteFileA",
        "DosDateTimeToFileTime",
        "ExitProcess",
        "FindClose",
        "FindFirstFileA",
        "FindNextFileA",
        "FindResourceA",
        "FlushFileBuffers",
        "FreeLibrary",
        "GetCommandLineA",
        "GetCurrentProcessId",
        "GetExitCodeProcess",
        "GetDiskFreeSpaceA",
        "GetEnvironmentVariableA",
        "GetFileAttributesA",
        "GetFileSize",
        "GetFileTime",
        "GetFullPathNameA",
        "GetLastError",
        "GetLocalTime",
        "GetModuleFileNameA",
        "GetModuleHandleA",
        "GetPrivateProfileStringA",
        "GetProcAddress",
        "GetProfileStringA",
        "GetSystemDirectoryA",
        "GetTempPathA",
        "GetTickCount",
        "GetVersion",
        "GetVersionExA",
        "GlobalAlloc",
        "GlobalFree",
        "GlobalHandle",
        "GlobalLock",
        "GlobalUnlock",
        "IsDBCSLeadByteEx",
        "LoadLibraryA",
        "LoadResource",
        "LockFile",
        "LocalFileTimeToFileTime",
        "LockResource",
        "lstrcmpiA",
        "lstrcpyA",
        "lstrcpynA",
        "lstrlenA",
        "MoveFileA",
        "QueryPerformanceCounter",
        "MultiByteToWideChar",
        "ReadFile",
        "RemoveDirectoryA",
        "SetCurrentDirectoryA",
        "SetEndOfFile",
        "SetFileAttributesA",
        "SetFilePointer",
        "SetFileTime",
        "SetLastError",
        "SizeofResource",
        "Sleep",
        "UnlockFile",
        "WaitForSingleObject",
        "WideCharToMultiByte",
        "WinExec",
        "WriteFile",
        "WritePrivateProfileStringA",
    }},
    {"USER32.dll", {
        "BeginPaint",
        "CharToOemA",
        "CreateDialogParamA",
        "CreateWindowExA",
        "DefWindowProcA",
        "DestroyWindow",
        "DialogBoxParamA",
        "DispatchMessageA",
        "EnableWindow",
        "EndDialog",
        "EndPaint",
        "FindWindowA",
        "GetClientRect",
        "GetDlgItem",
        "GetDlgItemTextA",
        "GetSysColor",
        "GetSystemMetrics",
        "GetWindowLongA",
        "GetWindowRect",
        "InvalidateRect",
        "IsWindowEnabled",
        "LoadCursorA",
        "LoadStringA",
        "MessageBoxA",
        "MsgWaitForMultipleObjects",
        "OemToCharA",
        "PeekMessageA",
        "PostMessageA",
        "RegisterClassA",
        "SendDlgItemMessageA",
        "SendMessageA",
        "SetCursor",
        "SetDlgItemTextA",
        "SetWindowLongA",
        "SetWindowPos",
        "SetWindowTextA",
        "ShowWindow",
        "TranslateMessage",
        "UpdateWindow",
        "wsprintfA",
        "wvsprintfA",
    }},
    {"COMCTL32.DLL", {
        "InitCommonControls",
    }},
    {"GDI32.dll", {
        "ExtTextOutA",
        "GetStockObject",
        "GetTextColor",
        "GetTextExtentPoint32A",
        "SetBkColor",
        "SetTextAlign",
        "SetTextColor",
    }},
    {"ADVAPI32.dll", {
        "RegCloseKey",
        "RegCreateKeyExA",
        "RegDeleteKeyA",
        "RegEnumKeyExA",
        "RegOpenKeyA",
        "RegOpenKeyExA",
        "RegQueryValueExA",
        "RegSetValueExA",
    }},
    {"msvcrt.dll", {
        "_iob",
        "_setjmp3",
        "calloc",
        "fputs",
        "free",
        "longjmp",
        "malloc",
        "memcmp",
        "memcpy",
        "memmove",
        "memset",
        "strchr",
        "strcmp",
        "strlen",
        "strncmp",
    }},
    // clang-format on
};

std::string ToUpper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// The shipped programs and their limits: SETUP.EXE fits in 64 KiB; the package stub leaves room
// for the ZIP records of a distribution (under 1 KiB) within the 32 KiB that a package may add.
// Both run from download folders, where a planted library beside them would be loaded in place
// of the system's if it were imported: SETUP.EXE loads the version functions by full path, and
// the package stub imports nothing that Windows looks for beside the program.
struct ShippedProgram {
  std::string path;
  uint64_t largestSize;
  std::set<std::string> forbiddenImports;
};
const ShippedProgram kShippedPrograms[] = {
    {kSetupExe, 65536, {"VERSION.DLL"}},
    {kPackageStub, 31744, {"VERSION.DLL", "COMCTL32.DLL"}},
};

TEST(SetupExeImage, IsAWindows95GuiProgram) {
  for (const ShippedProgram& program : kShippedPrograms) {
    PeImage image = ReadPeImage(program.path);
    ASSERT_TRUE(image.valid) << program.path;
    EXPECT_EQ(image.machine, 0x14c) << "i386";
    EXPECT_FALSE(image.is64);
    EXPECT_EQ(image.subsystem, 2) << "Windows GUI";
    EXPECT_EQ(image.subsystemMajor, 4);
    EXPECT_EQ(image.subsystemMinor, 0);
    EXPECT_LE(std::filesystem::file_size(program.path), program.largestSize) << program.path;
  }
}

TEST(SetupExeImage, ImportsOnlyAllowedFunctions) {
  for (const ShippedProgram& program : kShippedPrograms) {
    PeImage image = ReadPeImage(program.path);
    ASSERT_TRUE(image.valid) << program.path;
    for (const auto& [dll, functions] : image.imports) {
      auto allowed = kAllowedImports.find(dll);
      ASSERT_NE(allowed, kAllowedImports.end()) << program.path << " imports from " << dll;
      for (const std::string& function : functions)
        EXPECT_TRUE(allowed->second.count(function)) << dll << "!" << function;
    }
  }
}

TEST(SetupExeImage, DoesNotImportTheVersionLibrary) {
  for (const ShippedProgram& program : kShippedPrograms) {
    PeImage image = ReadPeImage(program.path);
    ASSERT_TRUE(image.valid) << program.path;
    for (const auto& [dll, functions] : image.imports)
      EXPECT_FALSE(program.forbiddenImports.count(ToUpper(dll))) << program.path << ": " << dll;
  }
}

// Two builds of one commit in two folders give the same bytes: nothing of the moment or the
// place of the build is in the shipped images.
TEST(SetupExeImage, CarriesNothingOfTheBuildsTimeOrPlace) {
  for (const std::string& path : {kSetupExe, kStubLibrary, kPackageStub}) {
    PeImage image = ReadPeImage(path);
    ASSERT_TRUE(image.valid) << path;
    EXPECT_EQ(image.timeStamp, uint32_t(KS_LINK_TIME_STAMP)) << path;
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), {});
    for (const char* folder : {KS_ROOT, KS_BUILD_ROOT})
      EXPECT_EQ(bytes.find(folder), std::string::npos) << path << " holds " << folder;
  }
}

// A stdcall function of the i686 tree pops its arguments; a caller that expects otherwise
// corrupts its stack. kCdecl marks a function that leaves them to its caller.
constexpr int kCdecl = -1;
struct Export {
  const char* name;
  int argumentBytes;  // popped by a stdcall function, or kCdecl
};

// Every library of the i686 tree with the names that its callers look up: the shell and the stub
// library by contract, the tests with GetProcAddress, Windows as a hook. A new library needs a
// line here.
const std::map<std::string, std::vector<Export>> kTreeLibraries = {
    {"src/stublib/KSSHLSTB.DLL", {{"DllCanUnloadNow", 0}, {"DllGetClassObject", 12}}},
    {"tests/fixtures/ksshlex1.dll",
     {{"DllCanUnloadNow", 0}, {"DllGetClassObject", 12}, {"WorkerTestRecord", kCdecl}}},
    {"tests/fixtures/progress_gate.dll", {{"ProgressGateHook", 12}}},
    {"tests/fixtures/planted.dll", {}},
};

// The stripped libraries, each with its twin that keeps the symbols.
const std::map<std::string, std::string> kSymbolTwins = {
    {"src/stublib/KSSHLSTB.DLL", "src/stublib/KSSHLSTB_SYMBOLS.dbg"},
};

// Every program and library that the i686 tree builds, by its path in the tree.
std::vector<std::string> TreeImages() {
  std::vector<std::string> images;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(kTree)) {
    std::string path = entry.path().string();
    std::string extension = ToUpper(entry.path().extension().string());
    if (entry.is_regular_file() && path.find("/CMakeFiles/") == std::string::npos &&
        (extension == ".EXE" || extension == ".DLL"))
      images.push_back(path.substr(kTree.size() + 1));
  }
  return images;
}

// `Name@12` (stdcall), `_Name` (cdecl) or `?Name@@...` (C++): what a caller looking up `Name`
// does not find.
bool IsDecorated(const std::string& name) {
  return name.find('@') != std::string::npos || name.front() == '_' || name.front() == '?';
}

TEST(WindowsTreeImages, LibrariesExportPlainNamesWithTheirCallingConvention) {
  std::set<std::string> libraries;
  for (const std::string& path : TreeImages())
    if (ToUpper(path).ends_with(".DLL")) libraries.insert(path);
  std::set<std::string> expected;
  for (const auto& [path, exports] : kTreeLibraries) expected.insert(path);
  EXPECT_EQ(libraries, expected);

  for (const auto& [path, exports] : kTreeLibraries) {
    PeImage image = ReadPeImage(kTree + "/" + path);
    ASSERT_TRUE(image.valid) << path;
    std::set<std::string> names;
    for (const Export& e : exports) names.insert(e.name);
    EXPECT_EQ(image.exports, names) << path;
    // The function symbol behind each name tells how it was built. A stripped library is read
    // through its twin, linked from the same objects with the symbols kept, at the same places.
    auto twin = kSymbolTwins.find(path);
    PeImage symbolic = twin == kSymbolTwins.end() ? image : ReadPeImage(kTree + "/" + twin->second);
    EXPECT_EQ(symbolic.exportAddresses, image.exportAddresses) << path;
    ASSERT_TRUE(exports.empty() || !symbolic.functionSymbols.empty()) << path << ": no symbols";
    for (const Export& e : exports) {
      std::set<std::string> symbols;
      auto [first, last] = symbolic.functionSymbols.equal_range(image.exportAddresses[e.name]);
      for (auto it = first; it != last; ++it) symbols.insert(it->second);
      std::string expectedSymbol = "_" + std::string(e.name);
      if (e.argumentBytes != kCdecl) expectedSymbol += "@" + std::to_string(e.argumentBytes);
      EXPECT_EQ(symbols, std::set<std::string>{expectedSymbol}) << path << "!" << e.name;
    }
  }
}

// Wine's own 32-bit system libraries, read as PE images: what a 32-bit process can import.
const std::string kWineI386Libraries = "/usr/lib/i386-linux-gnu/wine/i386-windows/";

const PeImage& WineLibrary(const std::string& name) {
  static std::map<std::string, PeImage> read;
  std::string file = name;
  for (char& c : file) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  auto found = read.find(file);
  if (found == read.end()) found = read.emplace(file, ReadPeImage(kWineI386Libraries + file)).first;
  return found->second;
}

// Every import of every i686 program and library is a plain name that the library it names
// exports to a 32-bit process: a library of the tree, or one of Wine's. A runtime library that
// only one compiler has (libgcc_s_dw2-1.dll, libstdc++-6.dll), a function that only 64-bit
// Windows has, or a decorated name would stop the program before its first line.
TEST(WindowsTreeImages, EveryImportResolvesIn32BitWine) {
  ASSERT_TRUE(std::filesystem::exists(kWineI386Libraries + "kernel32.dll"))
      << "Wine's 32-bit libraries are missing: run scripts/bootstrap.sh";
  std::map<std::string, PeImage> tree;
  for (const std::string& path : TreeImages())
    tree[ToUpper(std::filesystem::path(path).filename().string())] =
        ReadPeImage(kTree + "/" + path);
  for (const auto& [name, image] : tree) {
    ASSERT_TRUE(image.valid) << name;
    EXPECT_EQ(image.machine, 0x14c) << name << " is not an i386 image";
    for (const std::string& exported : image.exports)
      EXPECT_FALSE(IsDecorated(exported)) << name << " exports " << exported;
    for (const auto& [dll, functions] : image.imports) {
      auto local = tree.find(ToUpper(dll));
      const PeImage& library = local != tree.end() ? local->second : WineLibrary(dll);
      EXPECT_TRUE(library.valid) << name << " imports from " << dll << ", which 32-bit Wine lacks";
      if (!library.valid) continue;
      for (const std::string& function : functions)
        EXPECT_TRUE(function.find('@') == std::string::npos && library.exports.count(function))
            << name << " imports " << dll << "!" << function;
    }
  }
}

}  // namespace
