#include "platform/codepage.h"

#include <gtest/gtest.h>

#include "base/fault_injection.h"

namespace tessora::platform {
namespace {

class CodePageTest : public ::testing::Test {
 protected:
  void SetUp() override { InitAnsiCodePage(); }
  void TearDown() override { ClearFaults(); }
};

// The test environments run the Windows build with code page 1252 (Wine's default) and the Linux
// build under a UTF-8 or C locale; other ANSI code pages skip the code-page specific cases.
TEST_F(CodePageTest, AnsiRoundTripOfTheCodePage) {
  const std::u16string text = u"Cedilha \u00E7 til \u00E3 ideograma \u4E2D";
  if (AnsiCodePage() == 1252) {
    EXPECT_EQ(TextToAnsi(text), "Cedilha \xE7 til \xE3 ideograma ?");
    EXPECT_EQ(AnsiToText("\xE7\xE3\x80"), u"\u00E7\u00E3\u20AC");
  } else if (AnsiCodePage() == 65001) {
    const std::string bytes = TextToAnsi(text);
    EXPECT_GT(bytes.size(), text.size());
    EXPECT_EQ(bytes, "Cedilha \xC3\xA7 til \xC3\xA3 ideograma \xE4\xB8\xAD");
    EXPECT_EQ(AnsiToText(bytes), text);
    EXPECT_EQ(AnsiToText("a\xFF"), u"a\uFFFD");
  } else {
    GTEST_SKIP() << "ANSI code page " << AnsiCodePage();
  }
}

TEST_F(CodePageTest, EmptyTextConvertsToEmptyBytes) {
  EXPECT_EQ(TextToAnsi(u""), "");
  EXPECT_EQ(AnsiToText(""), u"");
}

struct PageCase {
  unsigned codePage;
  std::string bytes;
  std::u16string text;
};

class ResponseCodePages : public ::testing::TestWithParam<PageCase> {};

TEST_P(ResponseCodePages, DecodeThroughThePlatform) {
  const auto text = CodePageToText(GetParam().codePage, GetParam().bytes);
  ASSERT_TRUE(text.has_value());
  EXPECT_EQ(*text, GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Table, ResponseCodePages,
                         ::testing::Values(PageCase{1252, "\x80\xE9", u"\u20AC\u00E9"},
                                           PageCase{1251, "\xCF\xF0\xE8\xE2\xE5\xF2",
                                                    u"\u041F\u0440\u0438\u0432\u0435\u0442"},
                                           PageCase{932, "\x93\xfa\x96\x7b", u"\u65E5\u672C"},
                                           PageCase{28591, "\xE9", u"\u00E9"},
                                           PageCase{65001, "\xC3\xA9", u"\u00E9"},
                                           // Bytes the page leaves unassigned.
                                           PageCase{1252, "\x81\x8D\x9D", u"\u0081\u008D\u009D"},
                                           // An EBCDIC page.
                                           PageCase{37, "\xC1\xC2\x81", u"ABa"}));

TEST_F(CodePageTest, UnknownOrFailingCodePagesGiveNothing) {
  EXPECT_FALSE(CodePageToText(12345, "abc").has_value());
  InjectFault(Fault::kCodePage, 1);
  EXPECT_FALSE(CodePageToText(1252, "abc").has_value());
  EXPECT_TRUE(CodePageToText(1252, "abc").has_value());
}

}  // namespace
}  // namespace tessora::platform
