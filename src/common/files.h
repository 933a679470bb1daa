// Small file and message-queue routines that every part of setup uses: existence checks through
// a directory search, separator handling, entering the install folder, replacing a file by a
// complete new one, and waiting for exclusive access to a file.
#pragma once
#include <windows.h>

#include "common/text.h"

// Searches for `path` (wildcards allowed). On success the found entry is left in
// setupState.findData. True when something was found.
bool FileExists(const char* path);

// Appends a backslash unless `text` already ends in a backslash or a forward slash.
void AppendSeparator(char* text);

// Creates each missing folder on the way to `path` whose name ends at a separator at index
// `from` or beyond (a slash or a backslash): for a folder path ending in a separator, every level
// of it; for a file's path, the folders it lies in. A level that exists, or cannot be made, is
// passed over: what uses the path finds out. The path is read a character at a time in
// `codePage`: the second byte of a double-byte character may be 0x5C and is no separator.
void CreateFolderLevels(const char* path, int from, UINT codePage = CP_ACP);

// Makes the install folder the current one. A drive's root is entered as "C:\": "C:" alone
// would name the drive's current folder.
bool EnterInstallPath();

// Puts the file `temporary` in the place of `target`, deleting `target` first (Windows 95 cannot
// move onto an existing file). When the move fails, whichever copy is left stays: `temporary` is
// removed only while `target` is still there. True when `target` is the former `temporary`.
bool ReplaceWithTemporary(const char* temporary, const char* target);

// Retries an exclusive read-write open of `path`, dispatching the thread's messages between
// attempts, until it succeeds (true) or `milliseconds` have passed (false). 0 never tries.
bool WaitForExclusiveOpen(const char* path, DWORD milliseconds);

// One try of a wait; true ends the wait.
using RetryAttempt = bool (*)(const void* context);

// Until `milliseconds` have passed (false): dispatches the thread's waiting messages, makes one
// `attempt` (true once it succeeds), and sleeps a moment or until a message arrives. 0 never
// tries.
bool RetryServingMessages(DWORD milliseconds, RetryAttempt attempt, const void* context);

// Reads `count` bytes at `position` of `file`; true when all of them were there.
bool ReadFileAt(HANDLE file, DWORD position, void* data, DWORD count);

// True when `path` can be opened for reading and writing with no sharing at this moment.
bool CanOpenExclusively(const char* path);

// Removes and dispatches every message waiting in the thread's queue, without waiting.
// With `translate`, keyboard messages are translated first.
void DispatchPendingMessages(bool translate);

// A function that GetProcAddress found, as the type it has.
template <typename Proc>
Proc ProcAs(FARPROC proc) {
  return reinterpret_cast<Proc>(reinterpret_cast<void (*)()>(proc));
}

// Appends `source` to `target` as far as `capacity` (the target's whole size) allows.
void AppendText(char* target, const char* source, int capacity);
