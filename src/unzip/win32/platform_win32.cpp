// The Win32 side of the extractor's platform seam that SETUP.EXE and the package stub share:
// Win32 file calls, the history window from the global heap, OEM names converted with OemToChar
// and UTF-8 names spelled in the ANSI code page. The progress and error half is each program's
// own (progress_win32.cpp for SETUP.EXE).
#include <stdlib.h>
#include <windows.h>

#include "common/files.h"
#include "unzip/platform.h"
#include "unzip/utf8.h"

namespace {

HANDLE HandleOf(PlatformFile file) {
  return reinterpret_cast<HANDLE>(file);
}

PlatformFile FileOf(HANDLE handle) {
  return handle == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<PlatformFile>(handle);
}

}  // namespace

PlatformFile OpenArchiveFile(const char* path) {
  return FileOf(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The folders below the destination are created one after the other; those that exist stay.
PlatformFile CreatePlatformFile(const char* path, uint32_t rootLength, bool createFolders) {
  if (createFolders) CreateFolderLevels(path, static_cast<int>(rootLength));
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

int32_t TellPlatformFile(PlatformFile file) {
  return static_cast<int32_t>(SetFilePointer(HandleOf(file), 0, nullptr, FILE_CURRENT));
}

int32_t SeekPlatformFileToEnd(PlatformFile file) {
  return static_cast<int32_t>(SetFilePointer(HandleOf(file), 0, nullptr, FILE_END));
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

namespace {

// A stored name is at most 263 bytes: as many UTF-16 units, and a surrogate pair for four.
constexpr int kWideChars = 264;

// Decodes UTF-8 into UTF-16 (Windows 95 cannot do it); the unit count, or -1.
int Utf8ToWide(const char* source, WCHAR* wide) {
  int count = 0;
  while (*source) {
    uint32_t code = DecodeUtf8Character(source);
    if (code == kNotUtf8 || count + 2 >= kWideChars) return -1;
    if (code >= 0x10000) {
      code -= 0x10000;
      wide[count++] = static_cast<WCHAR>(0xD800 | code >> 10);
      code = 0xDC00 | (code & 0x3FF);
    }
    wide[count++] = static_cast<WCHAR>(code);
  }
  return count;
}

}  // namespace

// A UTF-8 name is spelled in the ANSI code page only when it comes back unchanged from there:
// a character that the code page lacks, or spells by a look-alike, leaves it without a spelling.
bool StoredNameToFileName(const char* source, bool utf8, char* target, uint32_t capacity) {
  lstrcpynA(target, source, static_cast<int>(capacity));
  if (!utf8) {
    OemToCharA(target, target);
    return true;
  }
  WCHAR wide[kWideChars], back[kWideChars];
  int count = Utf8ToWide(source, wide);
  if (count < 0) return false;
  int length = WideCharToMultiByte(CP_ACP, 0, wide, count, target, static_cast<int>(capacity) - 1,
                                   nullptr, nullptr);
  target[length] = '\0';
  if ((length == 0 && count > 0) ||
      MultiByteToWideChar(CP_ACP, 0, target, length, back, kWideChars) != count)
    return false;
  for (int i = 0; i < count; ++i)
    if (back[i] != wide[i]) return false;
  return true;
}

void AnsiToOemInPlace(char* text) {
  CharToOemA(text, text);
}

bool NamesEqualIgnoringCase(const char* a, const char* b) {
  return lstrcmpiA(a, b) == 0;
}
