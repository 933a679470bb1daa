// The modeless progress dialog shown while side files are copied and the archive is unpacked:
// the file being written, the meter and the Cancel button that raises cancelRequested; and the
// centring that both of setup's dialogs use.
#pragma once
#include <windows.h>

// Dialog template 300 and its items.
constexpr int kProgressDialogTemplate = 300;
constexpr int kProgressHeadingItem = 103;
constexpr int kProgressFileNameItem = 104;
constexpr int kProgressMeterItem = 100;

// Creates the progress dialog from template 300 (hidden, no owner) and returns its window, or
// null. The "Meter" class must be registered first.
HWND CreateProgressDialog();

// The dialog procedure.
INT_PTR CALLBACK ProgressDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Moves a top-level window to the middle of the primary screen, keeping its size and Z order.
void CenterWindow(HWND window);
