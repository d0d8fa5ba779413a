#include "api/host_text.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "base/error.h"
#include "platform/codepage.h"
#include "platform/host_failure.h"
#include "support/host_library.h"

namespace tessora {
namespace {

class HostTextTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::InitAnsiCodePage(); }
  void TearDown() override {
    for (char* buffer : buffers_)
      std::free(buffer);  // the host owns them; the test cleans up
  }
  std::string Result(std::u16string_view text) {
    buffers_.push_back(NewResultBuffer(text));
    return buffers_.back();
  }
  std::vector<char*> buffers_;
};

TEST_F(HostTextTest, NullIsTheEmptyText) {
  EXPECT_EQ(HostText(nullptr), u"");
  EXPECT_EQ(HostText(""), u"");
  EXPECT_EQ(HostText("abc"), u"abc");
}

TEST_F(HostTextTest, ResultBuffersAreNewEachTime) {
  char* first = NewResultBuffer(u"token");
  char* second = NewResultBuffer(u"token");
  buffers_ = {first, second};
  EXPECT_NE(first, second);
  EXPECT_STREQ(first, "token");
  EXPECT_STREQ(second, "token");
  EXPECT_STREQ(Result(u"").c_str(), "");
}

TEST_F(HostTextTest, TextEndsAtItsFirstNulCharacter) {
  EXPECT_EQ(Result(std::u16string(u"ab\0cd", 5)), "ab");
}

TEST_F(HostTextTest, ConvertsThroughTheAnsiCodePage) {
  const std::u16string text = u"\u00E7\u00E3\u4E2D";
  if (platform::AnsiCodePage() == 1252) {
    EXPECT_EQ(Result(text), "\xE7\xE3?");
    EXPECT_EQ(HostText("\xE7\xE3"), u"\u00E7\u00E3");
  } else if (platform::AnsiCodePage() == 65001) {
    // Longer in bytes than in UTF-16 units, and delivered whole.
    const std::string bytes = Result(text);
    EXPECT_EQ(bytes, "\xC3\xA7\xC3\xA3\xE4\xB8\xAD");
    EXPECT_EQ(HostText(bytes.c_str()), text);
  } else {
    GTEST_SKIP() << "ANSI code page " << platform::AnsiCodePage();
  }
}

TEST(HostFailure, ReachesTheHostWithItsMessage) {
  platform::InitAnsiCodePage();
  const auto message = test::CatchHostFailure([] {
    platform::LeaveExport(
        std::make_exception_ptr(Error(ErrorKind::kPlain, u"Problem in endpoint")));
  });
  ASSERT_TRUE(message.has_value());
  EXPECT_EQ(*message, "Problem in endpoint");
  EXPECT_FALSE(test::CatchHostFailure([] {}).has_value());
}

}  // namespace
}  // namespace tessora
