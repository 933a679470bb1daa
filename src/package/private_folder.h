// The package's private folder under the user's temporary folder: made under a new name that
// nobody can guess, never taken over from someone else, and removed with every file in it.
#pragma once
#include <windows.h>

// Creates a new folder in the temporary folder and leaves its path, ending in a backslash, in
// `folder` (kPathChars). A name that exists already is never used: the next try takes another.
// False when no folder could be made (the temporary folder missing, read-only or full).
bool CreatePrivateFolder(char* folder);

// Deletes the files in `folder` (the package unpacks no subfolders) and then the folder. A file
// that a virus scanner or the ending setup still holds gets a few more tries.
void RemovePrivateFolder(const char* folder);
