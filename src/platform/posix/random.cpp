// The system's random bits: getrandom, without waiting for the pool at boot.
#include "platform/random.h"

#include <sys/random.h>
#include <time.h>

#include <cstdint>

namespace tessora::platform {

std::uint64_t SystemRandom64() {
  std::uint64_t value = 0;
  if (getrandom(&value, sizeof value, GRND_NONBLOCK) == static_cast<ssize_t>(sizeof value)) {
    return value;
  }
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  const auto here = reinterpret_cast<std::uintptr_t>(&value);
  return (static_cast<std::uint64_t>(now.tv_sec) << 32) ^ static_cast<std::uint64_t>(now.tv_nsec) ^
         (static_cast<std::uint64_t>(here) * 0x9E3779B97F4A7C15ULL);
}

}  // namespace tessora::platform
