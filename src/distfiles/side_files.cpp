#include "distfiles/side_files.h"

#include "common/files.h"
#include "common/rollback.h"
#include "common/setup_state.h"
#include "resources/catalogue.h"
#include "ui/messages.h"
#include "ui/meter_messages.h"
#include "ui/progress_dialog.h"
#include "ui/progress_messages.h"

namespace {

bool SameFileTime(const FILETIME& a, const FILETIME& b) {
  return a.dwLowDateTime == b.dwLowDateTime && a.dwHighDateTime == b.dwHighDateTime;
}

// Present, and from the same release as SETUP.EXE (identical last-write time to the tick).
bool CheckRow(HWND owner, const char* path, const char* name) {
  if (!FileExists(path)) {
    ShowMessage(owner, MSG_SIDE_FILE_MISSING, MB_ICONERROR, name);
    return false;
  }
  if (!SameFileTime(setupState.findData.ftLastWriteTime, setupState.setupWriteTime)) {
    ShowMessage(owner, MSG_SIDE_FILE_TIME, MB_ICONERROR, name);
    return false;
  }
  return true;
}

// Lets the progress dialog repaint and see Cancel before the next file; a click on Cancel
// asks its question from inside this dispatch.
bool CopyRow(const char* path, int row) {
  DispatchPendingMessages(true);
  SetCursor(setupState.cursor);
  return CopySideFile(path, row) && !setupState.cancelRequested;
}

void MoveMeter() {
  if (setupState.copiedBytes < setupState.lastReportedBytes + kProgressUnit) return;
  SendDlgItemMessageA(setupState.progressDialog, kProgressMeterItem, MTR_SETPOS,
                      setupState.copiedBytes / kProgressUnit, 0);
  setupState.lastReportedBytes = setupState.copiedBytes;
}

// Copies block after block until a short read (the end) or a confirmed Cancel, which cuts the
// copy short.
UINT CopyBlocks(HANDLE source, HANDLE destination, BYTE* block) {
  for (;;) {
    DWORD read = 0, written = 0;
    // A read error would otherwise end the loop like the end of the file and pass a
    // truncated copy off as complete.
    if (!ReadFile(source, block, kCopyBlockBytes, &read, nullptr)) return kCopyCannotOpen;
    if (!WriteInstallFile(destination, block, read, &written) || written != read)
      return kCopyShortWrite;
    setupState.copiedBytes += read;
    MoveMeter();
    if (read < kCopyBlockBytes) {
      SetEndOfFile(destination);  // written over in place, the file may have been longer
      CopyFileTimes(source, destination);
      return kCopyDone;
    }
    if (setupState.cancelRequested) return kCopyCancelled;
  }
}

UINT CopyOpenFile(HANDLE source, const char* destination) {
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, kCopyBlockBytes);
  BYTE* block = memory ? static_cast<BYTE*>(GlobalLock(memory)) : nullptr;
  UINT result = kCopyCannotOpen;
  if (block) {
    HANDLE target = CreateInstallFile(destination);
    if (target == INVALID_HANDLE_VALUE) {
      result = kCopyCannotCreate;
    } else {
      result = CopyBlocks(source, target, block);
      CloseHandle(target);
      // A copy cut short would pass for the whole file, with SETUP.EXE's time even: it goes.
      if (result != kCopyDone) DeleteFileA(destination);
    }
    GlobalUnlock(memory);
  }
  if (memory) GlobalFree(memory);
  return result;
}

HANDLE OpenForReading(const char* path) {
  return CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

bool CheckSideFiles(HWND owner) {
  return ProcessSideFiles(owner, false);
}

bool CopySideFiles(HWND owner) {
  return ProcessSideFiles(owner, true);
}

bool ProcessSideFiles(HWND owner, bool copy) {
  for (int row = 0; kSideFiles[row].name; ++row) {
    char path[kPathChars];
    CopyText(path, setupState.sourceFolder, sizeof path);
    AppendText(path, kSideFiles[row].name, sizeof path);
    if (!CheckRow(owner, path, kSideFiles[row].name)) return false;
    if (copy) {
      if (!CopyRow(path, row)) return false;
    } else {
      setupState.totalBytes += CompressedSize(path, setupState.findData.nFileSizeLow);
      NoteNameToWrite(kSideFiles[row].name, lstrlenA(kSideFiles[row].name));
    }
  }
  return true;
}

bool CopySideFile(const char* source, int row) {
  char name[kPathChars];
  CopyText(name, kSideFiles[row].name, sizeof name);
  if (kSideFiles[row].replacement) name[lstrlenA(name) - 1] = kSideFiles[row].replacement;
  SetDlgItemTextA(setupState.progressDialog, kProgressFileNameItem, name);
  char destination[kPathChars];
  CopyText(destination, setupState.installFolder, sizeof destination);
  AppendText(destination, name, sizeof destination);
  return ReportCopyResult(CopyFileData(source, destination), source, destination);
}

UINT CopyFileData(const char* source, const char* destination) {
  HANDLE file = OpenForReading(source);
  if (file == INVALID_HANDLE_VALUE) return kCopyCannotOpen;
  UINT result = CopyOpenFile(file, destination);
  CloseHandle(file);
  return result;
}

void CopyFileTimes(HANDLE source, HANDLE destination) {
  FILETIME written;
  if (GetFileTime(source, nullptr, nullptr, &written))
    SetFileTime(destination, &written, &written, &written);
}

DWORD CompressedSize(const char* path, DWORD fallback) {
  HANDLE file = OpenForReading(path);
  if (file == INVALID_HANDLE_VALUE) return fallback;
  BYTE header[kSzddHeaderBytes];
  DWORD read = 0;
  if (!ReadFile(file, header, sizeof header, &read, nullptr)) read = 0;
  CloseHandle(file);
  return SzddExpandedSize(header, read, fallback);
}
