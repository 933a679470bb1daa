// SETUP.EXE run with the progress gate (tests/fixtures/progress_gate.cpp) in its GUI thread: the
// test meets setup, held still, at every file name the progress dialog shows, at every progress
// message and as the dialog goes. A Cancel click made at a stop is seen at setup's next message
// pump, so a test can cancel at an exact point without relying on how fast either side runs.
#pragma once
#include <windows.h>

#include <optional>
#include <string>

#include "fixtures/progress_gate.h"
#include "support/ui_robot.h"

// Where setup is held, and what the progress dialog shows there.
struct GateStop {
  GateStopKind kind;
  std::string fileName;  // item 104
  LONG position;         // the meter's
  LONG range;
  bool cancelEnabled;  // the Cancel button
  HWND dialog;
};

class GatedSetup {
 public:
  // Starts `commandLine` held at its first instruction, puts the gate into its GUI thread and
  // lets it run.
  explicit GatedSetup(const std::string& commandLine);
  ~GatedSetup();
  GatedSetup(const GatedSetup&) = delete;
  GatedSetup& operator=(const GatedSetup&) = delete;

  ChildProcess& process() { return setup_; }
  bool gated() const { return hook_ != nullptr; }

  // Waits for the next stop. None when setup shows a message box or ends instead, or after
  // `milliseconds` of neither (a test failure unless `quietTimeout`). Every stop must be
  // followed by GoOn.
  std::optional<GateStop> NextStop(DWORD milliseconds = 60000, bool quietTimeout = false);
  void GoOn();

 private:
  bool ShowsMessageBox();

  ChildProcess setup_;
  HANDLE arrived_ = nullptr;
  HANDLE go_ = nullptr;
  HANDLE mapping_ = nullptr;
  GateRecord* record_ = nullptr;
  HMODULE library_ = nullptr;
  HHOOK hook_ = nullptr;
};
