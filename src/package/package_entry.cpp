// The package stub's start-up code, in place of the C runtime's (as SETUP.EXE's): it keeps every
// library it loads to the system folder, runs the constructors of the program's globals and ends
// the process with the run's exit code.
#include <windows.h>

#include "common/global_constructors.h"
#include "package/run_package.h"
#include "setup/command_tail.h"

namespace {

constexpr DWORD kSearchSystem32 = 0x800;  // LOAD_LIBRARY_SEARCH_SYSTEM32

// The package is run from download folders, where a planted COMCTL32.DLL or UXTHEME.DLL waits
// for whoever loads that name without a path. Where Windows can, the search is narrowed to the
// system folder before anything else happens; older systems at least lose the current folder.
void LimitLibrarySearch() {
  HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
  using SetDefaultDirectories = BOOL(WINAPI*)(DWORD);
  using SetDirectory = BOOL(WINAPI*)(LPCSTR);
  auto setDefault = reinterpret_cast<SetDefaultDirectories>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDefaultDllDirectories")));
  auto setDirectory = reinterpret_cast<SetDirectory>(
      reinterpret_cast<void*>(GetProcAddress(kernel, "SetDllDirectoryA")));
  if (setDefault) setDefault(kSearchSystem32);
  if (setDirectory) setDirectory("");
}

}  // namespace

// The entry point that the linker gives a Windows GUI program.
extern "C" [[noreturn]] void WinMainCRTStartup() {
  LimitLibrarySearch();
  RunGlobalConstructors();
  ExitProcess(RunPackage(CommandTail(GetCommandLineA())));
}
