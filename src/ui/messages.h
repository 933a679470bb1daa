// The message routines: composed catalogue texts in three rotating buffers, formatted
// string-table messages in boxes captioned with the setup title, the side-file copy results and
// the extractor's error boxes. Every box of setup goes through them: each text is logged with its
// id, and a quiet run (setupState.quiet) shows no box but notes the exit code the message stands
// for and takes the answer that changes nothing (Cancel, No, OK).
#pragma once
#include <windows.h>

// Composes the catalogue text `id` (following "!" continuations) into the next of three
// rotating buffers and returns it. A missing or over-long text shows an internal-error box and
// returns what was composed so far.
const char* ComposeMessage(UINT id);

// Loads text `id`, fills its placeholders printf-style with the arguments and shows it with
// caption setupState.title. Returns the button that closed the box.
int ShowMessage(HWND owner, UINT id, UINT style, ...);

// Shows the composed text `id` with caption setupState.title. Returns the button.
int ShowComposedMessage(HWND owner, UINT id, UINT style);

// Shows a text from outside the catalogue in a box with no owner, no caption and only OK.
// `exitCode` is what the text stands for when it stops a quiet run.
void ShowPlainMessage(const char* text, int exitCode);

// Shows the message for a side-file copy result (1017, 1018, 1019) owned by the progress dialog.
// True when `code` needs no message.
bool ReportCopyResult(UINT code, const char* sourcePath, const char* destinationPath);

// The extractor's error classes.
enum ExtractionErrorCode {
  kErrorUnknownMethod = 7000,
  kErrorNoMemory = 7001,
  kErrorPassword = 7003,
  kErrorOther = 7004,
};

// Shows a finished extractor message, owned by `owner`, without caption, with the error icon.
// `id` is the catalogue text it was made from (0 for none), which the log names.
void ShowExtractionError(HWND owner, int code, const char* text, UINT id);

// Notes `exitCode` as what stopped the run, unless something stopped it before.
void RecordExitCode(int exitCode);

// Loads the setup title (string 1021, at most 28 characters) into setupState.title.
void LoadSetupTitle();
