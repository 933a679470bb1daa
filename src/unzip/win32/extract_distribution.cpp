#include "unzip/win32/extract_distribution.h"

#include "common/files.h"
#include "common/setup_state.h"
#include "unzip/extraction.h"

// The source folder holds up to 259 characters; the buffer takes the archive's name after it.
constexpr int kArchivePathChars = kPathChars + 16;

bool ExtractDistributionArchive(HWND progressDialog) {
  char archivePath[kArchivePathChars];
  CopyText(archivePath, setupState.sourceFolder, kArchivePathChars);
  AppendText(archivePath, "setup.ks", kArchivePathChars);
  // A damaged file is reported, not installed silently. Everything else stays 0: every entry,
  // base names only, offset 0, empty entries extracted, the built-in password.
  ExtractionRequest request = {};
  request.reportCrcErrors = 1;
  request.archivePath = archivePath;
  request.destinationFolder = setupState.installPath;
  request.progressWindow = progressDialog;
  return RunExtractionJob(&request) != 0 && request.result == 0;
}
