// The current local date-time and the machine's time-zone rules.
#pragma once

#include "base/datetime.h"

namespace tessora::platform {

// The current local wall-clock time, to the millisecond; a test clock when one is set.
DateTime NowLocal();

// A moment for measuring time spans, in days: a clock that never jumps (no time-zone or wall-clock
// changes), from an arbitrary start; the test clock when one is set.
DateTime NowSteady();

using TestClock = DateTime (*)();
// Replaces the system clock for tests; nullptr restores it.
void SetTestClock(TestClock clock);

// The system's local wall-clock time, to the millisecond.
DateTimeParts SystemLocalNow();

// Converts a UTC date and time to local time by the machine's time-zone rules for that moment.
// Gives nothing when the platform cannot convert that moment.
std::optional<DateTimeParts> UtcToLocal(const DateTimeParts& utc);

}  // namespace tessora::platform
