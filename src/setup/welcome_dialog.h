// The welcome dialog (template 100): the user confirms or changes the install folder; on OK
// the folder is checked, prepared and handed over to the stub library step, which ends the
// dialog. Every rejected folder leaves the dialog open for another try.
#pragma once
#include <windows.h>

// Template 100 and its items.
constexpr int kWelcomeDialogTemplate = 100;
constexpr int kFolderItem = 101;
constexpr int kIntroItem = 106;
constexpr int kHintItem = 107;
constexpr int kFolderTextLimit = 259;

// Results of the welcome step: go on, failed or cancelled (1006), quit without a message.
constexpr int kWelcomeGoOn = 1;
constexpr int kWelcomeQuietly = 0;

// Shows the dialog modally without owner and returns kWelcomeGoOn, 1006 or kWelcomeQuietly.
int RunWelcomeDialog();

// The dialog procedure.
INT_PTR CALLBACK WelcomeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The OK handler: checks the folder in item 101 and either shows why it cannot be used (the
// dialog stays open) or creates it and hands over to HandOverStubLibrary, which ends the dialog.
void AcceptInstallFolder(HWND dialog);
