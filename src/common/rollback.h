// The install folder's rollback: a run's journal, written before its first write, lists the files
// the folder held and the first folder level the run created; each file the run is about to write
// is first moved aside. A failed run, or the next one after a run that was cut off, puts
// everything back; a successful one drops what it moved aside.
#pragma once
#include <windows.h>

// Before the first write into the install folder: restores what a run that was cut off left,
// creates the folder's missing levels, enters it and writes the journal to the disk. False when
// the folder cannot be made (nothing to undo) or the journal cannot be written (undone again);
// `failedPath` then names what could not be written.
bool BeginInstallJournal(char* failedPath);

// Moves an existing file at `path` (a file right in the install folder) aside before it is
// written. True when the name is free to be written; false when a file there cannot be moved.
// Without a journal it does nothing.
bool SetAsideBeforeWriting(const char* path);

// Creates (or truncates) the install folder's file `path` for writing, alone. A name new to the
// folder is created at once; an existing file is first moved aside.
HANDLE CreateInstallFile(const char* path);

// The run has put everything in place: what was moved aside and the journal go.
void CommitInstall();

// The run failed: its files go, the files moved aside come back, the folder levels it created
// go when empty, and the journal goes. Logged. Without a journal it does nothing.
void RollBackInstall();

// Writes into a file of the install folder. One test seam: the environment variable
// KS_SETUP_WRITE_FAULT=N fails the Nth such write as a full disk does; N followed by "w" waits
// there instead until the process is ended from outside, by "s" pauses there for 5 s.
BOOL WriteInstallFile(HANDLE file, const void* data, DWORD count, DWORD* written);
