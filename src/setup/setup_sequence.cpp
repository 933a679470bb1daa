#include "setup/setup_sequence.h"

#include "common/files.h"
#include "common/rollback.h"
#include "common/setup_log.h"
#include "common/setup_state.h"
#include "distfiles/side_files.h"
#include "resources/catalogue.h"
#include "setup/command_tail.h"
#include "setup/folder_rules.h"
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

// The switches go into setupState; the log's name is made full now, before setup changes its
// current folder. A log that names a device is not opened at all.
void TakeSwitches(const CommandLine& line) {
  setupState.quiet = line.quiet;
  DWORD length = GetFullPathNameA(line.logFile, kPathChars, setupState.logFile, nullptr);
  if (!line.logFile[0] || length == 0 || length >= kPathChars || IsDevicePath(setupState.logFile))
    setupState.logFile[0] = '\0';
  CopyText(setupState.argv0Path, line.argv0Path, kPathChars);
}

// /? or a switch that is not understood: the box that lists the switches, and nothing else. A
// quiet run installed nothing, so it never ends with the code that says it did.
void ExplainSwitches(CommandRequest request, const CommandLine& line) {
  if (request == CommandRequest::kNotUnderstood)
    LogStep("Switch not understood: %s", line.notUnderstood);
  ShowMessage(nullptr, MSG_USAGE, MB_ICONINFORMATION);
}

// The folder the welcome dialog proposes, or a quiet run takes: /D, else setup's suggestion.
void ChooseSuggestedFolder(const CommandLine& line) {
  if (line.folder[0])
    CopyText(setupState.suggestedFolder, line.folder, sizeof setupState.suggestedFolder);
  else
    SuggestInstallFolder();
}

void SetMeter(UINT message, DWORD value) {
  SendDlgItemMessageA(setupState.progressDialog, kProgressMeterItem, message, value, 0);
}

// A quiet run has no dialog: the copier and the extractor then report their progress to none.
void ShowProgressDialog() {
  HWND dialog = setupState.quiet ? nullptr : CreateProgressDialog();
  setupState.progressDialog = dialog;
  if (dialog) ShowWindow(dialog, SW_SHOW);
  setupState.cursor = LoadCursorA(nullptr, IDC_WAIT);
  setupState.savedCursor = SetCursor(setupState.cursor);
  if (dialog) UpdateWindow(dialog);
  SetMeter(MTR_SETPOS, 0);
  SetMeter(MTR_SETRANGE, setupState.totalBytes / 10);
}

void CloseProgressDialog() {
  if (!setupState.progressDialog) return;
  ShowWindow(setupState.progressDialog, SW_HIDE);
  DestroyWindow(setupState.progressDialog);
  setupState.progressDialog = nullptr;
}

// Copies the side files and unpacks the archive; true when both ran to their end.
bool InstallFiles() {
  if (!CopySideFiles(setupState.progressDialog)) return false;
  LogStep("Side files copied");
  if (!ExtractDistributionArchive(setupState.progressDialog)) return false;
  LogStep("setup.ks unpacked");
  return true;
}

void RunSequence(HINSTANCE instance, const char* commandTail) {
  setupState.instance = instance;
  LoadSetupTitle();
  setupState.cursor = LoadCursorA(nullptr, IDC_ARROW);
  SetCursor(setupState.cursor);

  // Read first, so that a quiet run shows no box from the very first check on.
  CommandLine line;
  CommandRequest request = ReadCommandLine(commandTail, &line);
  TakeSwitches(line);
  LogStep("Setup has been started: %s", GetCommandLineA());
  if (request != CommandRequest::kInstall) {
    ExplainSwitches(request, line);
    return;
  }

  if (!ClaimSingleSetup()) return;
  if (!CheckWindowsVersion(nullptr)) return;
  LogStep("Windows version accepted");
  if (!WaitWhileProductRuns()) return;
  LogStep("No copy of Kestra running");
  if (!UnloadFileManagerExtension()) return;
  LogStep("No File Manager extension held");
  LocateSource();
  ChooseSuggestedFolder(line);
  LogStep("Install folder proposed: %s", setupState.suggestedFolder);
  RegisterMeterClass(instance);

  int welcome = setupState.quiet ? AcceptSuggestedFolder() : RunWelcomeDialog();
  if (welcome == MSG_NOT_INSTALLED) ShowFailureNotice(MB_TASKMODAL | MB_ICONINFORMATION);
  if (welcome != kWelcomeGoOn) return;
  LogStep("Install folder ready, shell extension library in place: %s", setupState.installPath);

  ShowProgressDialog();
  bool installed = InstallFiles();
  setupState.cursor = setupState.savedCursor;
  SetCursor(setupState.cursor);
  SetMeter(MTR_SETPOS, setupState.totalBytes / 10);

  if (installed && !FinalizeMainExecutable(setupState.progressDialog, setupState.installFolder,
                                           kMainExecutable)) {
    // The progress dialog stays on screen behind this notice until the process ends.
    ShowFailureNotice(MB_ICONINFORMATION);
    return;
  }
  CloseProgressDialog();
  if (!installed) {
    ShowFailureNotice(MB_TASKMODAL | MB_ICONINFORMATION);
    return;
  }
  LogStep("%s in place", kMainExecutable);
  CommitInstall();
  LaunchProduct();
}

}  // namespace

int RunSetup(HINSTANCE instance, const char* commandTail) {
  RunSequence(instance, commandTail);
  RollBackInstall();  // a run that failed after its first write puts the folder back
  int exitCode = setupState.quiet ? setupState.exitCode : kExitInstalled;
  LogStep("Setup has ended, exit code %d", exitCode);
  return exitCode;
}
