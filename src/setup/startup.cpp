#include "setup/startup.h"

#include <string.h>

#include "common/files.h"
#include "common/setup_state.h"
#include "resources/catalogue.h"
#include "ui/messages.h"

namespace {

constexpr DWORD kVersionRecordSize = 148;  // OSVERSIONINFOA as Windows 95 knows it

// The command line's blanks: spaces and tabs.
bool IsBlankOrTab(char c) {
  return c == ' ' || c == '\t';
}

const char* SkipBlanks(const char* text) {
  while (IsBlankOrTab(*text)) ++text;
  return text;
}

}  // namespace

bool CheckWindowsVersion(HWND owner) {
  OSVERSIONINFOA version = {};
  version.dwOSVersionInfoSize = kVersionRecordSize;
  bool acceptable = GetVersionExA(&version) && version.dwPlatformId != VER_PLATFORM_WIN32s &&
                    !(version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion < 4);
  if (!acceptable)
    MessageBoxA(owner, ComposeMessage(MSG_WRONG_WINDOWS), setupState.title, MB_ICONERROR);
  return acceptable;
}

bool WaitWhileProductRuns() {
  while (FindWindowA("Kestra2WClass", nullptr) || FindWindowA("KestraWClass", nullptr)) {
    int button = ShowMessage(nullptr, MSG_PRODUCT_RUNNING, MB_RETRYCANCEL | MB_ICONERROR);
    if (button == IDCANCEL) return false;
  }
  return true;
}

void ReadArgv0Path(const char* commandTail, char* argv0Path) {
  argv0Path[0] = '\0';
  const char* text = SkipBlanks(commandTail);
  constexpr int kSwitchLength = 6;
  if (lstrlenA(text) < kSwitchLength ||
      CompareStringA(LOCALE_SYSTEM_DEFAULT, NORM_IGNORECASE, text, kSwitchLength, "-argv0",
                     kSwitchLength) != CSTR_EQUAL)
    return;
  text = SkipBlanks(text + kSwitchLength);
  // A path in double quotes is taken without them: the launch puts quotes of its own around it.
  int capacity = kPathChars;
  if (*text == '"') {
    const char* closing = strchr(++text, '"');
    if (closing && closing - text < capacity) capacity = static_cast<int>(closing - text) + 1;
  }
  CopyText(argv0Path, text, capacity);
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
