// SETUP.EXE's entry: Windows hands over the instance and the command line after the program's
// name; the setup sequence does the rest.
#include <windows.h>

#include "setup/setup_sequence.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandTail, int) {
  return RunSetup(instance, commandTail);
}
