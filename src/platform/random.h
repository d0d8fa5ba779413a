// Unpredictable bits from the operating system.
#pragma once

#include <cstdint>

namespace tessora::platform {

// 64 bits from the system's random source, for a key that whoever sends the library text must not
// be able to guess (the JSON reader's hash key). Where the source fails, bits from the clock and
// the process's addresses: weaker, never the same from one process to the next.
std::uint64_t SystemRandom64();

}  // namespace tessora::platform
