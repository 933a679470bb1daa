// The progress dialog's private messages, sent by the extractor while it unpacks.
#pragma once
#include <windows.h>

// lParam: the entry's file name. Result: true.
constexpr UINT PDM_SETFILENAME = 1302;
// wParam: the sender's progress in units of 10240 bytes (16 bits). Result: the cancel flag.
constexpr UINT PDM_PROGRESS = 1304;

// Progress positions and the meter's range count units of this many bytes.
constexpr DWORD kProgressUnit = 10240;
