// The system's random bits: RtlGenRandom (advapi32's SystemFunction036), there since Windows XP.
#include "platform/random.h"

#include <windows.h>

#include <cstdint>

namespace tessora::platform {

namespace {

using GenRandom = BOOLEAN(WINAPI*)(PVOID, ULONG);

}  // namespace

std::uint64_t SystemRandom64() {
  std::uint64_t value = 0;
  if (HMODULE advapi = LoadLibraryW(L"advapi32.dll")) {
    const auto generate = reinterpret_cast<GenRandom>(
        reinterpret_cast<void*>(GetProcAddress(advapi, "SystemFunction036")));
    const bool filled = generate != nullptr && generate(&value, sizeof value) != FALSE;
    FreeLibrary(advapi);
    if (filled) return value;
  }
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  const auto here = reinterpret_cast<std::uintptr_t>(&value);
  return static_cast<std::uint64_t>(now.QuadPart) ^
         (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32) ^
         (static_cast<std::uint64_t>(here) * 0x9E3779B97F4A7C15ULL);
}

}  // namespace tessora::platform
