// The welcome dialog (template 100): the user confirms or changes the install folder; on OK
// the folder is checked, prepared and handed over to the stub library step, which ends the
// dialog. Every rejected folder leaves the dialog open for another try.
#pragma once
#include <windows.h>

#include "resources/welcome_dialog_ids.h"

constexpr int kFolderTextLimit = 259;

// Shows the dialog modally without owner and returns kWelcomeGoOn, 1006 or kWelcomeQuietly.
int RunWelcomeDialog();

// What OK in the dialog does, without the dialog: checks the suggested folder (its first 259
// characters, as the dialog's field would hold them), creates it and runs the stub library step.
// Returns what the dialog would end with; 1006 where a check would keep it open.
int AcceptSuggestedFolder();

// The dialog procedure.
INT_PTR CALLBACK WelcomeDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// The OK handler: with the dialog's input off, checks the folder in item 101 and either shows
// why it cannot be used (the dialog stays open and takes input again) or creates it, every
// missing level, and hands over to HandOverStubLibrary, which ends the dialog.
void AcceptInstallFolder(HWND dialog);
