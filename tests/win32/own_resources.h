// For test programs that carry their own copy of setup's dialogs and texts (a <name>.rc beside
// the test): a fresh setup record that points at this program and has the setup title.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include "common/setup_state.h"
#include "support/wine_env.h"

inline void UseOwnResources() {
  setupState = SetupState{};
  setupState.instance = GetModuleHandleA(nullptr);
  lstrcpyA(setupState.title, "Kestra Setup");
}

// For tests that run setup's code on SETUP.EXE's own texts and resources: SETUP.EXE is loaded
// as a data file while this lives, and a fresh setup record points at it.
class SetupExeResources {
 public:
  SetupExeResources()
      : module_(LoadLibraryExA(SetupExePath().c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)) {
    EXPECT_NE(module_, nullptr) << SetupExePath();
    UseOwnResources();
    setupState.instance = module_;
  }
  ~SetupExeResources() {
    if (module_) FreeLibrary(module_);
  }
  SetupExeResources(const SetupExeResources&) = delete;
  SetupExeResources& operator=(const SetupExeResources&) = delete;
  HMODULE module() const { return module_; }

 private:
  HMODULE module_;
};
