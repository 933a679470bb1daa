// The package stub's run, from its own file to SETUP.EXE's exit code: check every CRC of the
// payload, unpack it into a private temporary folder with the stored times, start SETUP.EXE
// there with the package's switches and its own path, wait, and clean up.
#pragma once
#include <windows.h>

// The stub's own failures (a damaged payload, a temporary folder that cannot take it, Cancel
// while unpacking, a SETUP.EXE that cannot be started) end with this code.
constexpr DWORD kExitPackageFailed = 9;

// Runs the package with the arguments after the program's name; returns the exit code.
DWORD RunPackage(const char* commandTail);
