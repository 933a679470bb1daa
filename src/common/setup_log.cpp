#include "common/setup_log.h"

#include <stdarg.h>
#include <string.h>

#include "common/setup_state.h"

namespace {

constexpr int kLabelChars = 64;        // the time and a label
constexpr int kFormattedChars = 1025;  // wvsprintfA writes at most 1024 characters
// The time, the label, a text whose every character may become a line break and a tab, CR LF.
constexpr int kEntryChars = kLabelChars + 3 * kFormattedChars + 2;

// Writers of one log take turns: each holds a lock on one byte far past any log's end while
// it finds the end and writes its entry there, so that no entry lands on another. A writer
// that does not get the lock in a moment writes all the same.
constexpr DWORD kTurnByte = 0xFFFFFFFE;
constexpr int kTurnTries = 200;

void WriteAtTheEnd(HANDLE file, const char* entry, int length) {
  bool locked = false;
  for (int tries = 0; !(locked = LockFile(file, kTurnByte, 0, 1, 0)) && tries < kTurnTries; ++tries)
    Sleep(1);
  SetFilePointer(file, 0, nullptr, FILE_END);
  DWORD written;
  WriteFile(file, entry, length, &written, nullptr);
  if (locked) UnlockFile(file, kTurnByte, 0, 1, 0);
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
// so that it can be read (or appended to by another program) meanwhile.
void AppendEntry(const char* label, const char* text) {
  if (!setupState.logFile[0]) return;
  HANDLE file = CreateFileA(setupState.logFile, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  char entry[kEntryChars];
  WriteAtTheEnd(file, entry, ComposeEntry(entry, label, text));
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
