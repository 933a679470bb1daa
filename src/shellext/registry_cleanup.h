// Removal of the shell-extension registry entries of earlier versions: the class registrations
// and the handler keys under HKEY_CLASSES_ROOT, each with everything below it. Best effort:
// nothing is reported and every failure is passed over.
#pragma once
#include <windows.h>

// Deletes the product's shell-extension class and handler keys; always true.
bool RemoveShellExtensionKeys();

// Deletes the key `path` below `root` and all its sub-keys, deepest first, however deep the tree.
// ERROR_SUCCESS when the whole tree went; otherwise the error of the step that failed, and the
// branch that held the key that could not be deleted stays (its earlier siblings are gone).
LONG DeleteKeyTree(HKEY root, const char* path);
