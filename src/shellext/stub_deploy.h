// Replacing the shell-extension stub library in the install folder: the last step of the
// welcome dialog's OK handling.
#pragma once
#include <windows.h>

// Hands the install folder over to the stub library step and ends the welcome dialog with 1
// (go on), 1006 (failed) or 0 (quit without a further message).
void HandOverStubLibrary(HWND dialog);
