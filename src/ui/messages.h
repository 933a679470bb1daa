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

// The texts outside the catalogue that stop a run, under numbers of their own for the exit-code
// policy (the log shows them without a number).
enum PlainTextId : UINT {
  kTextInternalError = 1,   // a catalogue text missing or too long: stops nothing by itself
  kTextArchiveMissing = 2,  // "setup.ks is missing"
  kTextStartFailed = 3,     // "Error running ..."
  kTextExtraction = 4,      // the extractor's own texts (the password texts)
};

// Shows a text from outside the catalogue in a box with no owner, no caption and only OK.
// `id` is what the text stands for in the exit-code policy.
void ShowPlainMessage(const char* text, UINT id);

// The exit-code policy: what ends a quiet run when the message `id` (a catalogue id or a
// PlainTextId) is shown; 0 for a message that stops nothing by itself. The first stop counts.
int ExitCodeOf(UINT id);

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

// Loads the setup title (string 1021, at most 28 characters) into setupState.title.
void LoadSetupTitle();
