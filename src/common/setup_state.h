// The process-wide record of one setup run: the folders, SETUP.EXE's time, the progress totals,
// the progress dialog, the cancel flag, the quiet mode, the log and the run's result. Every
// subsystem reads it; the setup sequence fills it.
#pragma once
#include <windows.h>

constexpr int kPathChars = MAX_PATH;  // 260: every path buffer of the program

// The exit codes of a quiet run: what stopped it. An interactive run always ends with 0.
enum SetupExitCode {
  kExitInstalled = 0,       // installed, product started
  kExitUnsupported = 1,     // Windows version not supported, or a switch not understood
  kExitProductRunning = 2,  // another copy of the product is running
  kExitFolderRefused = 3,   // the install folder refused or not creatable
  kExitIncomplete = 4,      // the distribution incomplete or mixed
  kExitCopyFailed = 5,      // copying or unpacking failed
  kExitExtensionInUse = 6,  // the File Manager or shell extension could not be released
  kExitMainExecutable = 7,  // the main executable not put in place or not started
  kExitSetupRunning = 8,    // another setup is running
};

struct SetupState {
  HINSTANCE instance;
  char title[29];                            // string 1021, at most 28 characters kept
  HCURSOR cursor;                            // re-asserted while messages are pumped
  HCURSOR savedCursor;                       // the cursor before the hourglass
  char sourceFolder[kPathChars];             // SETUP.EXE's folder, ends in a backslash
  FILETIME setupWriteTime;                   // SETUP.EXE's last-write time
  WIN32_FIND_DATAA findData;                 // result of the last FileExists
  char suggestedFolder[276] = "C:\\Kestra";  // shown in the welcome dialog
  char installPath[kPathChars];              // install folder without a trailing separator
  char installFolder[kPathChars];            // install folder with a trailing separator
  char argv0Path[kPathChars];                // the path after -argv0, or empty
  DWORD totalBytes;            // side files + archive, in KB once the folder is accepted
  DWORD copiedBytes;           // bytes copied by the side-file copier
  DWORD lastReportedBytes;     // copiedBytes at the copier's last meter update
  bool stubUpToDate;           // the installed stub library has the carried version
  HWND progressDialog;         // the modeless progress dialog while it exists
  bool cancelRequested;        // the user confirmed Cancel
  bool quiet;                  // /S: no window; every box becomes a line of the log
  char logFile[kPathChars];    // the log's full path (/LOG), or empty
  int exitCode;                // what stopped the run first (SetupExitCode), 0 so far
  bool placingMainExecutable;  // the run has come to renaming KESTRA32.EX_
};

extern SetupState setupState;
