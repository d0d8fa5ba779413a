#include "platform/clock.h"

#include <atomic>

namespace tessora::platform {

namespace {
std::atomic<TestClock> gTestClock{nullptr};
}

void SetTestClock(TestClock clock) {
  gTestClock = clock;
}

DateTime NowLocal() {
  if (TestClock clock = gTestClock.load()) return clock();
  // The system clock never gives a field out of range, so the encoding always succeeds.
  return EncodeDateTime(SystemLocalNow()).value_or(0.0);
}

}  // namespace tessora::platform
