// The seven loose side files of the distribution: checked against SETUP.EXE's time and counted
// into the progress total, then copied into the install folder with progress and Cancel.
#pragma once
#include <windows.h>

#include "distfiles/side_file_table.h"

// Copy results; they double as the ids of the messages that report them. A copy cut short by a
// confirmed Cancel needs no message: the caller sees the flag.
constexpr UINT kCopyDone = 0;
constexpr UINT kCopyCancelled = 1;
constexpr UINT kCopyCannotOpen = 1017;    // source not readable, or no copy buffer
constexpr UINT kCopyCannotCreate = 1018;  // destination not creatable
constexpr UINT kCopyShortWrite = 1019;    // fewer bytes written than asked

// The copy block; the meter moves at most once per kProgressUnit bytes.
constexpr DWORD kCopyBlockBytes = 15360;

// Check mode: every side file present with SETUP.EXE's time; adds their sizes (expanded size
// for an SZDD file) to setupState.totalBytes. Reports a failure owned by `owner`.
bool CheckSideFiles(HWND owner);

// Copy mode: copies the side files into the install folder with progress; false after a
// failure (reported) or a confirmed Cancel.
bool CopySideFiles(HWND owner);

// Both modes: walks the table, checking each row and then counting or copying it.
bool ProcessSideFiles(HWND owner, bool copy);

// Copies table row `row` from `source` into the install folder; reports a failure.
bool CopySideFile(const char* source, int row);

// Copies one file's bytes in kCopyBlockBytes blocks, moving the meter and honouring a
// confirmed Cancel between blocks. Returns a copy result; a copy that is not done (cut short by
// an error or a Cancel) is removed.
UINT CopyFileData(const char* source, const char* destination);

// Gives `destination` the last-write time of `source` as all three of its times.
void CopyFileTimes(HANDLE source, HANDLE destination);

// The expanded size stored in an SZDD header at `path`, or `fallback` for any other file.
DWORD CompressedSize(const char* path, DWORD fallback);
