// The modeless progress dialog shown while side files are copied and the archive is unpacked.
#pragma once
#include <windows.h>

// Creates the progress dialog (hidden) and returns its window, or null.
HWND CreateProgressDialog();
