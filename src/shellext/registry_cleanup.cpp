#include "shellext/registry_cleanup.h"

#include "shellext/shell_extension_keys.h"

namespace {

constexpr DWORD kNameChars = 512;  // a sub-key name has at most 255 characters
constexpr int kClassPathChars = 512;

}  // namespace

// Each sub-key is addressed by its name below its parent's open handle rather than by a path
// from `root`: the registry's ANSI calls take paths of at most 260 characters, and a tree can be
// deeper than that, so no path is ever built and none is too long.
LONG DeleteKeyTree(HKEY root, const char* path) {
  HKEY key = nullptr;
  LONG status = RegOpenKeyExA(root, path, 0, KEY_ALL_ACCESS, &key);
  if (status != ERROR_SUCCESS) return status;
  for (;;) {
    // Always index 0: each deleted sub-key hands the first place to the next one.
    char name[kNameChars];
    DWORD nameLength = kNameChars;
    if (RegEnumKeyExA(key, 0, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS) {
      status = RegDeleteKeyA(root, path);
      break;
    }
    status = DeleteKeyTree(key, name);
    if (status != ERROR_SUCCESS) break;  // this branch stays as it is now
  }
  RegCloseKey(key);
  return status;
}

bool RemoveShellExtensionKeys() {
  char classPath[kClassPathChars];
  for (const char* classId : kShellExtensionClassIds) {
    wsprintfA(classPath, kClassKeyFormat, classId);
    DeleteKeyTree(HKEY_CLASSES_ROOT, classPath);
  }
  for (const char* handlerKey : kShellExtensionHandlerKeys) {
    DeleteKeyTree(HKEY_CLASSES_ROOT, handlerKey);
  }
  return true;
}
