// The setup sequence: the program's main routine, from the start-up checks to the launch of
// the installed product. It owns setupState.
#pragma once
#include <windows.h>

// Runs one whole setup. `commandTail` is the command line after the program's name. Returns the
// process exit code: 0 for an interactive run, whatever stopped it (SetupExitCode) for a quiet
// one.
int RunSetup(HINSTANCE instance, const char* commandTail);
