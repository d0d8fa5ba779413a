#include <gtest/gtest.h>

#include <string>

#include "base/text.h"
#include "catalogue/catalogue.h"
#include "platform/codepage.h"

namespace tessora {
namespace {

using namespace std::string_literals;

class EndpointTextTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::InitAnsiCodePage(); }
};

std::string Text(const std::string& bytes) {
  return TextToUtf8(EndpointFileText(bytes));
}

TEST_F(EndpointTextTest, ByteOrderMarksSelectTheEncoding) {
  // {"é":1} in each encoding; the mark is not part of the text.
  EXPECT_EQ(Text("\xEF\xBB\xBF{\"\xC3\xA9\":1}"), "{\"\xC3\xA9\":1}\r\n");
  EXPECT_EQ(Text("\xFF\xFE{\0\"\0\xE9\0\"\0:\0\x31\0}\0"s), "{\"\xC3\xA9\":1}\r\n");
  EXPECT_EQ(Text("\xFE\xFF\0{\0\"\0\xE9\0\"\0:\0\x31\0}"s), "{\"\xC3\xA9\":1}\r\n");
  // A supplementary character survives as its surrogate pair.
  EXPECT_EQ(Text("\xFF\xFE=\xD8\x00\xDE"s), "\xF0\x9F\x98\x80\r\n");
  EXPECT_EQ(Text("\xEF\xBB\xBF"), "");
  EXPECT_EQ(Text("\xFF\xFE"), "");
}

TEST_F(EndpointTextTest, WithoutAMarkTheTextIsAnsi) {
  EXPECT_EQ(Text("{\"a\":1}"), "{\"a\":1}\r\n");
  if (platform::AnsiCodePage() == 1252) {
    EXPECT_EQ(Text("\xE9\x80"), "\xC3\xA9\xE2\x82\xAC\r\n");  // é, €
  } else if (platform::AnsiCodePage() == 65001) {
    EXPECT_EQ(Text("\xC3\xA9"), "\xC3\xA9\r\n");
  }
}

TEST_F(EndpointTextTest, Utf16WithoutAMarkEndsAtItsFirstZeroByte) {
  EXPECT_EQ(Text("{\0\"\0a\0\"\0:\0{\0}\0}\0"s), "{");  // little-endian
  EXPECT_EQ(Text("\0{\0\"\0a\0\"\0:\0{\0}\0}"s), "");   // big-endian
}

TEST_F(EndpointTextTest, EveryLineEndsWithCrLf) {
  EXPECT_EQ(Text(""), "");
  EXPECT_EQ(Text("a"), "a\r\n");
  EXPECT_EQ(Text("\n"), "\r\n");
  EXPECT_EQ(Text("a\rb\nc\r\nd"), "a\r\nb\r\nc\r\nd\r\n");
  EXPECT_EQ(Text("a\n\rb\r\n"), "a\r\n\r\nb\r\n");
  EXPECT_EQ(Text("\xFF\xFE\x61\0\r\0\x62\0\n\0"s), "a\r\nb\r\n");
}

TEST_F(EndpointTextTest, TheTextEndsAtItsFirstNul) {
  EXPECT_EQ(Text("ab\0cd\r\nef"s), "ab");
  EXPECT_EQ(Text("ab\r\n\0cd"s), "ab\r\n");
  EXPECT_EQ(Text("\xFF\xFE\x61\0\0\0\x62\0"s), "a");
}

TEST_F(EndpointTextTest, AnOddLastByteOfUtf16IsDropped) {
  EXPECT_EQ(Text("\xFF\xFE\x61\0\x62"s), "a\r\n");
  EXPECT_EQ(Text("\xFE\xFF\0\x61\0"s), "a\r\n");
}

}  // namespace
}  // namespace tessora
