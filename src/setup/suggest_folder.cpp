#include "setup/suggest_folder.h"

// For now the proposal stays the default folder that setupState starts with.
void SuggestInstallFolder() {}
