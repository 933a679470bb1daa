#include "ui/progress_dialog.h"

#include "common/setup_state.h"
#include "resources/catalogue.h"
#include "ui/messages.h"
#include "ui/meter_messages.h"
#include "ui/progress_messages.h"

namespace {

// Private messages return their result through the message-result slot: the dialog manager
// passes on the procedure's own return value only for a few standard messages.
INT_PTR Reply(HWND dialog, LONG_PTR result) {
  SetWindowLongPtrA(dialog, DWLP_MSGRESULT, result);
  return TRUE;
}

INT_PTR OnInitDialog(HWND dialog) {
  SetWindowTextA(dialog, setupState.title);
  CenterWindow(dialog);
  return TRUE;
}

INT_PTR OnShowWindow(HWND dialog, WPARAM shown) {
  if (shown) {
    EnableWindow(GetDlgItem(dialog, IDCANCEL), TRUE);
    SetDlgItemTextA(dialog, kProgressFileNameItem, "");
  }
  return FALSE;
}

// The Cancel button and the close command both arrive as a stop request. The work stops only
// after the user has confirmed; Cancel is then disabled so the question is not asked again.
INT_PTR OnCommand(HWND dialog, WPARAM command) {
  if (command != IDOK && command != IDCANCEL) return TRUE;
  if (ShowMessage(dialog, MSG_CONFIRM_CANCEL, MB_YESNO | MB_ICONQUESTION) == IDYES) {
    EnableWindow(GetDlgItem(dialog, IDCANCEL), FALSE);
    setupState.cancelRequested = true;
  }
  return TRUE;
}

INT_PTR OnSetFileName(HWND dialog, LPARAM name) {
  SetDlgItemTextA(dialog, kProgressFileNameItem, reinterpret_cast<const char*>(name));
  return Reply(dialog, TRUE);
}

// The extractor counts archive bytes; the side files copied before it are added here so the
// meter continues where the copier left it.
INT_PTR OnProgress(HWND dialog, WPARAM units) {
  UINT position = static_cast<UINT>(units) + setupState.copiedBytes / kProgressUnit;
  SendDlgItemMessageA(dialog, kProgressMeterItem, MTR_SETPOS, position, 0);
  return Reply(dialog, setupState.cancelRequested);
}

}  // namespace

HWND CreateProgressDialog() {
  return CreateDialogParamA(setupState.instance, MAKEINTRESOURCEA(kProgressDialogTemplate), nullptr,
                            ProgressDialogProc, 0);
}

INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog(dialog);
    case WM_SHOWWINDOW:
      return OnShowWindow(dialog, wParam);
    case WM_COMMAND:
      return OnCommand(dialog, wParam);
    case PDM_SETFILENAME:
      return OnSetFileName(dialog, lParam);
    case PDM_PROGRESS:
      return OnProgress(dialog, wParam);
    default:
      return FALSE;
  }
}

void CenterWindow(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  int x = (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2;
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}
