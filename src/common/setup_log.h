// The run's log (/LOG=file): one line for each step of the setup sequence and one for each
// message, with the local time, appended to the file named in setupState.logFile. Without that
// name, or when the file cannot be written, nothing is logged and setup goes on as ever.
#pragma once
#include <windows.h>

// Appends "time  text", the text made from `format` and the arguments as wsprintfA makes it.
void LogStep(const char* format, ...);

// Appends "time  message id: text" ("time  message: text" for a text outside the catalogue,
// id 0). Each further line of the text (after a CR, an LF or both) follows on a line of its own,
// indented by a tab.
void LogMessage(UINT id, const char* text);
