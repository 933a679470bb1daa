#include "common/setup_log.h"

#include <stdarg.h>
#include <string.h>

#include "common/setup_state.h"

namespace {

constexpr int kLabelChars = 64;        // the time and a label
constexpr int kFormattedChars = 1025;  // wvsprintfA writes at most 1024 characters

void Write(HANDLE file, const char* text, size_t length) {
  DWORD written;
  WriteFile(file, text, static_cast<DWORD>(length), &written, nullptr);
}

// Opened and closed for each entry, so that the file is whole whenever setup stops, and shared,
// so that it can be read (or appended to by another program) meanwhile.
void AppendEntry(const char* label, const char* text) {
  if (!setupState.logFile[0]) return;
  HANDLE file = CreateFileA(setupState.logFile, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  SetFilePointer(file, 0, nullptr, FILE_END);
  SYSTEMTIME now;
  GetLocalTime(&now);
  char head[kLabelChars];
  Write(file, head,
        wsprintfA(head, "%04u-%02u-%02u %02u:%02u:%02u  %s", now.wYear, now.wMonth, now.wDay,
                  now.wHour, now.wMinute, now.wSecond, label));
  for (const char* end; (end = strchr(text, '\n')) != nullptr; text = end + 1) {
    Write(file, text, end - text);
    Write(file, "\r\n\t", 3);
  }
  Write(file, text, strlen(text));
  Write(file, "\r\n", 2);
  CloseHandle(file);
}

}  // namespace

void LogStep(const char* format, ...) {
  char text[kFormattedChars];
  va_list arguments;
  va_start(arguments, format);
  wvsprintfA(text, format, arguments);
  va_end(arguments);
  AppendEntry("", text);
}

void LogMessage(UINT id, const char* text) {
  char label[kLabelChars];
  if (id)
    wsprintfA(label, "message %u: ", id);
  else
    lstrcpyA(label, "message: ");
  AppendEntry(label, text);
}
