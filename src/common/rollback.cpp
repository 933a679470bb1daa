#include "common/rollback.h"

#include <string.h>

#include "common/files.h"
#include "common/install_names.h"
#include "common/setup_log.h"
#include "common/setup_state.h"

namespace {

constexpr char kJournalName[] = "SETUP.JNL";
// The last line of a complete journal: no file name holds a '*'.
constexpr char kJournalEnd[] = "\n*\r\n";
constexpr DWORD kJournalEndBytes = sizeof kJournalEnd - 1;
// A path in the rollback folder may pass kPathChars; the file call then refuses it, whole.
constexpr int kAsideChars = 2 * kPathChars;
constexpr int kBelowRoot = 3;  // "C:\", or the "\\" of a network path

bool journalActive = false;

// The character after the last backslash of `path`.
const char* AfterLastSeparator(const char* path) {
  const char* name = path;
  for (; *path; ++path)
    if (*path == '\\') name = path + 1;
  return name;
}

// installFolder + `name`, or the rollback folder's `name` ("" for the folder itself).
void InstallFolderPath(char* path, const char* name) {
  CopyText(path, setupState.installFolder, kAsideChars);
  AppendText(path, name, kAsideChars);
}

void AsidePath(char* path, const char* name) {
  InstallFolderPath(path, kRollbackFolderName);
  if (!name[0]) return;
  AppendText(path, "\\", kAsideChars);
  AppendText(path, name, kAsideChars);
}

using FileVisitor = void (*)(const char* name, void* context);

// Calls `visit` with the name of each file (not folder) right in `folder`.
void ForEachFile(const char* folder, FileVisitor visit, void* context) {
  char pattern[kAsideChars];
  CopyText(pattern, folder, kAsideChars);
  AppendSeparator(pattern);
  AppendText(pattern, "*", kAsideChars);
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(pattern, &found);
  if (search == INVALID_HANDLE_VALUE) return;
  do {
    if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) visit(found.cFileName, context);
  } while (FindNextFileA(search, &found));
  FindClose(search);
}

struct JournalWriter {
  HANDLE file;
  bool complete;
};

void Put(JournalWriter* writer, const char* text) {
  DWORD length = lstrlenA(text), written = 0;
  if (!WriteFile(writer->file, text, length, &written, nullptr) || written != length)
    writer->complete = false;
}

void NoteFile(const char* name, void* context) {
  auto* writer = static_cast<JournalWriter*>(context);
  Put(writer, "\r\n");
  Put(writer, name);
}

// The first line names the first folder level the run creates ("" for none); each further line
// a file that the install folder holds now. Flushed: the journal is on the disk before the
// first change it describes.
bool WriteJournal(const char* path, const char* createdLevel) {
  JournalWriter writer;
  writer.file =
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (writer.file == INVALID_HANDLE_VALUE) return false;
  writer.complete = true;
  Put(&writer, createdLevel);
  ForEachFile(setupState.installFolder, NoteFile, &writer);
  Put(&writer, kJournalEnd);
  bool written = writer.complete && FlushFileBuffers(writer.file);
  CloseHandle(writer.file);
  return written;
}

// A journal read back: its lines, each ended by a NUL. `text` is null when there is no complete
// journal; nothing was then moved aside under it.
struct Journal {
  char* text;
  DWORD length;
  bool restoredAll;
};

void LoadJournal(const char* path, Journal* journal) {
  journal->text = nullptr;
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD size = SetFilePointer(file, 0, nullptr, FILE_END);
  SetFilePointer(file, 0, nullptr, FILE_BEGIN);
  char* text = size < kJournalEndBytes || size == INVALID_SET_FILE_POINTER
                   ? nullptr
                   : static_cast<char*>(GlobalAlloc(GMEM_FIXED, size + 1));
  DWORD read = 0;
  if (text && (!ReadFile(file, text, size, &read, nullptr) || read != size ||
               memcmp(text + size - kJournalEndBytes, kJournalEnd, kJournalEndBytes) != 0)) {
    GlobalFree(text);
    text = nullptr;
  }
  CloseHandle(file);
  if (!text) return;
  for (DWORD i = 0; i < size; ++i)
    if (text[i] == '\r' || text[i] == '\n') text[i] = '\0';
  text[size] = '\0';
  journal->text = text;
  journal->length = size;
}

bool Listed(const Journal& journal, const char* name) {
  int length = lstrlenA(name);
  const char* end = journal.text + journal.length;
  for (const char* line = journal.text + lstrlenA(journal.text) + 1; line < end;
       line += lstrlenA(line) + 1)
    if (lstrlenA(line) == length && lstrcmpiA(line, name) == 0) return true;
  return false;
}

// A file of the install folder that the journal does not list was made by the run (the log
// excepted, which may lie there).
void RemoveIfCreated(const char* name, void* context) {
  char path[kAsideChars];
  InstallFolderPath(path, name);
  if (!Listed(*static_cast<Journal*>(context), name) && lstrcmpiA(path, setupState.logFile) != 0)
    DeleteFileA(path);
}

// A file moved aside goes back when the folder held it before the run. Without a journal the
// run had come to its end (the journal goes first): a file moved aside then comes back only
// where nothing took its place.
void PutBack(const char* name, void* context) {
  auto* journal = static_cast<Journal*>(context);
  if (lstrcmpiA(name, kJournalName) == 0) return;
  char aside[kAsideChars], path[kAsideChars];
  AsidePath(aside, name);
  InstallFolderPath(path, name);
  if (journal->text ? !Listed(*journal, name) : FileExists(path)) {
    DeleteFileA(aside);
    return;
  }
  DeleteFileA(path);
  if (MoveFileA(aside, path)) return;
  LogStep("Could not restore %s", path);
  journal->restoredAll = false;
}

// Removes the install folder's levels up to `createdLevel` while they are empty.
void RemoveCreatedLevels(const char* createdLevel) {
  if (!createdLevel[0]) return;
  SetCurrentDirectoryA(setupState.sourceFolder);  // a current folder cannot be removed
  char level[kPathChars];
  CopyText(level, setupState.installPath, kPathChars);
  int floor = lstrlenA(createdLevel);
  while (lstrlenA(level) >= floor && RemoveDirectoryA(level)) {
    char* name = const_cast<char*>(AfterLastSeparator(level));
    if (name == level) return;
    name[-1] = '\0';
  }
}

void RemoveRollbackFolder(const char* journalPath) {
  DeleteFileA(journalPath);
  char folder[kAsideChars];
  AsidePath(folder, "");
  RemoveDirectoryA(folder);
}

// Puts back what the journal of the install folder describes; true when every file came back.
bool RestoreFromJournal() {
  char journalPath[kAsideChars], folder[kAsideChars];
  AsidePath(journalPath, kJournalName);
  AsidePath(folder, "");
  Journal journal;
  LoadJournal(journalPath, &journal);
  journal.restoredAll = true;
  if (journal.text) ForEachFile(setupState.installFolder, RemoveIfCreated, &journal);
  ForEachFile(folder, PutBack, &journal);
  RemoveRollbackFolder(journalPath);
  if (journal.text) {
    RemoveCreatedLevels(journal.text);
    GlobalFree(journal.text);
  }
  return journal.restoredAll;
}

void LogRestore(const char* what, bool restoredAll) {
  LogStep(restoredAll ? "%s: the previous installation restored"
                      : "%s: the previous installation restored but for the files named above",
          what);
}

// `level` := the first level of the install folder that does not exist yet, or "".
void FindFirstMissingLevel(char* level) {
  CopyText(level, setupState.installFolder, kPathChars);
  for (char* p = level + kBelowRoot; *p; ++p) {
    if (*p != '\\') continue;
    *p = '\0';
    if (!FileExists(level)) return;
    *p = '\\';
  }
  level[0] = '\0';
}

void DeleteAside(const char* name, void*) {
  char aside[kAsideChars];
  AsidePath(aside, name);
  DeleteFileA(aside);
}

// The test seam's countdown: -2 before the environment was read, -1 without a fault.
LONG writesBeforeFault = -2;
char faultKind;  // 0: a full disk; 'w': wait to be ended; 's': a pause of kFaultPauseMs
constexpr DWORD kFaultPauseMs = 5000;

void ReadWriteFault() {
  char text[16];
  writesBeforeFault = -1;
  if (!GetEnvironmentVariableA("KS_SETUP_WRITE_FAULT", text, sizeof text)) return;
  LONG count = 0;
  const char* p = text;
  while (*p >= '0' && *p <= '9') count = count * 10 + (*p++ - '0');
  writesBeforeFault = count;
  faultKind = *p;
}

}  // namespace

bool BeginInstallJournal(char* failedPath) {
  char journalPath[kAsideChars], folder[kAsideChars];
  AsidePath(journalPath, kJournalName);
  AsidePath(folder, "");
  failedPath[0] = '\0';
  if (FileExists(folder)) LogRestore("Setup was cut off here before", RestoreFromJournal());

  char createdLevel[kPathChars];
  FindFirstMissingLevel(createdLevel);
  if (!EnterInstallPath()) {
    CreateFolderLevels(setupState.installFolder, kBelowRoot);
    if (!EnterInstallPath()) return false;
  }
  CreateDirectoryA(folder, nullptr);
  if (WriteJournal(journalPath, createdLevel)) {
    journalActive = true;
    return true;
  }
  CopyText(failedPath, journalPath, kPathChars);
  RemoveRollbackFolder(journalPath);
  RemoveCreatedLevels(createdLevel);
  return false;
}

bool SetAsideBeforeWriting(const char* path) {
  if (!journalActive) return true;
  char aside[kAsideChars];
  AsidePath(aside, AfterLastSeparator(path));
  if (MoveFileA(path, aside) || !FileExists(path)) return true;
  // Moved aside once already: what lies there now is this run's own.
  return FileExists(aside) && DeleteFileA(path);
}

HANDLE CreateInstallFile(const char* path) {
  HANDLE file =
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE || !SetAsideBeforeWriting(path)) return file;
  return CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

void CommitInstall() {
  if (!journalActive) return;
  journalActive = false;
  char journalPath[kAsideChars], folder[kAsideChars];
  AsidePath(journalPath, kJournalName);
  AsidePath(folder, "");
  DeleteFileA(journalPath);  // from here on the new installation stands
  ForEachFile(folder, DeleteAside, nullptr);
  RemoveDirectoryA(folder);
}

void RollBackInstall() {
  if (!journalActive) return;
  journalActive = false;
  LogRestore("Setup has not completed", RestoreFromJournal());
}

BOOL WriteInstallFile(HANDLE file, const void* data, DWORD count, DWORD* written) {
  if (writesBeforeFault == -2) ReadWriteFault();
  if (writesBeforeFault > 0 && --writesBeforeFault == 0) {
    if (faultKind == 'w') Sleep(INFINITE);
    if (faultKind == 's') {
      Sleep(kFaultPauseMs);
      return WriteFile(file, data, count, written, nullptr);
    }
    *written = 0;
    SetLastError(ERROR_DISK_FULL);
    return FALSE;
  }
  return WriteFile(file, data, count, written, nullptr);
}
