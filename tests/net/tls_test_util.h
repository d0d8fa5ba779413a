// Helpers of the TLS channel tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>

#include "base/error.h"
#include "base/text.h"
#include "support/failure_of.h"

namespace tessora::test {

using Clock = std::chrono::steady_clock;

inline long long ElapsedMs(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

inline std::string Utf8(const std::u16string& text) {
  return TextToUtf8(text);
}

inline bool StartsWith(const std::u16string& text, const std::u16string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace tessora::test
