// The search path for libraries loaded by name, narrowed at start-up by SETUP.EXE and the package
// stub: both are run from download folders and shares, where a planted VERSION.DLL or
// UXTHEME.DLL waits for whoever loads that name without a path.
#pragma once
#include <windows.h>

#include "common/files.h"

// Where Windows can (Windows 7 with KB2533623 and later), the search goes to the system folder
// only; older systems at least lose the current folder. Inline: each program calls it once,
// first thing.
inline void LimitLibrarySearch() {
  constexpr DWORD kSearchSystem32 = 0x800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
  HMODULE kernel = GetModuleHandleA("KERNEL32.DLL");
  using SetDefaultDirectories = BOOL(WINAPI*)(DWORD);
  using SetDirectory = BOOL(WINAPI*)(LPCSTR);
  auto setDefault =
      ProcAs<SetDefaultDirectories>(GetProcAddress(kernel, "SetDefaultDllDirectories"));
  auto setDirectory = ProcAs<SetDirectory>(GetProcAddress(kernel, "SetDllDirectoryA"));
  if (setDefault) setDefault(kSearchSystem32);
  if (setDirectory) setDirectory("");
}
