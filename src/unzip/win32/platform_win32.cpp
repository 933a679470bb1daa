// The Win32 side of the extractor's platform seam that SETUP.EXE and the package stub share:
// Win32 file calls, the history window from the global heap, OEM names converted with OemToChar
// and UTF-8 names spelled in the ANSI code page. Creating, writing and ending an output file, and
// the progress and error half, are each program's own (progress_win32.cpp for SETUP.EXE, whose
// writes go through the install folder's rollback).
#include <stdlib.h>
#include <windows.h>

#include "common/files.h"
#include "unzip/platform.h"
#include "unzip/utf8.h"
#include "unzip/win32/file_handles.h"

PlatformFile OpenArchiveFile(const char* path) {
  return FileOf(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
}

int32_t ReadPlatformFile(PlatformFile file, void* buffer, uint32_t count) {
  DWORD done = 0;
  ReadFile(HandleOf(file), buffer, count, &done, nullptr);
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
