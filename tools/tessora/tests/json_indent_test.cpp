// The re-indenter: JSON laid out for reading, strings and scalars untouched, everything it
// cannot vouch for left alone.
#include <gtest/gtest.h>

#include <string>

#include "json_indent.h"

namespace tessora::cli {
namespace {

struct IndentCase {
  const char* name;
  std::string input;
  std::string expected;
};

class IndentJsonTest : public ::testing::TestWithParam<IndentCase> {};

TEST_P(IndentJsonTest, LaysOutTheText) {
  const auto got = IndentJson(GetParam().input);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(*got, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IndentJsonTest,
    ::testing::Values(
        IndentCase{"Object", R"({"a":1,"b":"x"})", "{\n  \"a\": 1,\n  \"b\": \"x\"\n}"},
        IndentCase{"Nested", R"({"data":[{"id":"ch_1"},{"id":"ch_2"}],"more":false})",
                   "{\n  \"data\": [\n    {\n      \"id\": \"ch_1\"\n    },\n    {\n      "
                   "\"id\": \"ch_2\"\n    }\n  ],\n  \"more\": false\n}"},
        IndentCase{"EmptyContainers", R"({"a":{},"b":[ ],"c":[
]})",
                   "{\n  \"a\": {},\n  \"b\": [],\n  \"c\": []\n}"},
        IndentCase{"TopLevelEmpty", " {} \r\n", "{}"},
        IndentCase{"ArrayOfScalars", "[1, -2.5e3, true, null]",
                   "[\n  1,\n  -2.5e3,\n  true,\n  null\n]"},
        IndentCase{"ExistingLayoutIsReplaced", "{\n\t\"a\" :  1 ,\r\n \"b\":2\n}\n",
                   "{\n  \"a\": 1,\n  \"b\": 2\n}"},
        IndentCase{"StringsKeptByteForByte",
                   "{\"s\":\"a , b : { } [ ] \\\" \\\\\",\"t\":\"  spaced\\n \\u00e9 \xC3\xA9\"}",
                   "{\n  \"s\": \"a , b : { } [ ] \\\" \\\\\",\n  \"t\": \"  spaced\\n \\u00e9 "
                   "\xC3\xA9\"\n}"},
        IndentCase{"EscapedBackslashBeforeQuote", R"(["a\\","b"])", "[\n  \"a\\\\\",\n  \"b\"\n]"},
        IndentCase{"RawControlBytesInStringsKept", "[\"a\tb\"]", "[\n  \"a\tb\"\n]"}),
    [](const ::testing::TestParamInfo<IndentCase>& param) { return param.param.name; });

struct LeftAloneCase {
  const char* name;
  std::string input;
};

class IndentJsonLeftAloneTest : public ::testing::TestWithParam<LeftAloneCase> {};

TEST_P(IndentJsonLeftAloneTest, IsNotReindented) {
  EXPECT_FALSE(IndentJson(GetParam().input).has_value());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IndentJsonLeftAloneTest,
    ::testing::Values(
        LeftAloneCase{"Empty", ""}, LeftAloneCase{"OnlySpace", " \r\n"},
        LeftAloneCase{"Word", "UNAUTHORIZED"}, LeftAloneCase{"StatusLine", "HTTP/1.1 200 OK"},
        LeftAloneCase{"BareString", "\"text\""}, LeftAloneCase{"Number", "42"},
        LeftAloneCase{"Html", "<html><body>502</body></html>"},
        LeftAloneCase{"Unclosed", "{\"a\":[1,2}"}, LeftAloneCase{"Truncated", "{\"a\":1"},
        LeftAloneCase{"UnterminatedString", "{\"a\":\"b}"}, LeftAloneCase{"EscapeAtEnd", "[\"\\"},
        LeftAloneCase{"Mismatched", "[1}"}, LeftAloneCase{"TrailingText", "{} x"},
        LeftAloneCase{"TwoValues", "{}{}"}, LeftAloneCase{"ScalarsGluedBySpace", "[1 2]"},
        LeftAloneCase{"WordsGluedByNewline", "[true\nfalse]"},
        LeftAloneCase{"TopLevelComma", "[1],"}),
    [](const ::testing::TestParamInfo<LeftAloneCase>& param) { return param.param.name; });

TEST(IndentJsonBoundsTest, NestingDeeperThanTheLimitIsLeftAlone) {
  IndentOptions options;
  options.maxDepth = 8;
  EXPECT_TRUE(IndentJson(std::string(8, '[') + std::string(8, ']'), options).has_value());
  EXPECT_FALSE(IndentJson(std::string(9, '[') + std::string(9, ']'), options).has_value());
  // The default limit keeps a hostile response from growing without bound.
  EXPECT_FALSE(IndentJson(std::string(100000, '[') + std::string(100000, ']')).has_value());
}

TEST(IndentJsonBoundsTest, InputAndOutputSizesAreBounded) {
  IndentOptions options;
  options.maxInput = 10;
  EXPECT_TRUE(IndentJson("[1,2,3,4]", options).has_value());
  EXPECT_FALSE(IndentJson("[1,2,3,4,5]", options).has_value());
  options = IndentOptions{};
  options.maxOutput = 16;
  EXPECT_TRUE(IndentJson("[1,2]", options).has_value());
  EXPECT_FALSE(IndentJson("[1,2,3,4,5,6,7]", options).has_value());
}

TEST(IndentJsonBoundsTest, DoubleByteTrailBytesStayWithTheirLeadByte) {
  // In Shift_JIS the trail byte of U+8868 is 0x5C, a backslash in ASCII.
  const std::string text = "[\"\x95\\\",\"b\"]";
  IndentOptions options;
  options.isLeadByte = [](unsigned char byte) { return byte >= 0x81 && byte <= 0x9F; };
  const auto got = IndentJson(text, options);
  ASSERT_TRUE(got.has_value());
  EXPECT_EQ(*got, "[\n  \"\x95\\\",\n  \"b\"\n]");
  // Read as single bytes, the same text has an unterminated string and is left alone.
  EXPECT_FALSE(IndentJson(text).has_value());
}

TEST(ShortenTokenTest, ShowsOnlyTheEnds) {
  EXPECT_EQ(ShortenToken("sbx_0123456789abcdef0123456789abcdef"), "sbx_01...cdef");
  EXPECT_EQ(ShortenToken("0123456789abcdef"), "012345...cdef");
  EXPECT_EQ(ShortenToken("0123456789abcde"), "012...");
  EXPECT_EQ(ShortenToken("01234567"), "012...");
  EXPECT_EQ(ShortenToken("0123456"), "...");
  EXPECT_EQ(ShortenToken(""), "...");
  EXPECT_EQ(ShortenToken("token with spaces inside it"), "(not shown)");
  EXPECT_EQ(ShortenToken("t\xC3\xA9token-0123456789"), "(not shown)");
}

}  // namespace
}  // namespace tessora::cli
