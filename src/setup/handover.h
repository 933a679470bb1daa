// The end of the setup sequence: the main executable gets its final name, and the installed
// product is started with the install switch.
#pragma once
#include <windows.h>

constexpr const char kMainExecutable[] = "KESTRA32.EXE";

// Moves `folder` + the temporary name (last character "_") to `folder` + `name`, replacing an
// older file, which is deleted only once the temporary one is known to be there. A missing
// temporary file is reported with message 1013 naming it, a failed move with message 1018
// naming the final path; both return false and leave whichever copy exists.
bool FinalizeMainExecutable(HWND owner, const char* folder, const char* name);

// Starts the installed product with "/installS /f:"argv0Path"" from the install folder, after
// the shell-extension keys of earlier versions are gone. Reports a failed start itself.
void LaunchProduct();
