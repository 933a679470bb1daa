// Replacing the shell-extension stub library in the install folder: the last step of the
// welcome dialog's OK handling. Owns the carried image (resource KS_SHL of type KSSHLEXT), the
// wait for the shell to release the libraries and the offer to turn the extension off.
#pragma once
#include <windows.h>

#include "shellext/version_scan.h"

// The carried stub image: the locked resource bytes, valid to the end of the process.
extern const uint8_t* stubImage;
extern DWORD stubImageSize;

// Hands the install folder over to the stub library step and ends the welcome dialog with 1
// (go on), 1006 (failed) or 0 (quit without a further message).
void HandOverStubLibrary(HWND dialog);

// The stub library step itself, with its boxes owned by `dialog` and its wait shown in the
// dialog's items 106 and 107 (a null dialog: nowhere). Returns 1, 1006 or 0 as above.
int DeployStubLibrary(HWND dialog);

// Finds and locks the carried image in setupState.instance; sets stubImage and stubImageSize.
bool LoadStubImage();

// Empties `stubPath` and sets setupState.stubUpToDate when the library at `stubPath` has the
// carried image's file version; leaves both alone otherwise (also when a version is unreadable).
void CompareStubVersion(char* stubPath);

// Waits up to `timeoutMs` until both libraries can be opened exclusively, dispatching the
// thread's messages meanwhile and sleeping between tries. An empty path is free. False on
// time-out.
bool WaitForShellExtensionFiles(DWORD timeoutMs, const char* stubPath, const char* workerPath);

// True for an empty path or a file that can be opened for reading and writing, unshared, now.
bool IsFileFree(const char* path);

// Writes the carried image as installFolder + KSSHLSTB.DLL with SETUP.EXE's time as its
// creation, access and write time: first whole under a temporary name, then put in place. False
// when it cannot be written or put in place; the old library, or none, is left then.
bool WriteStubLibrary();
