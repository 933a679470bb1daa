// What the package stub shows while it reads and unpacks its payload: nothing in the first
// half second or in a quiet run, then a small window with the meter and a Cancel button. It is
// also the extractor's progress and error half of the platform seam for the stub.
#pragma once
#include <windows.h>

// One pass of the extractor over the payload: `pass` of `passes`, each reading `payloadBytes`.
// The first call starts the half-second clock.
void BeginUnpackPass(int pass, int passes, DWORD payloadBytes, bool quiet);

// True when the extractor reported an error during the passes so far (its box is not shown: the
// stub says what went wrong in its own words).
bool UnpackFailed();

// Closes the window, if it was shown.
void EndUnpackWindow();
