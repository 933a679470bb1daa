#include "common/setup_log.h"

#include <stdarg.h>
#include <string.h>

#include "common/setup_state.h"

namespace {

constexpr int kLabelChars = 64;        // the time and a label
constexpr int kFormattedChars = 1025;  // wvsprintfA writes at most 1024 characters
// The time, the label, a text whose every character may become a line break and a tab, CR LF.
constexpr int kEntryChars = kLabelChars + 3 * kFormattedChars + 2;

// Windows NT opens a file for appending only: each write then lands at the end of the file as
// it is at that moment, so two writers never overwrite each other's lines. Windows 95 knows no
// such right: there the entry is written at the end found on opening.
HANDLE OpenForAppending(const char* path) {
  bool windowsNt = (GetVersion() & 0x80000000) == 0;
  HANDLE file = CreateFileA(path, windowsNt ? FILE_APPEND_DATA : GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (!windowsNt) SetFilePointer(file, 0, nullptr, FILE_END);
  return file;
}

// "time  label text" and CR LF, as one piece. A line break inside the text, be it CR, LF or
// CR LF, goes on in a line of its own behind a tab: no text (a name from an archive, an
// argument) can start a line that reads as an entry. Returns the length.
int ComposeEntry(char* entry, const char* label, const char* text) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  int length = wsprintfA(entry, "%04u-%02u-%02u %02u:%02u:%02u  %s", now.wYear, now.wMonth,
                         now.wDay, now.wHour, now.wMinute, now.wSecond, label);
  for (; *text && length < kEntryChars - 5; ++text) {
    if (*text == '\r' && text[1] == '\n') ++text;
    if (*text != '\r' && *text != '\n') {
      entry[length++] = *text;
      continue;
    }
    memcpy(entry + length, "\r\n\t", 3);
    length += 3;
  }
  memcpy(entry + length, "\r\n", 2);
  return length + 2;
}

// Opened and closed for each entry, so that the file is whole whenever setup stops, and shared,
// so that it can be read (or appended to by another program) meanwhile. One write per entry.
void AppendEntry(const char* label, const char* text) {
  if (!setupState.logFile[0]) return;
  HANDLE file = OpenForAppending(setupState.logFile);
  if (file == INVALID_HANDLE_VALUE) return;
  char entry[kEntryChars];
  DWORD written;
  WriteFile(file, entry, ComposeEntry(entry, label, text), &written, nullptr);
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
