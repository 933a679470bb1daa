#include "support/progress_gate.h"

#include <gtest/gtest.h>

#include "support/wine_env.h"
#include "ui/progress_dialog.h"

namespace {

constexpr DWORD kPollMilliseconds = 50;

HANDLE CreateGateEvent(DWORD processId, const char* what) {
  char name[kGateNameChars];
  GateObjectName(name, processId, what);
  return CreateEventA(nullptr, FALSE, FALSE, name);  // auto-reset: one signal per stop
}

}  // namespace

GatedSetup::GatedSetup(const std::string& commandLine) : setup_(commandLine, "", CREATE_SUSPENDED) {
  if (!setup_.started()) return;
  arrived_ = CreateGateEvent(setup_.id(), "arrived");
  go_ = CreateGateEvent(setup_.id(), "go");
  char name[kGateNameChars];
  GateObjectName(name, setup_.id(), "record");
  mapping_ = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0,
                                sizeof(GateRecord), name);
  if (mapping_)
    record_ =
        static_cast<GateRecord*>(MapViewOfFile(mapping_, FILE_MAP_WRITE, 0, 0, sizeof(GateRecord)));
  library_ = LoadLibraryA(FixturePath("progress_gate.dll").c_str());
  auto hook = library_ ? reinterpret_cast<HOOKPROC>(
                             reinterpret_cast<void*>(GetProcAddress(library_, "ProgressGateHook")))
                       : nullptr;
  if (arrived_ && go_ && record_ && hook)
    hook_ = SetWindowsHookExA(WH_CALLWNDPROCRET, hook, library_, setup_.threadId());
  if (!hook_) ADD_FAILURE() << "cannot put the progress gate into SETUP.EXE";
  setup_.Resume();
}

GatedSetup::~GatedSetup() {
  if (hook_) UnhookWindowsHookEx(hook_);
  setup_.Terminate();
  if (record_) UnmapViewOfFile(record_);
  for (HANDLE handle : {arrived_, go_, mapping_})
    if (handle) CloseHandle(handle);
  if (library_) FreeLibrary(library_);
}

std::optional<GateStop> GatedSetup::NextStop(DWORD milliseconds, bool quietTimeout) {
  if (!hook_) return std::nullopt;
  HANDLE waits[2] = {arrived_, setup_.handle()};
  for (DWORD start = GetTickCount(); GetTickCount() - start < milliseconds;) {
    DWORD woken = WaitForMultipleObjects(2, waits, FALSE, kPollMilliseconds);
    if (woken == WAIT_OBJECT_0) {
      auto dialog = reinterpret_cast<HWND>(static_cast<LONG_PTR>(record_->dialog));
      char name[MAX_PATH] = "";
      // Read from the window manager, not asked of setup, which is held.
      GetWindowTextA(GetDlgItem(dialog, kProgressFileNameItem), name, sizeof name);
      return GateStop{static_cast<GateStopKind>(record_->kind),
                      name,
                      record_->position,
                      record_->range,
                      IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)) != FALSE,
                      dialog};
    }
    if (woken != WAIT_TIMEOUT || ShowsMessageBox()) return std::nullopt;
  }
  if (!quietTimeout)
    ADD_FAILURE() << "setup neither reached the gate nor showed a box in " << milliseconds << " ms";
  return std::nullopt;
}

void GatedSetup::GoOn() {
  SetEvent(go_);
}

// A message box, not any dialog with a text static: the welcome dialog may still be closing.
bool GatedSetup::ShowsMessageBox() {
  for (HWND window : TopLevelWindows(setup_.id()))
    if (ReadMessageBox(window)) return true;
  return false;
}
