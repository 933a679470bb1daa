// The welcome dialog: the user confirms or changes the install folder.
#pragma once

// Result of the welcome step: go on, failed or cancelled (1006), or quit without a message (0).
constexpr int kWelcomeGoOn = 1;
constexpr int kWelcomeQuietly = 0;

// Runs the welcome step and returns kWelcomeGoOn, 1006 or kWelcomeQuietly.
int RunWelcomeDialog();
