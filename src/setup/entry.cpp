// SETUP.EXE's start-up code, in place of the C runtime's: it keeps the libraries it loads by name
// to the system folder, runs the constructors of the program's globals, loads the common
// controls, calls WinMain with the command line after the program's name and ends the process
// with WinMain's result. The program uses nothing that the runtime's start-up prepares (no
// stdio, no atexit, no thread-local data, no floating point, no data imported from DLLs), and
// leaving that start-up out keeps about 10 KB out of SETUP.EXE.
#include <windows.h>
#include <commctrl.h>

#include "common/global_constructors.h"
#include "common/library_search.h"
#include "setup/command_tail.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int);

// The entry point that the linker gives a Windows GUI program.
extern "C" [[noreturn]] void WinMainCRTStartup() {
  LimitLibrarySearch();
  RunGlobalConstructors();
  // The manifest asks for Common Controls 6; Windows XP draws the dialogs' buttons and fields
  // with that library's classes only once the program has loaded it.
  InitCommonControls();
  char* tail = const_cast<char*>(CommandTail(GetCommandLineA()));
  ExitProcess(WinMain(GetModuleHandleA(nullptr), nullptr, tail, SW_SHOWDEFAULT));
}
