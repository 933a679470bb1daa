// The package stub's start-up code, in place of the C runtime's (as SETUP.EXE's): it keeps every
// library it loads to the system folder, runs the constructors of the program's globals and ends
// the process with the run's exit code.
#include <windows.h>

#include "common/global_constructors.h"
#include "common/library_search.h"
#include "package/run_package.h"
#include "setup/command_tail.h"

// The entry point that the linker gives a Windows GUI program.
extern "C" [[noreturn]] void WinMainCRTStartup() {
  LimitLibrarySearch();
  RunGlobalConstructors();
  ExitProcess(RunPackage(CommandTail(GetCommandLineA())));
}
