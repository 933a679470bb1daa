// Removal of the shell-extension registry entries of earlier versions.
#pragma once

// Deletes the product's shell-extension class and handler keys; best effort, always true.
bool RemoveShellExtensionKeys();
