// The modeless progress dialog shown while side files are copied and the archive is unpacked,
// and the centring that both of setup's dialogs use.
#pragma once
#include <windows.h>

// Creates the progress dialog (hidden) and returns its window, or null.
HWND CreateProgressDialog();

// Moves a top-level window to the middle of the primary screen, keeping its size and Z order.
void CenterWindow(HWND window);
