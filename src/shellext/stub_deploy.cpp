#include "shellext/stub_deploy.h"

#include "common/files.h"
#include "common/rollback.h"
#include "common/setup_state.h"
#include "resources/catalogue.h"
#include "resources/welcome_dialog_ids.h"
#include "shellext/file_version.h"
#include "shellext/registry_cleanup.h"
#include "ui/messages.h"

const uint8_t* stubImage;
DWORD stubImageSize;

namespace {

constexpr char kStubName[] = "KSSHLSTB.DLL";
constexpr char kWorkerName[] = "ksshlex1.dll";
constexpr char kStubTemporaryName[] = "KSSHLSTB.TMP";

constexpr int kItemTextChars = 256;  // for the texts of the welcome dialog's items 106 and 107

constexpr DWORD kFirstWaitMs = 500;
constexpr DWORD kStepWaitMs = 1000;
constexpr int kStepCount = 15;
constexpr int16_t kMaxVersionPart = 20;

// The per-user switch that the product reads to turn its shell extension back on.
constexpr char kSwitchKey[] = "Software\\Ferrule Works\\Kestra\\fm";
constexpr char kSwitchValue[] = "shlExt";

// installFolder + `name` into `path` (kPathChars). A path that does not fit is left empty and
// counts as a file that is not there and cannot be created.
bool BuildInstallPath(char* path, const char* name) {
  path[0] = '\0';
  if (lstrlenA(setupState.installFolder) + lstrlenA(name) >= kPathChars) return false;
  CopyText(path, setupState.installFolder, kPathChars);
  AppendText(path, name, kPathChars);
  return true;
}

// `path` := the install folder's file `name` when it exists, else "".
void FindInstalledFile(char* path, const char* name) {
  if (BuildInstallPath(path, name) && !FileExists(path)) path[0] = '\0';
}

// Writes the whole image to `path` with SETUP.EXE's time as all three of its times. A write
// that falls short leaves nothing behind.
bool WriteStubImage(const char* path) {
  HANDLE file = CreateInstallFile(path);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  bool complete =
      WriteInstallFile(file, stubImage, stubImageSize, &written) && written == stubImageSize;
  if (complete) {
    SetEndOfFile(file);  // a temporary left by a run cut off may have been longer
    const FILETIME& time = setupState.setupWriteTime;
    SetFileTime(file, &time, &time, &time);
  }
  CloseHandle(file);
  if (!complete) DeleteFileA(path);
  return complete;
}

// The stub library, then the worker: both free. The second is tried only when the first is.
bool BothFilesFree(const void* context) {
  const char* const* paths = static_cast<const char* const*>(context);
  return IsFileFree(paths[0]) && IsFileFree(paths[1]);
}

void ShowStubError(HWND dialog, UINT id) {
  ShowComposedMessage(dialog, id, MB_TASKMODAL | MB_ICONERROR);
}

// The long wait, shown in the dialog: text 1029, then one star per second the libraries stay
// in use. The last wait decides; after an early success it passes at once.
bool WaitWithProgress(HWND dialog, const char* stubPath, const char* workerPath) {
  char text[kItemTextChars];
  LoadStringA(setupState.instance, MSG_SHELL_EXT_WAIT, text, kItemTextChars - 1);
  SetDlgItemTextA(dialog, kIntroItem, text);
  char stars[kStepCount + 1] = {};
  SetDlgItemTextA(dialog, kHintItem, stars);
  for (int step = 0; step < kStepCount; ++step) {
    if (WaitForShellExtensionFiles(kStepWaitMs, stubPath, workerPath)) break;
    stars[step] = '*';
    SetDlgItemTextA(dialog, kHintItem, stars);
  }
  return WaitForShellExtensionFiles(kStepWaitMs, stubPath, workerPath);
}

// "0" without a terminating zero: one byte of data.
void WriteTurnOffSwitch() {
  HKEY key;
  if (RegCreateKeyExA(HKEY_CURRENT_USER, kSwitchKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
    return;
  RegSetValueExA(key, kSwitchValue, 0, REG_SZ, reinterpret_cast<const BYTE*>("0"), 1);
  RegCloseKey(key);
}

// The libraries stay in use: the user may turn the extension off, restart Windows and run
// setup again.
int OfferTurnOff(HWND dialog) {
  if (ShowComposedMessage(dialog, MSG_SHELL_EXT_BUSY, MB_YESNO | MB_ICONERROR) != IDYES)
    return MSG_NOT_INSTALLED;
  RemoveShellExtensionKeys();
  WriteTurnOffSwitch();
  ShowComposedMessage(dialog, MSG_SHELL_EXT_OFF, MB_ICONINFORMATION);
  return kWelcomeQuietly;
}

}  // namespace

int DeployStubLibrary(HWND dialog) {
  if (!LoadStubImage()) {
    ShowStubError(dialog, MSG_STUB_NOT_ACCESSIBLE);
    return MSG_NOT_INSTALLED;
  }
  char stubPath[kPathChars];
  char workerPath[kPathChars];
  // Whether the shell holds them is asked of the files alone.
  ReleaseInstallFile(kStubName);
  ReleaseInstallFile(kWorkerName);
  FindInstalledFile(stubPath, kStubName);
  if (stubPath[0]) CompareStubVersion(stubPath);
  FindInstalledFile(workerPath, kWorkerName);

  bool inUse = (stubPath[0] || workerPath[0]) &&
               !WaitForShellExtensionFiles(kFirstWaitMs, stubPath, workerPath) &&
               !WaitWithProgress(dialog, stubPath, workerPath);
  if (inUse) return OfferTurnOff(dialog);
  if (setupState.stubUpToDate || WriteStubLibrary()) return kWelcomeGoOn;
  ShowStubError(dialog, MSG_STUB_NOT_CREATABLE);
  return MSG_NOT_INSTALLED;
}

void HandOverStubLibrary(HWND dialog) {
  EndDialog(dialog, DeployStubLibrary(dialog));
}

bool LoadStubImage() {
  HRSRC resource = FindResourceA(setupState.instance, "KS_SHL", "KSSHLEXT");
  if (!resource) return false;
  stubImageSize = SizeofResource(setupState.instance, resource);
  HGLOBAL loaded = LoadResource(setupState.instance, resource);
  if (!loaded) return false;
  stubImage = static_cast<const uint8_t*>(LockResource(loaded));
  // Without the bytes there is nothing to scan or write.
  return stubImage != nullptr;
}

void CompareStubVersion(char* stubPath) {
  FileVersion existing;
  if (!ReadFileVersion(stubPath, &existing)) return;
  uint8_t record[kFixedInfoBytes];
  if (!FindFixedFileInfo(stubImage, stubImageSize, kMaxVersionPart, record)) return;
  if (!SameVersion(existing, FileVersionOfRecord(record))) return;
  stubPath[0] = '\0';
  setupState.stubUpToDate = true;
}

bool WaitForShellExtensionFiles(DWORD timeoutMs, const char* stubPath, const char* workerPath) {
  const char* paths[] = {stubPath, workerPath};
  return RetryServingMessages(timeoutMs, BothFilesFree, paths);
}

bool IsFileFree(const char* path) {
  return !path || !path[0] || CanOpenExclusively(path);
}

bool WriteStubLibrary() {
  char path[kPathChars];
  char temporary[kPathChars];
  if (!BuildInstallPath(path, kStubName) || !BuildInstallPath(temporary, kStubTemporaryName))
    return false;
  // The shell's registration names the stub: it is replaced only by a complete image.
  return WriteStubImage(temporary) && KeepBeforeReplacing(path) &&
         ReplaceWithTemporary(temporary, path);
}
