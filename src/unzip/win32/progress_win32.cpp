// The half of the extractor's Win32 seam that is SETUP.EXE's own: output files created and
// written through the install folder's rollback, the progress dialog's private messages, the
// thread's message pump and the captionless error box.
#include <windows.h>

#include "common/files.h"
#include "common/rollback.h"
#include "common/setup_state.h"
#include "ui/messages.h"
#include "ui/progress_messages.h"
#include "unzip/platform.h"
#include "unzip/walk.h"
#include "unzip/win32/file_handles.h"

namespace {

HWND WindowOf(void* window) {
  return static_cast<HWND>(window);
}

}  // namespace

// The folders below the destination are created one after the other; those that exist stay.
PlatformFile CreatePlatformFile(const char* path, uint32_t rootLength, bool createFolders) {
  if (createFolders) CreateFolderLevels(path, static_cast<int>(rootLength));
  return FileOf(CreateInstallFile(path));
}

// The entry's last byte is written: the file ends there (an installed file written over in
// place may have been longer).
void SetPlatformFileTime(PlatformFile file, uint16_t dosDate, uint16_t dosTime) {
  SetEndOfFile(HandleOf(file));
  SetFileTimeFromDos(HandleOf(file), dosDate, dosTime);
}

int32_t WritePlatformFile(PlatformFile file, const void* buffer, uint32_t count) {
  DWORD done = 0;
  if (!WriteInstallFile(HandleOf(file), buffer, count, &done) && done == 0) return -1;
  return static_cast<int32_t>(done);
}

void SendEntryName(void* window, const char* name) {
  if (window)
    SendMessageA(WindowOf(window), PDM_SETFILENAME, 0, reinterpret_cast<LPARAM>(BaseName(name)));
}

void NoteEntryRead(void*, const char*) {}

bool SendProgress(void* window, uint16_t units) {
  return window && SendMessageA(WindowOf(window), PDM_PROGRESS, units, 0) != 0;
}

bool PumpPlatformMessages(void*) {
  DispatchPendingMessages(true);
  return setupState.cancelRequested;
}

const char* PlatformMessageText(int id) {
  return ComposeMessage(static_cast<UINT>(id));
}

// The box shows the catalogue message alone; the log names its id.
void ShowPlatformError(void* window, int errorClass, int textId, const char* text, int,
                       const char*) {
  ShowExtractionError(WindowOf(window), errorClass, text, static_cast<UINT>(textId));
}
