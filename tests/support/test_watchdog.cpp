// Every Windows test program carries this watchdog. A test that has run for longer than any
// test should is reported on stderr with every window on the screen, so that a hang under
// CTest's time limit leaves a picture of where it stood. The test itself is left to run.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>

#include "support/ui_robot.h"

namespace {

constexpr DWORD kReportAfterMilliseconds = 240000;

BOOL CALLBACK ReportWindow(HWND window, LPARAM) {
  if (!IsWindowVisible(window)) return TRUE;
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  WindowInfo info = ReadWindow(window);
  fprintf(stderr, "  process %lu: window %s \"%s\"\n", process, info.className.c_str(),
          info.title.c_str());
    for (const ControlInfo& c : info.controls)
      fprintf(stderr, "    [%d] %s \"%s\"%s%s\n", c.id, c.className.c_str(), c.text.c_str(),
              c.visible ? "" : " hidden", c.enabled ? "" : " disabled");
  return TRUE;
}

class Watchdog : public testing::EmptyTestEventListener {
 public:
  void OnTestStart(const testing::TestInfo&) override {
    if (!testStarted_) testStarted_ = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (!thread_) thread_ = CreateThread(nullptr, 0, Watch, this, 0, nullptr);
    SetEvent(testStarted_);
  }

 private:
  static DWORD WINAPI Watch(void* context) {
    auto* self = static_cast<Watchdog*>(context);
    for (;;) {
      WaitForSingleObject(self->testStarted_, INFINITE);
      std::string name = CurrentTestName();
      if (WaitForSingleObject(self->testStarted_, kReportAfterMilliseconds) != WAIT_TIMEOUT) {
        SetEvent(self->testStarted_);  // the next test has begun: watch it from the start
        continue;
      }
      fprintf(stderr, "watchdog: %s has run for %lu s; the windows on the screen:\n", name.c_str(),
              kReportAfterMilliseconds / 1000);
      EnumWindows(ReportWindow, 0);
      fflush(stderr);
      WaitForSingleObject(self->testStarted_, INFINITE);
      SetEvent(self->testStarted_);
    }
  }

  HANDLE testStarted_ = nullptr;
  HANDLE thread_ = nullptr;
};

const bool kInstalled = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new Watchdog);
  return true;
}();

}  // namespace
