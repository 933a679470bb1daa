// SETUP.EXE as the i686 build writes it: a Windows-95-clean PE32 GUI program. Every imported
// function is on the allow-list below, so that each new import is a conscious decision.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "support/pe_reader.h"

namespace {

const std::string kSetupExe = std::string(KS_PRODUCT_TREE) + "/src/setup/SETUP.EXE";

// Functions SETUP.EXE may import, by DLL. All of them exist on Windows 95 and NT 4.0.
const std::map<std::string, std::set<std::string>> kAllowedImports = {
    // clang-format off
    {"KERNEL32.dll", {
        "CloseHandle",
        "CompareStringA",
        "CreateDirectoryA",
        "CreateFileA",
        "DeleteCriticalSection",
        "DeleteFileA",
        "DosDateTimeToFileTime",
        "EnterCriticalSection",
        "FindClose",
        "FindFirstFileA",
        "FindResourceA",
        "FreeLibrary",
        "GetFileTime",
        "GetLastError",
        "GetModuleFileNameA",
        "GetModuleHandleA",
        "GetPrivateProfileStringA",
        "GetProcAddress",
        "GetProfileStringA",
        "GetStartupInfoA",
        "GetSystemDirectoryA",
        "GetTickCount",
        "GetVersionExA",
        "GlobalAlloc",
        "GlobalFree",
        "GlobalHandle",
        "GlobalLock",
        "GlobalUnlock",
        "InitializeCriticalSection",
        "LeaveCriticalSection",
        "LoadLibraryA",
        "LoadResource",
        "LockResource",
        "LocalFileTimeToFileTime",
        "MultiByteToWideChar",
        "lstrcpyA",
        "lstrcmpiA",
        "lstrcpynA",
        "lstrlenA",
        "MoveFileA",
        "ReadFile",
        "SetCurrentDirectoryA",
        "SetFilePointer",
        "SetFileTime",
        "SetUnhandledExceptionFilter",
        "SizeofResource",
        "Sleep",
        "TlsGetValue",
        "VirtualProtect",
        "VirtualQuery",
        "WideCharToMultiByte",
        "WinExec",
        "WriteFile",
        "WritePrivateProfileStringA",
    }},
    {"USER32.dll", {
        "BeginPaint",
        "CharToOemA",
        "CreateDialogParamA",
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
    {"GDI32.dll", {
        "ExtTextOutA",
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
        "__getmainargs",
        "__initenv",
        "__p__acmdln",
        "__p__commode",
        "__p__fmode",
        "__set_app_type",
        "__setusermatherr",
        "_amsg_exit",
        "_cexit",
        "_initterm",
        "_iob",
        "_onexit",
        "_setjmp3",
        "abort",
        "calloc",
        "exit",
        "fprintf",
        "fputs",
        "free",
        "fwrite",
        "longjmp",
        "malloc",
        "memcpy",
        "memmove",
        "memset",
        "signal",
        "strchr",
        "strcmp",
        "strlen",
        "strncmp",
        "vfprintf",
    }},
    // clang-format on
};

std::string ToUpper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

TEST(SetupExeImage, IsAWindows95GuiProgram) {
  PeImage image = ReadPeImage(kSetupExe);
  ASSERT_TRUE(image.valid) << kSetupExe;
  EXPECT_EQ(image.machine, 0x14c) << "i386";
  EXPECT_FALSE(image.is64);
  EXPECT_EQ(image.subsystem, 2) << "Windows GUI";
  EXPECT_EQ(image.subsystemMajor, 4);
  EXPECT_EQ(image.subsystemMinor, 0);
}

TEST(SetupExeImage, ImportsOnlyAllowedFunctions) {
  PeImage image = ReadPeImage(kSetupExe);
  ASSERT_TRUE(image.valid) << kSetupExe;
  for (const auto& [dll, functions] : image.imports) {
    auto allowed = kAllowedImports.find(dll);
    ASSERT_NE(allowed, kAllowedImports.end()) << "SETUP.EXE imports from " << dll;
    for (const std::string& function : functions)
      EXPECT_TRUE(allowed->second.count(function)) << dll << "!" << function;
  }
}

// SETUP.EXE runs from download folders, where a planted VERSION.DLL beside it would be loaded in
// place of the system's if it were imported. The version functions are loaded by full path.
TEST(SetupExeImage, DoesNotImportTheVersionLibrary) {
  PeImage image = ReadPeImage(kSetupExe);
  ASSERT_TRUE(image.valid) << kSetupExe;
  for (const auto& [dll, functions] : image.imports) EXPECT_NE(ToUpper(dll), "VERSION.DLL");
}

}  // namespace
