#include "ui/progress_dialog.h"

// Until the dialog exists, copying and unpacking report to no window.
HWND CreateProgressDialog() {
  return nullptr;
}
