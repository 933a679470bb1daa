#include "setup/startup.h"

#include "common/files.h"
#include "common/setup_state.h"
#include "resources/catalogue.h"
#include "ui/messages.h"

namespace {

constexpr DWORD kVersionRecordSize = 148;  // OSVERSIONINFOA as Windows 95 knows it

}  // namespace

bool CheckWindowsVersion(HWND owner) {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = kVersionRecordSize;
  bool acceptable = GetVersionExA(&version) && version.dwPlatformId != VER_PLATFORM_WIN32s &&
                    !(version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion < 4);
  if (!acceptable) ShowComposedMessage(owner, MSG_WRONG_WINDOWS, MB_ICONERROR);
  return acceptable;
}

bool ClaimSingleSetup() {
  // Named, so that every SETUP.EXE of the session finds it; it goes with the process, also with
  // one that crashed.
  HANDLE running = CreateMutexA(nullptr, FALSE, "Kestra Setup is running");
  if (running && GetLastError() != ERROR_ALREADY_EXISTS) return true;
  ShowMessage(nullptr, MSG_SETUP_RUNNING, MB_ICONINFORMATION);
  return false;
}

bool WaitWhileProductRuns() {
  while (FindWindowA("Kestra2WClass", nullptr) || FindWindowA("KestraWClass", nullptr)) {
    int button = ShowMessage(nullptr, MSG_PRODUCT_RUNNING, MB_RETRYCANCEL | MB_ICONERROR);
    if (button == IDCANCEL) return false;
  }
  return true;
}

void LocateSource() {
  GetModuleFileNameA(nullptr, setupState.sourceFolder, kPathChars);
  if (FileExists(setupState.sourceFolder))
    setupState.setupWriteTime = setupState.findData.ftLastWriteTime;
  char* lastSeparator = nullptr;
  for (char* p = setupState.sourceFolder; *p; ++p)
    if (*p == '\\') lastSeparator = p;
  if (lastSeparator) lastSeparator[1] = '\0';
}
