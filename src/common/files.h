// Small file and message-queue routines that every part of setup uses: existence checks through
// a directory search, separator handling, and waiting for exclusive access to a file.
#pragma once
#include <windows.h>

// Searches for `path` (wildcards allowed). On success the found entry is left in
// setupState.findData. True when something was found.
bool FileExists(const char* path);

// Appends a backslash unless `text` already ends in a backslash or a forward slash.
void AppendSeparator(char* text);

// Retries an exclusive read-write open of `path`, dispatching the thread's messages between
// attempts, until it succeeds (true) or `milliseconds` have passed (false). 0 never tries.
bool WaitForExclusiveOpen(const char* path, DWORD milliseconds);

// True when `path` can be opened for reading and writing with no sharing at this moment.
bool CanOpenExclusively(const char* path);

// Removes and dispatches every message waiting in the thread's queue, without waiting.
// With `translate`, keyboard messages are translated first.
void DispatchPendingMessages(bool translate);

// Copies at most `capacity` - 1 characters of `source` and terminates the copy.
void CopyText(char* target, const char* source, int capacity);

// Appends `source` to `target` as far as `capacity` (the target's whole size) allows.
void AppendText(char* target, const char* source, int capacity);
