#include "shellext/fm_extension.h"

#include <windows.h>

#include "common/files.h"
#include "common/setup_state.h"
#include "resources/catalogue.h"
#include "ui/messages.h"

namespace {

// Named without a folder, so that the profile calls look in the Windows folder.
constexpr const char kProfile[] = "winfile.ini";
constexpr const char kSection[] = "AddOns";
constexpr const char kKey[] = "Kestra";
constexpr const char kFrameClass[] = "WFS_Frame";
constexpr UINT FM_RELOAD_EXTENSIONS = WM_USER + 0x207;  // 1543
constexpr DWORD kReleaseTimeoutMs = 2000;

}  // namespace

bool UnloadFileManagerExtension() {
  char library[kPathChars];
  GetPrivateProfileStringA(kSection, kKey, "", library, kPathChars, kProfile);
  if (!library[0]) return true;
  // Without a running File Manager nobody holds the library; the registration can stay.
  HWND fileManager = FindWindowA(kFrameClass, nullptr);
  if (!fileManager) return true;

  // The File Manager reloads only what is still registered, and so lets this one go.
  WritePrivateProfileStringA(kSection, kKey, nullptr, kProfile);
  PostMessageA(fileManager, FM_RELOAD_EXTENSIONS, 0, 0);
  if (WaitForExclusiveOpen(library, kReleaseTimeoutMs)) return true;
  // Still held: the registration goes back as it was.
  WritePrivateProfileStringA(kSection, kKey, library, kProfile);
  ShowComposedMessage(nullptr, MSG_FM_EXT_BUSY, MB_OK | MB_ICONERROR);
  return false;
}
