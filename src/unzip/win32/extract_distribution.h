// The setup sequence's request to the extractor: unpack setup.ks into the install folder.
#pragma once
#include <windows.h>

// Unpacks the distribution archive; true only when the job ran to its end.
bool ExtractDistributionArchive(HWND progressDialog);
