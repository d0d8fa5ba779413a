#include "platform/random.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>

namespace tessora::platform {
namespace {

// The system's source answers with bits that do not repeat (the weak fallback would repeat
// within one process only if the clock stood still).
TEST(SystemRandom, DrawsDoNotRepeat) {
  std::set<std::uint64_t> drawn;
  for (int i = 0; i < 64; ++i)
    drawn.insert(SystemRandom64());
  EXPECT_EQ(drawn.size(), 64u);
}

}  // namespace
}  // namespace tessora::platform
