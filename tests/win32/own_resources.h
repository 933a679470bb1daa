// For test programs that carry their own copy of setup's dialogs and texts (a <name>.rc beside
// the test): a fresh setup record that points at this program and has the setup title.
#pragma once
#include <windows.h>

#include "common/setup_state.h"

inline void UseOwnResources() {
  setupState = SetupState{};
  setupState.instance = GetModuleHandleA(nullptr);
  lstrcpyA(setupState.title, "Kestra Setup");
}
