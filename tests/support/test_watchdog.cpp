// Every Windows test program carries this watchdog. A test that has run for longer than any
// test should is reported on stderr with every window on the screen, so that a hang under
// CTest's time limit leaves a picture of where it stood. The test itself is left to run.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
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

// Counts the tests as they start; a thread looks every second whether the current one has run
// too long, and reports each test at most once.
class Watchdog : public testing::EmptyTestEventListener {
 public:
  void OnTestStart(const testing::TestInfo&) override {
    startTick_ = GetTickCount();
    ++testNumber_;
    if (!thread_) thread_ = CreateThread(nullptr, 0, Watch, this, 0, nullptr);
  }

 private:
  static DWORD WINAPI Watch(void* context) {
    auto* self = static_cast<Watchdog*>(context);
    long reported = 0;
    for (;; Sleep(1000)) {
      long test = self->testNumber_;
      if (test == reported || GetTickCount() - self->startTick_ < kReportAfterMilliseconds)
        continue;
      reported = test;
      fprintf(stderr, "watchdog: %s has run for %lu s; the windows on the screen:\n",
              CurrentTestName().c_str(), kReportAfterMilliseconds / 1000);
      EnumWindows(ReportWindow, 0);
      fflush(stderr);
    }
  }

  std::atomic<DWORD> startTick_ = 0;
  std::atomic<long> testNumber_ = 0;
  HANDLE thread_ = nullptr;
};

const bool kInstalled = [] {
  testing::UnitTest::GetInstance()->listeners().Append(new Watchdog);
  return true;
}();

}  // namespace
