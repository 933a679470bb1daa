#include "setup/welcome_dialog.h"

#include "common/files.h"
#include "common/rollback.h"
#include "common/setup_state.h"
#include "distfiles/side_files.h"
#include "resources/catalogue.h"
#include "setup/folder_rules.h"
#include "setup/free_space.h"
#include "setup/suggest_folder.h"
#include "shellext/stub_deploy.h"
#include "ui/messages.h"
#include "ui/progress_dialog.h"

namespace {

constexpr char kHelpFile[] = "kestra.hlp";
constexpr char kArchiveName[] = "setup.ks";
constexpr DWORD kWriteTestMilliseconds = 250;

// What the run will write: the side files and setup.ks's entries, uncompressed.
ULONGLONG neededBytes;

// Each check below returns true to go on. A check that fails has shown its message over the
// dialog and returns false; the dialog then stays open for another folder.
bool Reject(HWND dialog, UINT id, UINT style) {
  ShowMessage(dialog, id, style);
  return false;
}

// `folder` + `name` (at most kLongestFileName characters). The form check has left room for it.
void PathInFolder(char* path, const char* folder, const char* name) {
  CopyText(path, folder, kPathChars);
  AppendText(path, name, kPathChars);
}

void ReadFolderText(HWND dialog, char* text) {
  GetDlgItemTextA(dialog, kFolderItem, text, kFolderTextLimit + 1);
}

bool CheckFolderForm(HWND dialog, const char* text) {
  return IsAcceptableFolderText(text) || Reject(dialog, MSG_INVALID_FOLDER, MB_ICONERROR);
}

void SetInstallFolder(const char* text) {
  CopyText(setupState.installPath, text, kPathChars);
  CopyText(setupState.installFolder, text, kPathChars);
  AppendSeparator(setupState.installFolder);
}

bool CheckNotSourceFolder(HWND dialog) {
  return lstrcmpiA(setupState.installFolder, setupState.sourceFolder) != 0 ||
         Reject(dialog, MSG_SAME_AS_SOURCE, MB_ICONERROR);
}

// The product's help file is the one file every earlier installation has: when it cannot be
// opened for writing within a quarter second, the folder is read-only (or the file is in use).
// A folder without it, also one that does not exist yet, passes.
bool CheckWritable(HWND dialog) {
  char helpFile[kPathChars];
  PathInFolder(helpFile, setupState.installFolder, kHelpFile);
  return !FileExists(helpFile) || WaitForExclusiveOpen(helpFile, kWriteTestMilliseconds) ||
         Reject(dialog, MSG_FOLDER_READ_ONLY, MB_ICONERROR);
}

// The old 16-bit program cannot share the folder with this version. It is deleted only when
// the user agrees twice; a No leaves the dialog open without a further message. Nothing else of
// the old version is touched.
bool Remove16BitProduct(HWND dialog) {
  if (!Has16BitProduct(setupState.installFolder)) return true;
  if (ShowMessage(dialog, MSG_OLD_PRODUCT_FOUND, MB_YESNO | MB_ICONERROR | MB_DEFBUTTON2) != IDYES)
    return false;
  if (ShowMessage(dialog, MSG_CONFIRM_OLD_DELETE, MB_YESNO | MB_ICONQUESTION,
                  setupState.installPath) != IDYES)
    return false;
  char program[kPathChars];
  PathInFolder(program, setupState.installFolder, k16BitProgram);
  DeleteFileA(program);
  return true;
}

bool CountSideFiles(HWND dialog) {
  setupState.totalBytes = 0;
  return CheckSideFiles(dialog);
}

// Adds the archive to the side files' total and turns the total into kilobytes.
bool CountArchive() {
  char archive[kPathChars];
  PathInFolder(archive, setupState.sourceFolder, kArchiveName);
  if (!FileExists(archive)) {
    ShowPlainMessage("setup.ks is missing", kTextArchiveMissing);
    return false;
  }
  DWORD archiveBytes = setupState.findData.nFileSizeLow;
  neededBytes = setupState.totalBytes + DeclaredArchiveBytes(archive);
  setupState.totalBytes = (setupState.totalBytes + archiveBytes) >> 10;
  return true;
}

// Makes the install folder the current one, creating it first when needed, and starts the
// journal that puts the folder back should the run fail.
bool EnterInstallFolder(HWND dialog) {
  char failedPath[kPathChars];
  if (BeginInstallJournal(failedPath)) return true;
  if (failedPath[0])
    ShowMessage(dialog, MSG_ERROR_WRITING, MB_ICONERROR, failedPath);
  else
    ShowMessage(dialog, MSG_CANNOT_CREATE_FOLDER, MB_ICONINFORMATION, setupState.installPath);
  return false;
}

// Every check of the folder `text` in order; false once one has refused the folder and said why.
// `text` has room for the backslash that a drive alone gets.
bool CheckInstallFolder(HWND dialog, char* text) {
  if (!CheckFolderForm(dialog, text)) return false;
  NormalizeFolderText(text);
  SetInstallFolder(text);
  return CheckNotSourceFolder(dialog) && CheckWritable(dialog) && Remove16BitProduct(dialog) &&
         CountSideFiles(dialog) && CountArchive() && CheckFreeSpace(dialog, neededBytes) &&
         EnterInstallFolder(dialog);
}

const int kInputItems[] = {kFolderItem, IDOK, IDCANCEL};

// From OK on the dialog takes no input until a check refuses the folder: the checks and their
// message boxes pump messages, and a second OK must not check again over the first, nor Cancel
// end the dialog under it. An accepted folder keeps the lock through the stub library step.
void SetDialogInput(HWND dialog, BOOL enabled) {
  for (int item : kInputItems) EnableWindow(GetDlgItem(dialog, item), enabled);
}

bool IsLocked(HWND dialog) {
  return !IsWindowEnabled(GetDlgItem(dialog, IDCANCEL));
}

INT_PTR OnInitDialog(HWND dialog) {
  SetWindowTextA(dialog, setupState.title);
  CenterWindow(dialog);
  SetDlgItemTextA(dialog, kFolderItem, setupState.suggestedFolder);
  SendDlgItemMessageA(dialog, kFolderItem, EM_LIMITTEXT, kFolderTextLimit, 0);
  return TRUE;  // the system sets the focus
}

// OK is usable only while the folder field's first line holds something.
void OnFolderNotification(HWND dialog) {
  LRESULT firstLine = SendDlgItemMessageA(dialog, kFolderItem, EM_LINELENGTH, 0, 0);
  EnableWindow(GetDlgItem(dialog, IDOK), firstLine > 0);
}

INT_PTR OnCommand(HWND dialog, WPARAM wParam) {
  if (IsLocked(dialog)) return TRUE;
  switch (LOWORD(wParam)) {
    case IDOK:
      AcceptInstallFolder(dialog);
      return TRUE;
    case IDCANCEL:  // also the Escape key and the close box
      EndDialog(dialog, MSG_NOT_INSTALLED);
      return TRUE;
    case kFolderItem:
      OnFolderNotification(dialog);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

int RunWelcomeDialog() {
  INT_PTR result = DialogBoxParamA(setupState.instance, MAKEINTRESOURCEA(kWelcomeDialogTemplate),
                                   nullptr, WelcomeDialogProc, 0);
  // A dialog that cannot even be shown has installed nothing.
  return result == -1 ? MSG_NOT_INSTALLED : static_cast<int>(result);
}

INT_PTR CALLBACK WelcomeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog);
    case WM_COMMAND:
      return OnCommand(dialog, wParam);
    default:
      return FALSE;
  }
}

int AcceptSuggestedFolder() {
  char text[kFolderTextLimit + 2];
  CopyText(text, setupState.suggestedFolder, kFolderTextLimit + 1);
  if (!CheckInstallFolder(nullptr, text)) return MSG_NOT_INSTALLED;
  return DeployStubLibrary(nullptr);
}

void AcceptInstallFolder(HWND dialog) {
  SetDialogInput(dialog, FALSE);
  char text[kFolderTextLimit + 2];
  ReadFolderText(dialog, text);
  if (CheckInstallFolder(dialog, text)) {
    HandOverStubLibrary(dialog);
    return;
  }
  // The dialog is the user's again, the folder field ready for another try.
  SetDialogInput(dialog, TRUE);
  SendMessageA(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(dialog, kFolderItem)),
               TRUE);
}
