#include "setup/suggest_folder.h"

#include <windows.h>

#include "common/files.h"
#include "common/setup_state.h"
#include "setup/folder_rules.h"
#include "setup/long_path.h"

namespace {

constexpr int kProgramFilesBytes = 200;
constexpr int kAssociationChars = 300;
constexpr int kSuggestionChars = sizeof setupState.suggestedFolder;

// Step 3: a product copy that WIN.INI already uses for ".zip" files wins, unless its folder
// holds the 16-bit program; either way the suggestion then gets its long form, since the
// association usually names the folder with short names.
void TakeAssociatedFolder(char* suggestion) {
  char association[kAssociationChars];
  GetProfileStringA("extensions", "zip", "", association, sizeof association);
  char folder[kSuggestionChars];
  if (!AssociatedProductFolder(association, folder, sizeof folder)) return;
  if (!Has16BitProduct(folder)) CopyText(suggestion, folder, kSuggestionChars);
  ExpandLongPathInPlace(suggestion);
}

}  // namespace

bool ProgramFilesFolder(char* target) {
  HKEY key;
  if (RegOpenKeyA(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion", &key) !=
      ERROR_SUCCESS)
    return false;
  // The value's type is not examined; whatever it holds is ended after the bytes read.
  char value[kProgramFilesBytes + 1] = {};
  DWORD size = kProgramFilesBytes;
  bool found = RegQueryValueExA(key, "ProgramFilesDir", nullptr, nullptr,
                                reinterpret_cast<BYTE*>(value), &size) == ERROR_SUCCESS;
  if (found) CopyText(target, value, sizeof value);
  RegCloseKey(key);
  return found;
}

bool Has16BitProduct(const char* folder) {
  char path[kPathChars];
  // A folder too long for the file name cannot hold the file either.
  if (lstrlenA(folder) + 1 + lstrlenA(k16BitProgram) >= kPathChars) return false;
  CopyText(path, folder, kPathChars);
  AppendSeparator(path);
  AppendText(path, k16BitProgram, kPathChars);
  return FileExists(path);
}

void SuggestInstallFolder() {
  char* suggestion = setupState.suggestedFolder;
  if (ProgramFilesFolder(suggestion)) AppendText(suggestion, "\\Kestra", kSuggestionChars);
  if (Has16BitProduct(suggestion)) AppendText(suggestion, "32", kSuggestionChars);
  TakeAssociatedFolder(suggestion);
}
