#include "common/files.h"

#include "common/setup_state.h"

bool FileExists(const char* path) {
  HANDLE search = FindFirstFileA(path, &setupState.findData);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  return true;
}

void AppendSeparator(char* text) {
  int length = lstrlenA(text);
  if (length > 0 && (text[length - 1] == '\\' || text[length - 1] == '/')) return;
  text[length] = '\\';
  text[length + 1] = '\0';
}

void CreateFolderLevels(const char* path, int from, UINT codePage) {
  char level[3 * kPathChars];  // a file's path in a multi-byte code page may be that long
  lstrcpynA(level, path, sizeof level);
  if (lstrlenA(level) < from) return;
  for (char* p = level + from; *p; p += IsDBCSLeadByteEx(codePage, *p) && p[1] ? 2 : 1) {
    if (*p != '\\' && *p != '/') continue;
    char separator = *p;
    *p = '\0';
    CreateDirectoryA(level, nullptr);
    *p = separator;
  }
}

bool EnterInstallPath() {
  const char* path = setupState.installPath;
  return SetCurrentDirectoryA(path[1] == ':' && path[2] == '\0' ? setupState.installFolder : path);
}

bool ReplaceWithTemporary(const char* temporary, const char* target) {
  DeleteFileA(target);
  if (MoveFileA(temporary, target)) return true;
  if (FileExists(target)) DeleteFileA(temporary);
  return false;
}

bool CanOpenExclusively(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

namespace {

// The pause between two tries of a wait: short beside every wait's length, long enough that the
// wait leaves the processor to the program it waits for (on a one-processor machine a loop
// that spins takes it away). A message that arrives ends the pause at once.
constexpr DWORD kRetryPauseMs = 10;

bool TryExclusiveOpen(const void* path) {
  return CanOpenExclusively(static_cast<const char*>(path));
}

}  // namespace

bool WaitForExclusiveOpen(const char* path, DWORD milliseconds) {
  return RetryServingMessages(milliseconds, TryExclusiveOpen, path);
}

bool RetryServingMessages(DWORD milliseconds, RetryAttempt attempt, const void* context) {
  // Elapsed time, not a deadline: tick + time-out wraps every 49.7 days and would end the wait
  // before it began.
  DWORD start = GetTickCount();
  for (DWORD elapsed; (elapsed = GetTickCount() - start) < milliseconds;) {
    DispatchPendingMessages(false);
    if (attempt(context)) return true;
    DWORD left = milliseconds - elapsed;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, left < kRetryPauseMs ? left : kRetryPauseMs,
                              QS_ALLINPUT);
  }
  return false;
}

void DispatchPendingMessages(bool translate) {
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (translate) TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

void AppendText(char* target, const char* source, int capacity) {
  int length = lstrlenA(target);
  if (length < capacity - 1) lstrcpynA(target + length, source, capacity - length);
}
