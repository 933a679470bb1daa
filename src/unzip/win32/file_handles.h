// A PlatformFile is a Win32 file handle: the casts both ways, for the seam's shared file half
// and for each program's own way of creating and writing its output files.
#pragma once
#include <windows.h>

#include "unzip/platform.h"

inline HANDLE HandleOf(PlatformFile file) {
  return reinterpret_cast<HANDLE>(file);
}

inline PlatformFile FileOf(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<PlatformFile>(handle);
}

// Gives the output file the entry's DOS date and time (local time) as its last-write time.
inline void SetFileTimeFromDos(HANDLE file, uint16_t dosDate, uint16_t dosTime) {
  FILETIME local, universal;
  if (DosDateTimeToFileTime(dosDate, dosTime, &local) &&
      LocalFileTimeToFileTime(&local, &universal))
    SetFileTime(file, nullptr, nullptr, &universal);
}
