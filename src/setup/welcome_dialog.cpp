#include "setup/welcome_dialog.h"

#include "common/files.h"
#include "common/setup_state.h"
#include "distfiles/side_files.h"
#include "resources/catalogue.h"
#include "shellext/stub_deploy.h"

namespace {

// A hidden dialog with the welcome dialog's two explanatory texts, which the stub library step
// writes to while it waits and which it ends with the step's result.
struct StandInItem {
  DWORD style;
  DWORD exStyle;
  short x, y, cx, cy;
  WORD id;
  WORD classMarker, classAtom;  // 0xFFFF, 0x0082: a static control
  WORD title;                   // empty: the text is set at run time
  WORD creationData;
  WORD alignment;
};

struct StandInTemplate {
  DWORD style;
  DWORD exStyle;
  WORD itemCount;
  short x, y, cx, cy;
  WORD menu, windowClass, title;
  StandInItem items[2];
};

constexpr DWORD kTextStyle = WS_CHILD | WS_VISIBLE | SS_LEFT;
// clang-format off
const StandInTemplate kStandIn = {
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_3DLOOK, 0,
    2, 38, 32, 192, 100,
    0, 0, 0,
    {{kTextStyle, 0, 8, 8, 180, 20, 106, 0xFFFF, 0x0082, 0, 0, 0},
     {kTextStyle, 0, 8, 32, 180, 28, 107, 0xFFFF, 0x0082, 0, 0, 0}}};
// clang-format on

INT_PTR CALLBACK StandInProc(HWND dialog, UINT message, WPARAM, LPARAM) {
  if (message != WM_INITDIALOG) return FALSE;
  SetWindowTextA(dialog, setupState.title);
  SetDlgItemTextA(dialog, 106,
                  "Setup will install Kestra into the following folder, which it will create if "
                  "necessary.");
  SetDlgItemTextA(dialog, 107,
                  "If you want to install Kestra in a different folder and/or drive, type the "
                  "name of the folder below:");
  HandOverStubLibrary(dialog);
  return TRUE;
}

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
// folder and is created (one level) when it is missing; then the stub library step runs.
int RunWelcomeDialog() {
  CopyText(setupState.installPath, setupState.suggestedFolder, kPathChars);
  CopyText(setupState.installFolder, setupState.installPath, kPathChars - 1);
  AppendSeparator(setupState.installFolder);
  if (!ComputeTotalBytes()) return MSG_NOT_INSTALLED;
  if (!SetCurrentDirectoryA(setupState.installPath) &&
      !(CreateDirectoryA(setupState.installPath, nullptr) &&
        SetCurrentDirectoryA(setupState.installPath)))
    return MSG_NOT_INSTALLED;
  return static_cast<int>(DialogBoxIndirectParamA(setupState.instance,
                                                  reinterpret_cast<const DLGTEMPLATE*>(&kStandIn),
                                                  nullptr, StandInProc, 0));
}
