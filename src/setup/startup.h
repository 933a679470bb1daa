// The start-up steps of the setup sequence: the Windows version check, the wait for running
// copies of the product, the command line and SETUP.EXE's own folder and time.
#pragma once
#include <windows.h>

// True on Windows 95 and NT 4.0 or later; otherwise shows message 1052 and returns false.
bool CheckWindowsVersion(HWND owner);

// Asks the user to close running copies of the product (message 1025) until none is left (true)
// or the user cancels (false).
bool WaitWhileProductRuns();

// Copies the path that follows "-argv0" in `commandTail` into `argv0Path` (at most 259
// characters), without the double quotes around it; any other command line gives an empty path.
void ReadArgv0Path(const char* commandTail, char* argv0Path);

// Fills sourceFolder (ending in a backslash) and setupWriteTime from SETUP.EXE itself.
void LocateSource();
