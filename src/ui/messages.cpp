#include "ui/messages.h"

#include <stdarg.h>

#include "common/setup_log.h"
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

// The answer that changes nothing: Cancel where there is one (no retry), No to a question (the
// 16-bit product stays, the shell extension stays on), else OK.
int QuietAnswer(UINT style) {
  switch (style & MB_TYPEMASK) {
    case MB_YESNO:
      return IDNO;
    case MB_OK:
      return IDOK;
    default:
      return IDCANCEL;
  }
}

// Every box of setup passes here. The text goes to the log with its catalogue id (0 for a text
// outside the catalogue) and `exitCode` is noted as what stopped the run; an interactive run
// then shows the box, a quiet run gives the quiet answer instead.
int ShowBox(HWND owner, UINT id, const char* text, const char* caption, UINT style) {
  LogMessage(id >= MSG_CANNOT_CREATE_FOLDER ? id : 0, text);
  if (!setupState.exitCode) setupState.exitCode = ExitCodeOf(id);
  if (setupState.quiet) return QuietAnswer(style);
  return MessageBoxA(owner, text, caption, style);
}

void ShowInternalError(const char* format, unsigned id) {
  char text[100];
  wsprintfA(text, format, static_cast<int>(id));
  ShowBox(nullptr, kTextInternalError, text, nullptr, MB_ICONERROR);
}

int ShowFormatted(HWND owner, UINT id, UINT style, va_list arguments) {
  char format[kFormattedCapacity];
  char text[kFormattedCapacity];
  LoadStringA(setupState.instance, id, format, sizeof format);
  wvsprintfA(text, format, arguments);
  return ShowBox(owner, id, text, setupState.title, style);
}

// A copy result's message: copying failed, whichever file it names.
void ShowCopyFailure(UINT id, ...) {
  va_list arguments;
  va_start(arguments, id);
  ShowFormatted(setupState.progressDialog, id, MB_ICONERROR, arguments);
  va_end(arguments);
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
  va_list arguments;
  va_start(arguments, style);
  int button = ShowFormatted(owner, id, style, arguments);
  va_end(arguments);
  return button;
}

int ShowComposedMessage(HWND owner, UINT id, UINT style) {
  return ShowBox(owner, id, ComposeMessage(id), setupState.title, style);
}

void ShowPlainMessage(const char* text, UINT id) {
  ShowBox(nullptr, id, text, nullptr, MB_OK);
}

bool ReportCopyResult(UINT code, const char* sourcePath, const char* destinationPath) {
  switch (code) {
    case MSG_CANNOT_OPEN:
      ShowCopyFailure(MSG_CANNOT_OPEN_FOR_WRITING, sourcePath);
      return false;
    case MSG_CANNOT_OPEN_FOR_WRITING:
    case MSG_ERROR_WRITING:
      ShowCopyFailure(code, destinationPath);
      return false;
    default:
      return true;
  }
}

void ShowExtractionError(HWND owner, int, const char* text, UINT id) {
  ShowBox(owner, id ? id : kTextExtraction, text, nullptr, MB_ICONERROR);
}

// One line per line of the README's table of exit codes. 1006 closes every failed run: it
// counts only when nothing before it said more.
int ExitCodeOf(UINT id) {
  bool mainExecutable = setupState.placingMainExecutable;
  switch (id) {
    case MSG_WRONG_WINDOWS:
    case MSG_USAGE:  // shown by a quiet run for a switch not understood (or asked for with /?)
      return kExitUnsupported;
    case MSG_PRODUCT_RUNNING:
      return kExitProductRunning;
    case MSG_CANNOT_CREATE_FOLDER:
    case MSG_SAME_AS_SOURCE:
    case MSG_INVALID_FOLDER:
    case MSG_OLD_PRODUCT_FOUND:
    case MSG_CONFIRM_OLD_DELETE:
    case MSG_FOLDER_READ_ONLY:
    case MSG_NO_DISK_SPACE:
      return kExitFolderRefused;
    case MSG_SIDE_FILE_MISSING:  // KESTRA32.EX_ missing from setup.ks: 7
      return mainExecutable ? kExitMainExecutable : kExitIncomplete;
    case MSG_SIDE_FILE_TIME:
    case kTextArchiveMissing:
      return kExitIncomplete;
    case MSG_CANNOT_OPEN_FOR_WRITING:  // KESTRA32.EXE not replaceable: 7
      return mainExecutable ? kExitMainExecutable : kExitCopyFailed;
    case MSG_ERROR_WRITING:
    case MSG_CANNOT_CREATE_OUTPUT:
    case MSG_CANNOT_OPEN_INPUT:
    case MSG_UNKNOWN_COMPRESSION:
    case MSG_BAD_CRC:
    case MSG_INVALID_HEADER:
    case MSG_NO_MEMORY:
    case MSG_DISK_FULL:
    case MSG_READ_ERROR:
    case kTextExtraction:
    case MSG_NOT_INSTALLED:
      return kExitCopyFailed;
    case MSG_SHELL_EXT_BUSY:
    case MSG_FM_EXT_BUSY:
    case MSG_STUB_NOT_ACCESSIBLE:
    case MSG_STUB_NOT_CREATABLE:
      return kExitExtensionInUse;
    case kTextStartFailed:
      return kExitMainExecutable;
    case MSG_SETUP_RUNNING:
      return kExitSetupRunning;
    default:
      return kExitInstalled;
  }
}

void LoadSetupTitle() {
  LoadStringA(setupState.instance, MSG_SETUP_TITLE, setupState.title, sizeof setupState.title);
}
