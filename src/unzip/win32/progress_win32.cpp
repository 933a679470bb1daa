// The progress and error half of the extractor's Win32 seam as SETUP.EXE runs it: the progress
// dialog's private messages, the thread's message pump and the captionless error box.
#include <windows.h>

#include "common/files.h"
#include "common/setup_state.h"
#include "ui/messages.h"
#include "ui/progress_messages.h"
#include "unzip/platform.h"
#include "unzip/walk.h"

namespace {

HWND WindowOf(void* window) {
  return static_cast<HWND>(window);
}

// The catalogue text that the extractor's next error box is made from: the log names its id. A
// text of the extractor's own (the password texts) leaves 0.
UINT errorTextId = 0;

}  // namespace

void SendEntryName(void* window, const char* name) {
  if (window)
    SendMessageA(WindowOf(window), PDM_SETFILENAME, 0, reinterpret_cast<LPARAM>(BaseName(name)));
}

void NoteEntryRead(void*, const char*) {}

bool SendProgress(void* window, uint16_t units) {
  return window && SendMessageA(WindowOf(window), PDM_PROGRESS, units, 0) != 0;
}

bool PumpPlatformMessages(void*) {
  DispatchPendingMessages(true);
  return setupState.cancelRequested;
}

const char* PlatformMessageText(int id) {
  errorTextId = static_cast<UINT>(id);
  return ComposeMessage(errorTextId);
}

// The box shows the catalogue message alone.
void ShowPlatformError(void* window, int errorClass, const char* text, int, const char*) {
  ShowExtractionError(WindowOf(window), errorClass, text, errorTextId);
  errorTextId = 0;
}
