// The install folder's rollback. Before the run's first write, its journal lists the files the
// folder holds and the first folder level the run creates, and a backup holds a copy of each
// file the run will write over (flushed once, with the journal). Files are then written in
// place, keeping their names. A failed run, or the next one after a run that was cut off,
// writes the copies back and removes what the run created; a successful one drops both.
#pragma once
#include <windows.h>

// Notes a name that the run will write (a stored name: its folders are passed over), so that
// the install folder's file of that name is backed up ahead, with the others.
void NoteNameToWrite(const char* stored, int length);

// Before the first write into the install folder: restores what a run that was cut off left,
// creates the folder's missing levels, enters it, and writes the backup and the journal to the
// disk. False when the folder cannot be made (nothing to undo) or the journal cannot be written
// (undone again); `failedPath` then names what could not be written.
bool BeginInstallJournal(char* failedPath);

// Closes the handle that the backup may have kept open on the install folder's file `name`, for
// a step that must open it alone.
void ReleaseInstallFile(const char* name);

// Before the install folder's file at `path` is deleted or replaced: backs it up unless that
// is done. False when it exists and cannot be backed up. Without a journal it does nothing.
bool KeepBeforeReplacing(const char* path);

// Opens the install folder's file `path` for writing, alone, creating it when new. An existing
// file is backed up first (unless that is done, or there is no journal) and opened in place,
// not emptied: the writer ends it with SetEndOfFile once its last byte is written.
HANDLE CreateInstallFile(const char* path);

// The run has put everything in place: the journal and the backup go.
void CommitInstall();

// The run failed: its files go, the backed-up files are written back, the folder levels it
// created go when empty, and the journal goes. Logged. Without a journal it does nothing.
void RollBackInstall();

// Writes into a file of the install folder. One test seam: the environment variable
// KS_SETUP_WRITE_FAULT=N fails the Nth such write as a full disk does; N followed by "w" waits
// there instead until the process is ended from outside, by "s" pauses there for 5 s.
BOOL WriteInstallFile(HANDLE file, const void* data, DWORD count, DWORD* written);
