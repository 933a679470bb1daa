// The free-space check before setup's first write: what the distribution will take on the
// install folder's drive (the side files and every entry of setup.ks, uncompressed) against
// what the drive has free.
#pragma once
#include <windows.h>

// The sum of the uncompressed sizes that the central directory of the archive at `path`
// declares; 0 when it has none that can be read (the extraction then finds out what is wrong).
ULONGLONG DeclaredArchiveBytes(const char* path);

// True when the install folder's drive has `neededBytes` free (or cannot tell); otherwise shows
// message 1061 over `owner` with the drive, the space needed and the space free.
bool CheckFreeSpace(HWND owner, ULONGLONG neededBytes);
