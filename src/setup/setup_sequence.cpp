#include "setup/setup_sequence.h"

#include "common/files.h"
#include "common/setup_state.h"
#include "distfiles/side_files.h"
#include "resources/catalogue.h"
#include "setup/handover.h"
#include "setup/startup.h"
#include "setup/suggest_folder.h"
#include "setup/welcome_dialog.h"
#include "shellext/fm_extension.h"
#include "ui/messages.h"
#include "ui/meter_messages.h"
#include "ui/progress_dialog.h"
#include "ui/meter.h"
#include "unzip/win32/extract_distribution.h"

namespace {

void ShowFailureNotice(UINT style) {
  ShowMessage(nullptr, MSG_NOT_INSTALLED, style);
}

void SetMeter(UINT message, DWORD value) {
  SendDlgItemMessageA(setupState.progressDialog, kProgressMeterItem, message, value, 0);
}

void ShowProgressDialog() {
  setupState.progressDialog = CreateProgressDialog();
  ShowWindow(setupState.progressDialog, SW_SHOW);
  setupState.cursor = LoadCursorA(nullptr, IDC_WAIT);
  setupState.savedCursor = SetCursor(setupState.cursor);
  UpdateWindow(setupState.progressDialog);
  SetMeter(MTR_SETPOS, 0);
  SetMeter(MTR_SETRANGE, setupState.totalBytes / 10);
}

// Copies the side files and unpacks the archive; true when both ran to their end.
bool InstallFiles() {
  return CopySideFiles(setupState.progressDialog) &&
         ExtractDistributionArchive(setupState.progressDialog);
}

}  // namespace

int RunSetup(HINSTANCE instance, const char* commandTail) {
  setupState.instance = instance;
  LoadSetupTitle();
  setupState.cursor = LoadCursorA(nullptr, IDC_ARROW);
  SetCursor(setupState.cursor);

  if (!CheckWindowsVersion(nullptr)) return 0;
  if (!WaitWhileProductRuns()) return 0;
  if (!UnloadFileManagerExtension()) return 0;
  ReadArgv0Path(commandTail, setupState.argv0Path);
  LocateSource();
  SuggestInstallFolder();
  RegisterMeterClass(instance);

  int welcome = RunWelcomeDialog();
  if (welcome == MSG_NOT_INSTALLED) ShowFailureNotice(MB_TASKMODAL | MB_ICONINFORMATION);
  if (welcome != kWelcomeGoOn) return 0;

  ShowProgressDialog();
  bool installed = InstallFiles();
  setupState.cursor = setupState.savedCursor;
  SetCursor(setupState.cursor);
  SetMeter(MTR_SETPOS, setupState.totalBytes / 10);

  if (installed && !FinalizeMainExecutable(setupState.progressDialog, setupState.installFolder,
                                           kMainExecutable)) {
    // The progress dialog stays on screen behind this notice until the process ends.
    ShowFailureNotice(MB_ICONINFORMATION);
    return 0;
  }
  ShowWindow(setupState.progressDialog, SW_HIDE);
  DestroyWindow(setupState.progressDialog);
  setupState.progressDialog = nullptr;
  if (!installed) {
    ShowFailureNotice(MB_TASKMODAL | MB_ICONINFORMATION);
    return 0;
  }
  LaunchProduct();
  return 0;
}
