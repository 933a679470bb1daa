// The welcome dialog's template, items and results, in one place for the two modules that use
// them: the dialog itself (setup) and the stub library step (shellext), which rewrites items 106
// and 107 while it waits and ends the dialog.
#pragma once

constexpr int kWelcomeDialogTemplate = 100;
constexpr int kFolderItem = 101;
constexpr int kIntroItem = 106;  // says why setup waits, during the stub library step
constexpr int kHintItem = 107;   // gains a star for every second of that wait

// Results of the welcome dialog: go on, failed or cancelled (MSG_NOT_INSTALLED, 1006), or quit
// without a further message.
constexpr int kWelcomeGoOn = 1;
constexpr int kWelcomeQuietly = 0;
