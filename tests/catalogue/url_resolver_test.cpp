#include <gtest/gtest.h>

#include <string>

#include "base/text.h"
#include "catalogue/catalogue.h"

namespace tessora {
namespace {

// The base URL of a request: scheme, environment prefix and API host.
const std::string kB = "https://sandbox.api.tessora.net";

struct UrlCase {
  std::string before;
  std::string block;  // the host's parameter block, lines separated by CR LF
  std::string after;
};

std::string Route(const UrlCase& c) {
  return TextToUtf8(
      UrlResolver::ResolveUrlParameters(Utf8ToText(c.before), ParameterList(Utf8ToText(c.block))));
}

std::string Query(const UrlCase& c) {
  return TextToUtf8(UrlResolver::ResolveOptionalParameters(Utf8ToText(c.before),
                                                           ParameterList(Utf8ToText(c.block))));
}

std::string Describe(const UrlCase& c) {
  return "URL " + c.before + " with block " + testing::PrintToString(c.block);
}

TEST(ResolveUrlParametersTest, WorkedExamples) {
  const UrlCase cases[] = {
      {kB + "/api/items/:id", "id=42", kB + "/api/items/42"},
      {kB + "/api/items/:id", "ID=42", kB + "/api/items/42"},
      {kB + "/api/items/:id/links/:id", "id=42", kB + "/api/items/42/links/:id"},
      {kB + "/api/items/:id/links/:id", "id=42\r\nid=43", kB + "/api/items/42/links/42"},
      {kB + "/api/:id_x/:id", "id=1\r\nid_x=2", kB + "/api/1_x/:id"},
      {kB + "/api/:id_x/:id", "id_x=2\r\nid=1", kB + "/api/2/1"},
      {kB + "/api/items/:id", "id=a b", kB + "/api/items/a b"},
      {kB + "/api/items/:id", "id", kB + "/api/items/"},
      {kB + "/api/items", "id=42", kB + "/api/items"},
  };
  for (const UrlCase& c : cases)
    EXPECT_EQ(Route(c), c.after) << Describe(c);
}

TEST(ResolveUrlParametersTest, EdgeCases) {
  const UrlCase cases[] = {
      // The empty line's token is the lone colon: the scheme's colon goes, replaced by the value of
      // the first entry that begins with "=", or by nothing.
      {"https://h/api/:id", "\r\nid=1", "https//h/api/1"},
      {"https://h/api/:id", "id=1\r\n\r\n=v", "httpsv//h/api/1"},
      // A value holding ":name" of a later entry is searched by that entry.
      {kB + "/api/:a", "a=x/:b\r\nb=2", kB + "/api/x/2"},
      // An entry without "=" takes the value of a later entry of its name.
      {kB + "/api/:id", "id\r\nid=5", kB + "/api/5"},
      // The whole URL is searched, scheme and host included.
      {"https://h/api", "//h=x", "httpsx/api"},
      // Values go in as they are.
      {kB + "/api/:id", "id=%20?&#", kB + "/api/%20?&#"},
      // Non-ASCII letters match in any case, and upper-casing keeps positions.
      {kB + "/\xC3\x9F\xEF\xAC\x81/:\xC3\xA9tape", "\xC3\x89TAPE=1",
       kB + "/\xC3\x9F\xEF\xAC\x81/1"},
      {kB + "/api/:ID", "id=7\r\n", kB + "/api/7"},
      {kB + "/api/:id", "", kB + "/api/:id"},
  };
  for (const UrlCase& c : cases)
    EXPECT_EQ(Route(c), c.after) << Describe(c);
}

// A value holding its own placeholder is filled in again by every later entry of its name: a
// block of a few kilobytes would grow the URL to gigabytes. The entries stop once the URL is
// longer than the bound, and the URL is returned as it is then, for the caller to refuse.
TEST(ResolveUrlParametersTest, StopsOnceTheUrlIsLongerThanTheBound) {
  std::string block = "id=";
  for (int i = 0; i < 2000; ++i)
    block += ":id";
  for (int i = 0; i < 2000; ++i)
    block += "\r\nid";
  const std::string url = Route({kB + "/api/:id", block, ""});
  EXPECT_GT(url.size(), UrlResolver::kMaxResolvedUrl);
  // The last entry applied added at most one value more (6000 characters here).
  EXPECT_LE(url.size(), UrlResolver::kMaxResolvedUrl + 6000);

  // A URL that stays within the bound takes every entry.
  const std::string value(UrlResolver::kMaxResolvedUrl - kB.size() - 20, 'x');
  EXPECT_EQ(Route({kB + "/api/:a/:b", "a=" + value + "\r\nb=2", ""}), kB + "/api/" + value + "/2");
}

TEST(ResolveOptionalParametersTest, WorkedExamples) {
  const UrlCase cases[] = {
      {kB + "/api/items", "", kB + "/api/items"},
      {kB + "/api/items", "limit=10\r\noffset=0", kB + "/api/items?limit=10&offset=0"},
      {kB + "/api/items?x=1", "name=Ana Maria", kB + "/api/items?x=1&name=Ana%20Maria"},
      {kB + "/api/items", "note=\xC3\xA9", kB + "/api/items?note=%C3%A9"},
      {kB + "/api/items", "q=50%", kB + "/api/items?q=50%25"},
      {kB + "/api/items", "a=1+1", kB + "/api/items?a=1+1"},
      {kB + "/api/items", "q=a&b", kB + "/api/items?%22q=a&b%22"},
      {kB + "/api/items", "\r\n", kB + "/api/items?%22%22"},
      {kB + "/api/items", "a=1\r\n\r\n", kB + "/api/items?a=1&"},
  };
  for (const UrlCase& c : cases)
    EXPECT_EQ(Query(c), c.after) << Describe(c);
}

TEST(ResolveOptionalParametersTest, EdgeCases) {
  const UrlCase cases[] = {
      {kB + "/a", "v=%20", kB + "/a?v=%2520"},  // already encoded text is encoded again
      {kB + "/a", "q=a\"b", kB + "/a?%22q=a%22%22b%22"},
      {kB + "/a", "a=1\r\nq=\"x\"\r\nb=2", kB + "/a?a=1&%22q=%22%22x%22%22%22&b=2"},
      {kB + "/a", "a=1\r\n\r\nb=2", kB + "/a?a=1&&b=2"},
      {kB + "/a", "\r\n\r\n", kB + "/a?&"},
      {kB + "/a", "a=1\n\rb=2", kB + "/a?a=1&&b=2"},  // LF CR is two breaks
      {kB + "/a?", "a=1", kB + "/a?&a=1"},
      {"https://h/?x/a", "a=1", "https://h/?x/a&a=1"},
      // A surrogate pair is one character: U+1F600.
      {kB + "/a", "e=\xF0\x9F\x98\x80", kB + "/a?e=%F0%9F%98%80"},
      {kB + "/a", "c=\xE4\xB8\xAD", kB + "/a?c=%E4%B8%AD"},
      {kB + "/a", "t=a\tb", kB + "/a?t=a%09b"},
      {kB + "/a", "s= x ", kB + "/a?s=%20x%20"},
  };
  for (const UrlCase& c : cases)
    EXPECT_EQ(Query(c), c.after) << Describe(c);
}

TEST(ResolveOptionalParametersTest, EncodesExactlyTheFourteenCharactersAboveSpace) {
  // Every character from "!" to DEL in turn, as the value of one entry. '"' and '&' also make the
  // entry wrapped in double quotes, so they are left out here and checked above.
  const std::string encoded = "*<>#%{}|\\^[]`";
  for (char32_t c = 0x21; c <= 0x7F; ++c) {
    if (c == u'"' || c == u'&') continue;
    const std::string ch(1, static_cast<char>(c));
    std::string expected = ch;
    if (encoded.find(ch) != std::string::npos) {
      static const char kHex[] = "0123456789ABCDEF";
      expected = std::string("%") + kHex[c >> 4] + kHex[c & 15];
    }
    EXPECT_EQ(Query({"/a", "v=" + ch, ""}), "/a?v=" + expected) << "character " << ch;
  }
}

TEST(ResolveOptionalParametersTest, EncodesControlCharactersAndLoneSurrogates) {
  std::u16string block = u"v=";
  block += u'\x01';
  block += u'\x7F';
  block += u'\x80';
  block += u'\xD800';  // a lone surrogate goes out as U+FFFD
  block += u'x';
  EXPECT_EQ(TextToUtf8(UrlResolver::ResolveOptionalParameters(u"/a", ParameterList(block))),
            "/a?v=%01\x7F%C2%80%EF%BF%BDx");
}

}  // namespace
}  // namespace tessora
