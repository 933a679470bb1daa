#include "common/rollback.h"

#include <string.h>

#include "common/files.h"
#include "common/install_names.h"
#include "common/setup_log.h"
#include "common/setup_state.h"

namespace {

constexpr char kJournalName[] = "SETUP.JNL";
constexpr char kBackupName[] = "SETUP.BAK";
// The last line of a complete journal: no file name holds a '*'.
constexpr char kJournalEnd[] = "\n*\r\n";
constexpr DWORD kJournalEndBytes = sizeof kJournalEnd - 1;
// A path in the rollback folder may pass kPathChars; the file call then refuses it, whole.
constexpr int kFolderPathChars = 2 * kPathChars;
constexpr int kBelowRoot = 3;  // "C:\", or the "\\" of a network path

bool journalActive = false;
// The backup of the files the run writes over, open while the journal is, and its length.
HANDLE backupFile;
DWORD backupBytes;

// One file in the backup: this header, the name's bytes, then the file's bytes.
struct BackupRecord {
  DWORD attributes;
  FILETIME created, written;
  DWORD size;
  DWORD nameBytes;
};

// The names setup.ks and the side files will write, a bit per hash: a file of the install
// folder whose bit is set is backed up before the first write, all in one flush.
constexpr DWORD kNameHashes = 1 << 16;
DWORD namesToWrite[kNameHashes / 32];

// The names backed up under this journal, exactly. A name takes two bytes at least (with its
// NUL), so the slots stay at least half free; a name that finds no room is backed up again
// where it is written (the restore keeps its first copy).
constexpr DWORD kNameSlots = 1 << 16;
DWORD backedUpSlots[kNameSlots];  // 1 + the name's offset in backedUpNames, or 0
char backedUpNames[kNameSlots];
DWORD backedUpBytes;
// On Windows NT the backup's handles stay open, by slot, and the run writes through them: a
// second open and close of each file is what the backup would otherwise cost. (Windows 95 may
// run out of file handles: there each file is opened again.)
HANDLE keptFiles[kNameSlots];
bool keepFiles;

// Most product files fit whole: one read and one write each.
BYTE copyBlock[1 << 17];

// Letters compare in either case; any other byte only with itself.
BYTE Folded(BYTE c) {
  return c >= 'a' && c <= 'z' ? c - ('a' - 'A') : c;
}

DWORD NameHash(const char* name, int length) {
  DWORD hash = 0;
  for (int i = 0; i < length; ++i) hash = hash * 31 + Folded(name[i]);
  return hash;
}

bool SameName(const char* a, const char* b) {
  for (; Folded(*a) == Folded(*b); ++a, ++b)
    if (!*a) return true;
  return false;
}

bool MayBeWritten(const char* name) {
  DWORD hash = NameHash(name, lstrlenA(name)) % kNameHashes;
  return (namesToWrite[hash / 32] >> hash % 32) & 1;
}

// The slot that holds `name`, or the empty one where it would go.
DWORD* SlotOf(const char* name) {
  for (DWORD i = NameHash(name, lstrlenA(name));; ++i) {
    DWORD* slot = &backedUpSlots[i % kNameSlots];
    if (!*slot || SameName(backedUpNames + *slot - 1, name)) return slot;
  }
}

bool IsBackedUp(const char* name) {
  return *SlotOf(name) != 0;
}

// The kept handle of `name`'s file, or null. It is the caller's from here on.
HANDLE TakeKeptFile(const char* name) {
  HANDLE* kept = &keptFiles[SlotOf(name) - backedUpSlots];
  HANDLE file = *kept;
  *kept = nullptr;
  return file;
}

void RememberBackup(const char* name) {
  DWORD bytes = lstrlenA(name) + 1;
  DWORD* slot = SlotOf(name);
  if (*slot || backedUpBytes + bytes > sizeof backedUpNames) return;
  CopyText(backedUpNames + backedUpBytes, name, bytes);
  *slot = backedUpBytes + 1;
  backedUpBytes += bytes;
}

// Keeps `file` open for the run as the file of the backed-up `name`, where that is done.
bool KeepFile(const char* name, HANDLE file) {
  HANDLE* kept = &keptFiles[SlotOf(name) - backedUpSlots];
  if (!keepFiles || !IsBackedUp(name) || *kept) return false;
  *kept = file;
  return true;
}

// The character after the last backslash of `path`.
const char* AfterLastSeparator(const char* path) {
  const char* name = path;
  for (; *path; ++path)
    if (*path == '\\') name = path + 1;
  return name;
}

// installFolder + `name`, or the rollback folder's `name` ("" for the folder itself).
void InstallFolderPath(char* path, const char* name) {
  CopyText(path, setupState.installFolder, kFolderPathChars);
  AppendText(path, name, kFolderPathChars);
}

void RollbackFolderPath(char* path, const char* name) {
  InstallFolderPath(path, kRollbackFolderName);
  if (!name[0]) return;
  AppendText(path, "\\", kFolderPathChars);
  AppendText(path, name, kFolderPathChars);
}

bool WriteAll(HANDLE file, const void* data, DWORD count) {
  DWORD written = 0;
  return WriteFile(file, data, count, &written, nullptr) && written == count;
}

// Copies `count` bytes from where `from` stands to where `to` stands.
bool CopyBytes(HANDLE from, HANDLE to, DWORD count) {
  while (count) {
    DWORD chunk = count < sizeof copyBlock ? count : sizeof copyBlock, read = 0;
    if (!ReadFile(from, copyBlock, chunk, &read, nullptr) || read != chunk ||
        !WriteAll(to, copyBlock, chunk))
      return false;
    count -= chunk;
  }
  return true;
}

// Appends the open file `source` at `path`, read from its start, to the backup. A record cut
// short goes again: the ones after it must still be found. (GetFileInformationByHandle would
// tell all in one call, but Wine asks the volume for its serial number each time.)
bool AppendBackup(HANDLE source, const char* path) {
  const char* name = AfterLastSeparator(path);
  BackupRecord record;
  DWORD high;
  record.attributes = GetFileAttributesA(path);
  record.size = GetFileSize(source, &high);
  record.nameBytes = lstrlenA(name);
  // The backup is read back with positions of 31 bits.
  DWORD end = backupBytes + sizeof record + record.nameBytes + record.size;
  if (high || end < backupBytes || end > 0x7FFFFFFF ||
      !GetFileTime(source, &record.created, nullptr, &record.written))
    return false;
  if (WriteAll(backupFile, &record, sizeof record) &&
      WriteAll(backupFile, name, record.nameBytes) && CopyBytes(source, backupFile, record.size)) {
    backupBytes = end;
    RememberBackup(name);
    return true;
  }
  SetFilePointer(backupFile, backupBytes, nullptr, FILE_BEGIN);
  SetEndOfFile(backupFile);
  return false;
}

// Backs up the install folder's file at `path`; false when it cannot be read. With `keep`, it
// is opened for writing too, shared as the log file is, and may stay open for the run.
bool BackUpFile(const char* path, bool keep = false) {
  HANDLE file = CreateFileA(path, keep ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool backedUp = AppendBackup(file, path);
  if (!backedUp || !keep || !KeepFile(AfterLastSeparator(path), file)) CloseHandle(file);
  return backedUp;
}

using FileVisitor = void (*)(const char* name, void* context);

// Calls `visit` with the name of each file (not folder) right in `folder`.
void ForEachFile(const char* folder, FileVisitor visit, void* context) {
  char pattern[kFolderPathChars];
  CopyText(pattern, folder, kFolderPathChars);
  AppendSeparator(pattern);
  AppendText(pattern, "*", kFolderPathChars);
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
  if (!WriteAll(writer->file, text, lstrlenA(text))) writer->complete = false;
}

// Lists the file, and backs it up when the run may write it. A file that cannot be read now is
// tried again where it is written.
void NoteFile(const char* name, void* context) {
  auto* writer = static_cast<JournalWriter*>(context);
  Put(writer, "\r\n");
  Put(writer, name);
  if (MayBeWritten(name)) BackUpFile(name, true);  // the install folder is the current one
}

// The first line names the first folder level the run creates ("" for none); each further line
// a file that the install folder holds now. The backup, then the journal's last line, are on
// the disk before the first change they describe.
bool WriteJournal(const char* path, const char* createdLevel) {
  JournalWriter writer;
  writer.file =
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (writer.file == INVALID_HANDLE_VALUE) return false;
  writer.complete = true;
  Put(&writer, createdLevel);
  ForEachFile(setupState.installFolder, NoteFile, &writer);
  if (!FlushFileBuffers(backupFile)) writer.complete = false;
  Put(&writer, kJournalEnd);
  bool written = writer.complete && FlushFileBuffers(writer.file);
  CloseHandle(writer.file);
  return written;
}

// A journal read back: its lines, each ended by a NUL. `text` is null when there is no complete
// journal; nothing was then written under it.
struct Journal {
  char* text;
  DWORD length;
};

void LoadJournal(const char* path, Journal* journal) {
  journal->text = nullptr;
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  DWORD size = GetFileSize(file, nullptr);
  char* text = size < kJournalEndBytes || size == INVALID_FILE_SIZE
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
  char path[kFolderPathChars];
  InstallFolderPath(path, name);
  if (!Listed(*static_cast<Journal*>(context), name) && lstrcmpiA(path, setupState.logFile) != 0)
    DeleteFileA(path);
}

// Walks the backup's records from its start, noting where each begins in `starts` when given;
// their count. A record cut short (the run was cut off while writing it) ends the walk: the
// file it was for had not been written yet.
DWORD WalkBackup(HANDLE backup, DWORD* starts) {
  DWORD end = GetFileSize(backup, nullptr), at = 0, count = 0;
  BackupRecord record;
  while (ReadFileAt(backup, at, &record, sizeof record) && record.nameBytes < kPathChars) {
    DWORD next = at + sizeof record + record.nameBytes + record.size;
    if (next > end || next < at) break;
    if (starts) starts[count] = at;
    ++count;
    at = next;
  }
  return count;
}

// Writes the record at `at` back into the install folder, times and attributes included.
bool RestoreRecord(HANDLE backup, DWORD at) {
  BackupRecord record;
  char name[kPathChars], path[kFolderPathChars];
  if (!ReadFileAt(backup, at, &record, sizeof record) ||
      !ReadFileAt(backup, at + sizeof record, name, record.nameBytes))
    return false;
  name[record.nameBytes] = '\0';
  InstallFolderPath(path, name);
  if (lstrcmpiA(path, setupState.logFile) == 0) return true;  // the log keeps this run's lines
  SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);  // a read-only file takes its bytes too
  HANDLE file =
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  // Emptied first: on a full disk the run's bytes make room for the old ones.
  bool restored = file != INVALID_HANDLE_VALUE && SetEndOfFile(file) &&
                  CopyBytes(backup, file, record.size) &&
                  SetFileTime(file, &record.created, nullptr, &record.written);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
  SetFileAttributesA(path, record.attributes);
  if (!restored) LogStep("Could not restore %s", path);
  return restored;
}

// Writes every backed-up file back, the last record first: where a name was backed up twice,
// its first copy is the one from before the run.
bool RestoreBackup(const char* path) {
  HANDLE backup =
      CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (backup == INVALID_HANDLE_VALUE) return true;
  DWORD count = WalkBackup(backup, nullptr);
  auto* starts = static_cast<DWORD*>(GlobalAlloc(GMEM_FIXED, count * sizeof(DWORD) + 1));
  bool restoredAll = starts != nullptr;
  if (starts) {
    WalkBackup(backup, starts);
    while (count--)
      if (!RestoreRecord(backup, starts[count])) restoredAll = false;
    GlobalFree(starts);
  }
  CloseHandle(backup);
  return restoredAll;
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

// The journal goes first: without it, what is left counts for nothing.
void RemoveRollbackFolder() {
  char path[kFolderPathChars];
  RollbackFolderPath(path, kJournalName);
  DeleteFileA(path);
  RollbackFolderPath(path, kBackupName);
  DeleteFileA(path);
  RollbackFolderPath(path, "");
  RemoveDirectoryA(path);
}

// Puts back what the journal of the install folder describes; true when every file came back.
bool RestoreFromJournal() {
  char path[kFolderPathChars];
  RollbackFolderPath(path, kJournalName);
  Journal journal;
  LoadJournal(path, &journal);
  bool restoredAll = true;
  if (journal.text) {
    RollbackFolderPath(path, kBackupName);
    restoredAll = RestoreBackup(path);
    ForEachFile(setupState.installFolder, RemoveIfCreated, &journal);
  }
  RemoveRollbackFolder();
  if (journal.text) {
    RemoveCreatedLevels(journal.text);
    GlobalFree(journal.text);
  }
  return restoredAll;
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

void EndBackup() {
  journalActive = false;
  CloseHandle(backupFile);
  for (HANDLE& file : keptFiles) {
    if (file) CloseHandle(file);
    file = nullptr;
  }
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

void NoteNameToWrite(const char* stored, int length) {
  int base = length;
  while (base > 0 && stored[base - 1] != '/' && stored[base - 1] != '\\') --base;
  DWORD hash = NameHash(stored + base, length - base) % kNameHashes;
  namesToWrite[hash / 32] |= 1u << hash % 32;
}

bool BeginInstallJournal(char* failedPath) {
  char journalPath[kFolderPathChars], backupPath[kFolderPathChars], folder[kFolderPathChars];
  RollbackFolderPath(journalPath, kJournalName);
  RollbackFolderPath(backupPath, kBackupName);
  RollbackFolderPath(folder, "");
  failedPath[0] = '\0';
  if (FileExists(folder)) LogRestore("Setup was cut off here before", RestoreFromJournal());

  char createdLevel[kPathChars];
  FindFirstMissingLevel(createdLevel);
  if (!EnterInstallPath()) {
    CreateFolderLevels(setupState.installFolder, kBelowRoot);
    if (!EnterInstallPath()) return false;
  }
  CreateDirectoryA(folder, nullptr);
  // Names backed up for a folder refused before count for nothing here.
  memset(backedUpSlots, 0, sizeof backedUpSlots);
  backedUpBytes = backupBytes = 0;
  keepFiles = !(GetVersion() & 0x80000000);
  backupFile = CreateFileA(backupPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (backupFile != INVALID_HANDLE_VALUE && WriteJournal(journalPath, createdLevel)) {
    journalActive = true;
    return true;
  }
  EndBackup();
  CopyText(failedPath, journalPath, kPathChars);
  RemoveRollbackFolder();
  RemoveCreatedLevels(createdLevel);
  return false;
}

void ReleaseInstallFile(const char* name) {
  HANDLE file = TakeKeptFile(name);
  if (file) CloseHandle(file);
}

bool KeepBeforeReplacing(const char* path) {
  const char* name = AfterLastSeparator(path);
  ReleaseInstallFile(name);
  if (!journalActive || IsBackedUp(name) || !FileExists(path)) return true;
  return BackUpFile(path) && FlushFileBuffers(backupFile);
}

HANDLE CreateInstallFile(const char* path) {
  HANDLE kept = TakeKeptFile(AfterLastSeparator(path));
  if (kept) {
    SetFilePointer(kept, 0, nullptr, FILE_BEGIN);
    return kept;
  }
  HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE || GetLastError() != ERROR_ALREADY_EXISTS) return file;
  const char* name = AfterLastSeparator(path);
  if (!journalActive || IsBackedUp(name) ||
      (AppendBackup(file, path) && FlushFileBuffers(backupFile) &&
       SetFilePointer(file, 0, nullptr, FILE_BEGIN) == 0))
    return file;
  CloseHandle(file);
  return INVALID_HANDLE_VALUE;
}

void CommitInstall() {
  if (!journalActive) return;
  EndBackup();
  RemoveRollbackFolder();  // from its first step on the new installation stands
}

void RollBackInstall() {
  if (!journalActive) return;
  EndBackup();
  LogRestore("Setup has not completed", RestoreFromJournal());
}

BOOL WriteInstallFile(HANDLE file, const void* data, DWORD count, DWORD* written) {
  if (writesBeforeFault == -2) ReadWriteFault();
  if (writesBeforeFault > 0 && --writesBeforeFault == 0) {
    if (faultKind == 'w') Sleep(INFINITE);
    if (faultKind != 's') {
      *written = 0;
      SetLastError(ERROR_DISK_FULL);
      return FALSE;
    }
    Sleep(kFaultPauseMs);
  }
  return WriteFile(file, data, count, written, nullptr);
}
