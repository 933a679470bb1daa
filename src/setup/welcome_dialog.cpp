#include "setup/welcome_dialog.h"

#include "common/files.h"
#include "common/setup_state.h"
#include "resources/catalogue.h"

// Until the dialog exists, the suggested folder is taken as it stands: it becomes the install
// folder and is created (one level) when it is missing.
int RunWelcomeDialog() {
  CopyText(setupState.installPath, setupState.suggestedFolder, kPathChars);
  CopyText(setupState.installFolder, setupState.installPath, kPathChars - 1);
  AppendSeparator(setupState.installFolder);
  if (!SetCurrentDirectoryA(setupState.installPath) &&
      !(CreateDirectoryA(setupState.installPath, nullptr) &&
        SetCurrentDirectoryA(setupState.installPath)))
    return MSG_NOT_INSTALLED;
  return kWelcomeGoOn;
}
