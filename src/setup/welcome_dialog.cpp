#include "setup/welcome_dialog.h"

#include "common/files.h"
#include "common/setup_state.h"
#include "distfiles/side_files.h"
#include "resources/catalogue.h"

namespace {

// The progress total in KB: the side files (checked on the way) and the archive. A missing
// archive counts as empty here; the extractor reports it.
bool ComputeTotalBytes() {
  setupState.totalBytes = 0;
  if (!CheckSideFiles(nullptr)) return false;
  char archive[kPathChars];
  CopyText(archive, setupState.sourceFolder, sizeof archive);
  AppendText(archive, "setup.ks", sizeof archive);
  if (FileExists(archive)) setupState.totalBytes += setupState.findData.nFileSizeLow;
  setupState.totalBytes >>= 10;
  return true;
}

}  // namespace

// Until the dialog exists, the suggested folder is taken as it stands: it becomes the install
// folder and is created (one level) when it is missing.
int RunWelcomeDialog() {
  CopyText(setupState.installPath, setupState.suggestedFolder, kPathChars);
  CopyText(setupState.installFolder, setupState.installPath, kPathChars - 1);
  AppendSeparator(setupState.installFolder);
  if (!ComputeTotalBytes()) return MSG_NOT_INSTALLED;
  if (!SetCurrentDirectoryA(setupState.installPath) &&
      !(CreateDirectoryA(setupState.installPath, nullptr) &&
        SetCurrentDirectoryA(setupState.installPath)))
    return MSG_NOT_INSTALLED;
  return kWelcomeGoOn;
}
