#include "platform/clock.h"

#include <atomic>

namespace tessora::platform {

namespace {
std::atomic<TestClock> g_testClock{nullptr};
}

void SetTestClock(TestClock clock) {
  g_testClock = clock;
}

TDateTime NowLocal() {
  if (TestClock clock = g_testClock.load()) return clock();
  // The system clock never gives a field out of range, so the encoding always succeeds.
  return EncodeDateTime(SystemLocalNow()).value_or(0.0);
}

}  // namespace tessora::platform
