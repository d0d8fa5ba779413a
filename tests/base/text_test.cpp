#include "base/text.h"

#include <gtest/gtest.h>

namespace tessora {
namespace {

struct Utf8Case {
  std::string bytes;
  std::u16string text;
};

class Utf8Decoding : public ::testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Decoding, GivesTheText) {
  EXPECT_EQ(Utf8ToText(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Utf8Decoding,
    ::testing::Values(Utf8Case{"", u""}, Utf8Case{"abc", u"abc"},
                      Utf8Case{"\xC3\xA7\xC3\xA3", u"\u00E7\u00E3"},
                      Utf8Case{"\xE2\x82\xAC", u"\u20AC"},
                      Utf8Case{"\xF0\x9F\x98\x80", u"\U0001F600"},
                      // Invalid sequences: one replacement per maximal invalid subpart.
                      Utf8Case{"a\xFFz", u"a\uFFFDz"}, Utf8Case{"\xC3", u"\uFFFD"},
                      Utf8Case{"\xE2\x82z", u"\uFFFDz"}, Utf8Case{"\xC0\xAF", u"\uFFFD\uFFFD"},
                      Utf8Case{"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
                      Utf8Case{"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}));

TEST(Utf8Encoding, RoundTripsAndReplacesLoneSurrogates) {
  EXPECT_EQ(TextToUtf8(u"\u00E9\u4E2D\U0001F600"), "\xC3\xA9\xE4\xB8\xAD\xF0\x9F\x98\x80");
  EXPECT_EQ(TextToUtf8(std::u16string(1, u'\xD800') + u"x"), "\xEF\xBF\xBDx");
  EXPECT_EQ(TextToUtf8(std::u16string(1, u'\xDC00')), "\xEF\xBF\xBD");
}

TEST(SingleByteText, MapsBytesAndFallsBackToQuestionMarks) {
  EXPECT_EQ(BytesToText(std::string("\x00\x7F\x80\xFF", 4)), std::u16string(u"\0\x7F\x80\xFF", 4));
  EXPECT_EQ(TextToBytes(u"\u00E7\u0100z"), "\xE7?z");
  EXPECT_EQ(TextToAscii(u"\u00E7\u007Fz"), "?\x7Fz");
  // A character outside the BMP is one character: one "?"; a lone surrogate is one too.
  EXPECT_EQ(TextToAscii(u"a\U0001F600b"), "a?b");
  EXPECT_EQ(TextToBytes(u"\U0001F600\u00E9"), "?\xE9");
  EXPECT_EQ(TextToAscii(std::u16string(1, u'\xDC00') + u"x"), "?x");
}

TEST(AsciiCase, ChangesOnlyAsciiLetters) {
  EXPECT_EQ(AsciiUpperCase(u"authorize \u00E9\u0131z"), u"AUTHORIZE \u00E9\u0131Z");
  EXPECT_TRUE(SameTextAscii(u"Access_Token", u"ACCESS_TOKEN"));
  EXPECT_FALSE(SameTextAscii(u"\u00E9", u"\u00C9"));
  EXPECT_FALSE(SameTextAscii(u"a", u"a "));
  EXPECT_FALSE(SameTextAscii(u"[", u"{"));  // 0x5B and 0x7B differ by 32 but are no letters
}

}  // namespace
}  // namespace tessora
