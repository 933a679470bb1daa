#include "ui/progress_dialog.h"

// Until the dialog exists, copying and unpacking report to no window.
HWND CreateProgressDialog() {
  return nullptr;
}

void CenterWindow(HWND window) {
  RECT r;
  GetWindowRect(window, &r);
  int x = (GetSystemMetrics(SM_CXSCREEN) - (r.right - r.left)) / 2;
  int y = (GetSystemMetrics(SM_CYSCREEN) - (r.bottom - r.top)) / 2;
  SetWindowPos(window, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
}
