#include "platform/clock.h"

#include <atomic>
#include <chrono>

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

DateTime NowSteady() {
  if (TestClock clock = gTestClock.load()) return clock();
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration<double, std::ratio<86400>>(since).count();
}

}  // namespace tessora::platform
