#include "shellext/file_version.h"

#include <windows.h>

#include "common/files.h"
#include "common/setup_state.h"

// VERSION.DLL is not imported: SETUP.EXE is started from download folders, where a library of
// that name planted beside it would be loaded in place of the system's.

namespace {

using GetInfoSizeProc = DWORD(WINAPI*)(LPCSTR, LPDWORD);
using GetInfoProc = BOOL(WINAPI*)(LPCSTR, DWORD, DWORD, LPVOID);
using QueryValueProc = BOOL(WINAPI*)(LPCVOID, LPCSTR, LPVOID*, PUINT);

constexpr char kVersionLibrary[] = "VERSION.DLL";

struct VersionFunctions {
  bool loadTried;
  GetInfoSizeProc getInfoSize;
  GetInfoProc getInfo;
  QueryValueProc queryValue;
};

VersionFunctions versionFunctions;

void LoadVersionFunctions() {
  char path[kPathChars];
  UINT length = GetSystemDirectoryA(path, kPathChars);
  if (length == 0 || length + 1 + sizeof kVersionLibrary > kPathChars) return;
  AppendSeparator(path);
  AppendText(path, kVersionLibrary, kPathChars);
  HMODULE library = LoadLibraryA(path);
  if (!library) return;
  VersionFunctions& f = versionFunctions;
  f.getInfoSize = ProcAs<GetInfoSizeProc>(GetProcAddress(library, "GetFileVersionInfoSizeA"));
  f.getInfo = ProcAs<GetInfoProc>(GetProcAddress(library, "GetFileVersionInfoA"));
  f.queryValue = ProcAs<QueryValueProc>(GetProcAddress(library, "VerQueryValueA"));
}

bool VersionFunctionsReady() {
  VersionFunctions& f = versionFunctions;
  if (!f.loadTried) {
    f.loadTried = true;
    LoadVersionFunctions();
  }
  return f.getInfoSize && f.getInfo && f.queryValue;
}

// Reads the fixed part of the version information in `block` (`size` bytes) of `path`.
bool QueryFixedVersion(const char* path, DWORD size, void* block, FileVersion* out) {
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT fixedSize = 0;
  if (!versionFunctions.getInfo(path, 0, size, block) ||
      !versionFunctions.queryValue(block, "\\", reinterpret_cast<void**>(&fixed), &fixedSize))
    return false;
  // A resource whose root carries no fixed part answers with an empty value.
  if (!fixed || fixedSize < sizeof *fixed) return false;
  *out = {fixed->dwFileVersionMS, fixed->dwFileVersionLS};
  return true;
}

}  // namespace

bool ReadFileVersion(const char* path, FileVersion* out) {
  *out = {0, 0};
  if (!VersionFunctionsReady()) return false;
  DWORD unused = 0;
  DWORD size = versionFunctions.getInfoSize(path, &unused);
  if (size == 0) return false;
  void* block = GlobalAlloc(GMEM_FIXED, size);
  if (!block) return false;
  bool found = QueryFixedVersion(path, size, block, out);
  GlobalFree(block);
  return found;
}
