#include "package/private_folder.h"

#include "common/files.h"
#include "common/setup_state.h"

namespace {

constexpr int kNameTries = 64;
constexpr int kRemoveTries = 30;
constexpr DWORD kRemovePauseMs = 100;

// Bits that another user cannot foresee: the counter's ticks, the time, the process id and where
// the stack lies, stirred with every try so that no two tries repeat.
DWORD NextNameBits() {
  static DWORD state;
  LARGE_INTEGER counter = {};
  QueryPerformanceCounter(&counter);
  DWORD mixed = state ^ counter.LowPart ^ counter.HighPart ^ GetTickCount() ^
                (GetCurrentProcessId() << 16) ^
                static_cast<DWORD>(reinterpret_cast<UINT_PTR>(&counter));
  mixed ^= mixed >> 16;
  mixed *= 0x7FEB352Du;
  mixed ^= mixed >> 15;
  mixed *= 0x846CA68Bu;
  mixed ^= mixed >> 16;
  state = mixed + 0x9E3779B9u;
  return mixed;
}

}  // namespace

bool CreatePrivateFolder(char* folder) {
  char temporary[kPathChars];
  DWORD length = GetTempPathA(kPathChars, temporary);
  if (length == 0 || length >= kPathChars - 24) return false;
  AppendSeparator(temporary);
  for (int attempt = 0; attempt < kNameTries; ++attempt) {
    wsprintfA(folder, "%sKS%08lX%04lX\\", temporary, NextNameBits(), NextNameBits() & 0xFFFF);
    if (CreateDirectoryA(folder, nullptr)) return true;
    if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
  }
  return false;
}

void RemovePrivateFolder(const char* folder) {
  char path[kPathChars];
  for (int attempt = 0; attempt < kRemoveTries; ++attempt) {
    CopyText(path, folder, kPathChars);
    AppendText(path, "*", kPathChars);
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search != INVALID_HANDLE_VALUE) {
      do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        CopyText(path, folder, kPathChars);
        AppendText(path, found.cFileName, kPathChars);
        DeleteFileA(path);
      } while (FindNextFileA(search, &found));
      FindClose(search);
    }
    if (RemoveDirectoryA(folder)) return;
    Sleep(kRemovePauseMs);
  }
}
