// Apart from files.cpp: only SETUP.EXE reads files at given positions, and the package stub,
// which links the same library, need not carry it.
#include "common/files.h"

bool ReadFileAt(HANDLE file, DWORD position, void* data, DWORD count) {
  DWORD read = 0;
  return SetFilePointer(file, static_cast<LONG>(position), nullptr, FILE_BEGIN) == position &&
         ReadFile(file, data, count, &read, nullptr) && read == count;
}
