// Reading the version of a file on disk through the platform's version functions. VERSION.DLL
// is loaded by its full path in the system folder when first needed, never found by search.
#pragma once
#include "shellext/version_scan.h"

// The file version of `path`'s version resource. False, with `out` 0.0.0.0, when the file has
// none or the version functions are not available.
bool ReadFileVersion(const char* path, FileVersion* out);
