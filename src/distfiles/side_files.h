// The seven loose side files of the distribution: checked against SETUP.EXE's time and counted
// into the progress total, then copied into the install folder.
#pragma once
#include <windows.h>

// Check mode: every side file present with SETUP.EXE's time; adds their sizes to totalBytes.
bool CheckSideFiles(HWND owner);

// Copy mode: copies the side files into the install folder with progress.
bool CopySideFiles(HWND owner);
