#include "setup/handover.h"

#include "common/files.h"
#include "common/rollback.h"
#include "common/setup_log.h"
#include "common/setup_state.h"
#include "resources/catalogue.h"
#include "shellext/registry_cleanup.h"
#include "ui/messages.h"

namespace {

constexpr int kCommandCapacity = 1025;  // the formatter's whole output
constexpr const char kInstallMode[] = "S";

bool Start(const char* command) {
  if (WinExec(command, SW_SHOW) < 32) return false;
  LogStep("Product started: %s", command);
  return true;
}

}  // namespace

bool FinalizeMainExecutable(HWND owner, const char* folder, const char* name) {
  char finalPath[kPathChars];
  char temporaryPath[kPathChars];
  wsprintfA(finalPath, "%s%s", folder, name);
  lstrcpyA(temporaryPath, finalPath);
  temporaryPath[lstrlenA(temporaryPath) - 1] = '_';
  setupState.placingMainExecutable = true;
  // Without its successor the old program is all the user has: it stays.
  if (!FileExists(temporaryPath)) {
    ShowMessage(owner, MSG_SIDE_FILE_MISSING, MB_ICONERROR, temporaryPath + lstrlenA(folder));
    return false;
  }
  if (KeepBeforeReplacing(finalPath) && ReplaceWithTemporary(temporaryPath, finalPath))
    return true;
  ShowMessage(owner, MSG_CANNOT_OPEN_FOR_WRITING, MB_ICONERROR, finalPath);
  return false;
}

void LaunchProduct() {
  char command[kCommandCapacity];
  // The program's path is quoted: unquoted, a folder with blanks such as C:\Program Files would
  // make Windows try C:\Program.exe first and start whatever program sits there.
  wsprintfA(command, "\"%s%s\" /install%s /f:\"%s\"", setupState.installFolder, kMainExecutable,
            kInstallMode, setupState.argv0Path);
  bool inInstallFolder = EnterInstallPath();
  RemoveShellExtensionKeys();
  if (Start(command)) return;
  // The full path failed: try the program relative to the install folder, now the current one.
  // A bare name would be looked for beside SETUP.EXE first, in a download folder where anything
  // may lie, so the path names the folder, and nothing is tried when it is not the current one.
  wsprintfA(command, ".\\%s /install%s /f:\"%s\"", kMainExecutable, kInstallMode,
            setupState.argv0Path);
  if (inInstallFolder && Start(command)) return;
  wsprintfA(command, "Error running %s%s", setupState.installFolder, kMainExecutable);
  ShowPlainMessage(command, kTextStartFailed);
}
