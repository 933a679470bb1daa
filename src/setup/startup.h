// The start-up steps of the setup sequence: the Windows version check, the wait for running
// copies of the product and SETUP.EXE's own folder and time.
#pragma once
#include <windows.h>

// True on Windows 95 and NT 4.0 or later; otherwise shows message 1052 and returns false.
bool CheckWindowsVersion(HWND owner);

// Asks the user to close running copies of the product (message 1025) until none is left (true)
// or the user cancels (false).
bool WaitWhileProductRuns();

// True when no other SETUP.EXE runs; otherwise shows message 1062 and returns false.
bool ClaimSingleSetup();

// Fills sourceFolder (ending in a backslash) and setupWriteTime from SETUP.EXE itself.
void LocateSource();
