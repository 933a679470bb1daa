#include "ui/messages.h"

#include <stdarg.h>

#include "common/setup_state.h"
#include "resources/catalogue.h"
#include "ui/message_chain.h"

namespace {

// wvsprintfA writes at most 1024 characters; the buffer holds all of them, so a long folder in
// message 1051 is never cut.
constexpr int kFormattedCapacity = 1025;

char composedTexts[3][kComposedChars + 1];
int nextComposed = 0;

int LoadPiece(unsigned id, char* piece, int capacity, void*) {
  return LoadStringA(setupState.instance, id, piece, capacity);
}

void ShowInternalError(const char* format, unsigned id) {
  char text[100];
  wsprintfA(text, format, static_cast<int>(id));
  MessageBoxA(nullptr, text, nullptr, MB_ICONERROR);
}

}  // namespace

const char* ComposeMessage(UINT id) {
  char* result = composedTexts[nextComposed];
  nextComposed = (nextComposed + 1) % 3;
  ChainOutcome outcome = ComposeChain(id, LoadPiece, nullptr, result);
  if (outcome.status == ChainStatus::kNotFound)
    ShowInternalError("Internal error: string resource not found: %d", outcome.failedId);
  else if (outcome.status == ChainStatus::kTooLong)
    ShowInternalError("Internal error: string resource too long: %d", outcome.failedId);
  return result;
}

int ShowMessage(HWND owner, UINT id, UINT style, ...) {
  char format[512];
  char text[kFormattedCapacity];
  LoadStringA(setupState.instance, id, format, sizeof format);
  va_list arguments;
  va_start(arguments, style);
  wvsprintfA(text, format, arguments);
  va_end(arguments);
  return MessageBoxA(owner, text, setupState.title, style);
}

bool ReportCopyResult(UINT code, const char* sourcePath, const char* destinationPath) {
  switch (code) {
    case MSG_CANNOT_OPEN:
      ShowMessage(setupState.progressDialog, MSG_CANNOT_OPEN_FOR_WRITING, MB_ICONERROR, sourcePath);
      return false;
    case MSG_CANNOT_OPEN_FOR_WRITING:
      ShowMessage(setupState.progressDialog, MSG_CANNOT_OPEN_FOR_WRITING, MB_ICONERROR,
                  destinationPath);
      return false;
    case MSG_ERROR_WRITING:
      ShowMessage(setupState.progressDialog, MSG_ERROR_WRITING, MB_ICONERROR, destinationPath);
      return false;
    default:
      return true;
  }
}

void ShowExtractionError(HWND owner, int, const char* text) {
  MessageBoxA(owner, text, nullptr, MB_ICONERROR);
}

void LoadSetupTitle() {
  LoadStringA(setupState.instance, MSG_SETUP_TITLE, setupState.title, sizeof setupState.title);
}
