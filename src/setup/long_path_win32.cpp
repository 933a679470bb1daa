// The file-system side of long path expansion: the directory search that reports long names.
#include <windows.h>

#include "common/files.h"
#include "setup/long_path.h"

namespace {

constexpr int kInPlaceCapacity = 261;
constexpr int kInPlaceScratch = 264;

bool FindLongName(const char* path, char* name, void*) {
  WIN32_FIND_DATAA found;
  HANDLE search = FindFirstFileA(path, &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  FindClose(search);
  CopyText(name, found.cFileName, kFoundNameChars);
  return true;
}

}  // namespace

int ExpandLongPath(const char* source, char* result, int capacity) {
  return ExpandLongPathWith(source, result, capacity, FindLongName, nullptr);
}

char* ExpandLongPathInPlace(char* path) {
  char scratch[kInPlaceScratch];
  if (ExpandLongPath(path, scratch, kInPlaceCapacity)) lstrcpyA(path, scratch);
  return path;
}
