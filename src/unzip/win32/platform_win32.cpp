// The Win32 side of the extractor's platform seam, as SETUP.EXE runs it: Win32 file calls, the
// history window from the global heap, OEM names converted with OemToChar, the progress dialog's
// private messages, the thread's message pump and the captionless error box.
#include <stdlib.h>
#include <windows.h>

#include "common/files.h"
#include "common/setup_state.h"
#include "ui/messages.h"
#include "ui/progress_messages.h"
#include "unzip/platform.h"

namespace {

HANDLE HandleOf(PlatformFile file) {
  return reinterpret_cast<HANDLE>(file);
}

PlatformFile FileOf(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<PlatformFile>(handle);
}

HWND WindowOf(void* window) {
  return static_cast<HWND>(window);
}

// The catalogue text that the extractor's next error box is made from: the log names its id. A
// text of the extractor's own (the password texts) leaves 0.
UINT errorTextId = 0;

}  // namespace

PlatformFile OpenArchiveFile(const char* path) {
  return FileOf(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
}

PlatformFile CreatePlatformFile(const char* path) {
  return FileOf(
      CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

int32_t ReadPlatformFile(PlatformFile file, void* buffer, uint32_t count) {
  DWORD done = 0;
  ReadFile(HandleOf(file), buffer, count, &done, nullptr);
  return static_cast<int32_t>(done);
}

int32_t WritePlatformFile(PlatformFile file, const void* buffer, uint32_t count) {
  DWORD done = 0;
  if (!WriteFile(HandleOf(file), buffer, count, &done, nullptr) && done == 0) return -1;
  return static_cast<int32_t>(done);
}

bool SeekPlatformFile(PlatformFile file, int32_t offset, bool fromStart) {
  return SetFilePointer(HandleOf(file), offset, nullptr, fromStart ? FILE_BEGIN : FILE_CURRENT) !=
         INVALID_SET_FILE_POINTER;
}

void ClosePlatformFile(PlatformFile file) {
  CloseHandle(HandleOf(file));
}

void DeletePlatformFile(const char* path) {
  DeleteFileA(path);
}

void SetPlatformFileTime(PlatformFile file, uint16_t dosDate, uint16_t dosTime) {
  FILETIME local, universal;
  if (DosDateTimeToFileTime(dosDate, dosTime, &local) &&
      LocalFileTimeToFileTime(&local, &universal))
    SetFileTime(HandleOf(file), nullptr, nullptr, &universal);
}

void* AllocateWindowMemory(uint32_t size) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, size);
  if (!block) return nullptr;
  void* memory = GlobalLock(block);
  if (!memory) GlobalFree(block);
  return memory;
}

void FreeWindowMemory(void* memory) {
  HGLOBAL block = GlobalHandle(memory);
  GlobalUnlock(block);
  GlobalFree(block);
}

void* AllocateMemory(uint32_t size) {
  return malloc(size);
}

void FreeMemory(void* block) {
  free(block);
}

void OemToAnsiName(const char* source, char* target, uint32_t capacity) {
  lstrcpynA(target, source, static_cast<int>(capacity));
  OemToCharA(target, target);
}

void AnsiToOemInPlace(char* text) {
  CharToOemA(text, text);
}

bool NamesEqualIgnoringCase(const char* a, const char* b) {
  return lstrcmpiA(a, b) == 0;
}

void SendEntryName(void* window, const char* name) {
  if (window) SendMessageA(WindowOf(window), PDM_SETFILENAME, 0, reinterpret_cast<LPARAM>(name));
}

bool SendProgress(void* window, uint16_t units) {
  return window && SendMessageA(WindowOf(window), PDM_PROGRESS, units, 0) != 0;
}

bool PumpPlatformMessages(void*) {
  DispatchPendingMessages(true);
  return setupState.cancelRequested;
}

const char* PlatformMessageText(int id) {
  errorTextId = static_cast<UINT>(id);
  return ComposeMessage(errorTextId);
}

void ShowPlatformError(void* window, int errorClass, const char* text) {
  ShowExtractionError(WindowOf(window), errorClass, text, errorTextId);
  errorTextId = 0;
}
