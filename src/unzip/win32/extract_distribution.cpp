#include "unzip/win32/extract_distribution.h"

// The archive is not unpacked yet.
bool ExtractDistributionArchive(HWND) {
  return true;
}
