#include <gtest/gtest.h>

#include <string>

#include "base/text.h"
#include "catalogue/catalogue.h"

namespace tessora {
namespace {

// The base URL of a request: scheme, environment prefix and API host.
const std::string B = "https://sandbox.api.tessora.net";

struct UrlCase {
  std::string Before;
  std::string Block;  // the host's parameter block, lines separated by CR LF
  std::string After;
};

std::string Route(const UrlCase& c) {
  return TextToUtf8(TUrlResolver::ResolveURLParameters(Utf8ToText(c.Before),
                                                       TParameterList(Utf8ToText(c.Block))));
}

std::string Query(const UrlCase& c) {
  return TextToUtf8(TUrlResolver::ResolveOptionalParameters(Utf8ToText(c.Before),
                                                            TParameterList(Utf8ToText(c.Block))));
}

std::string Describe(const UrlCase& c) {
  return "URL " + c.Before + " with block " + testing::PrintToString(c.Block);
}

TEST(ResolveURLParametersTest, WorkedExamples) {
  const UrlCase cases[] = {
      {B + "/api/items/:id", "id=42", B + "/api/items/42"},
      {B + "/api/items/:id", "ID=42", B + "/api/items/42"},
      {B + "/api/items/:id/links/:id", "id=42", B + "/api/items/42/links/:id"},
      {B + "/api/items/:id/links/:id", "id=42\r\nid=43", B + "/api/items/42/links/42"},
      {B + "/api/:id_x/:id", "id=1\r\nid_x=2", B + "/api/1_x/:id"},
      {B + "/api/:id_x/:id", "id_x=2\r\nid=1", B + "/api/2/1"},
      {B + "/api/items/:id", "id=a b", B + "/api/items/a b"},
      {B + "/api/items/:id", "id", B + "/api/items/"},
      {B + "/api/items", "id=42", B + "/api/items"},
  };
  for (const UrlCase& c : cases)
    EXPECT_EQ(Route(c), c.After) << Describe(c);
}

TEST(ResolveURLParametersTest, EdgeCases) {
  const UrlCase cases[] = {
      // The empty line's token is the lone colon: the scheme's colon goes, replaced by the value of
      // the first entry that begins with "=", or by nothing.
      {"https://h/api/:id", "\r\nid=1", "https//h/api/1"},
      {"https://h/api/:id", "id=1\r\n\r\n=v", "httpsv//h/api/1"},
      // A value holding ":name" of a later entry is searched by that entry.
      {B + "/api/:a", "a=x/:b\r\nb=2", B + "/api/x/2"},
      // An entry without "=" takes the value of a later entry of its name.
      {B + "/api/:id", "id\r\nid=5", B + "/api/5"},
      // The whole URL is searched, scheme and host included.
      {"https://h/api", "//h=x", "httpsx/api"},
      // Values go in as they are.
      {B + "/api/:id", "id=%20?&#", B + "/api/%20?&#"},
      // Non-ASCII letters match in any case, and upper-casing keeps positions.
      {B + "/\xC3\x9F\xEF\xAC\x81/:\xC3\xA9tape", "\xC3\x89TAPE=1", B + "/\xC3\x9F\xEF\xAC\x81/1"},
      {B + "/api/:ID", "id=7\r\n", B + "/api/7"},
      {B + "/api/:id", "", B + "/api/:id"},
  };
  for (const UrlCase& c : cases)
    EXPECT_EQ(Route(c), c.After) << Describe(c);
}

TEST(ResolveOptionalParametersTest, WorkedExamples) {
  const UrlCase cases[] = {
      {B + "/api/items", "", B + "/api/items"},
      {B + "/api/items", "limit=10\r\noffset=0", B + "/api/items?limit=10&offset=0"},
      {B + "/api/items?x=1", "name=Ana Maria", B + "/api/items?x=1&name=Ana%20Maria"},
      {B + "/api/items", "note=\xC3\xA9", B + "/api/items?note=%C3%A9"},
      {B + "/api/items", "q=50%", B + "/api/items?q=50%25"},
      {B + "/api/items", "a=1+1", B + "/api/items?a=1+1"},
      {B + "/api/items", "q=a&b", B + "/api/items?%22q=a&b%22"},
      {B + "/api/items", "\r\n", B + "/api/items?%22%22"},
      {B + "/api/items", "a=1\r\n\r\n", B + "/api/items?a=1&"},
  };
  for (const UrlCase& c : cases)
    EXPECT_EQ(Query(c), c.After) << Describe(c);
}

TEST(ResolveOptionalParametersTest, EdgeCases) {
  const UrlCase cases[] = {
      {B + "/a", "v=%20", B + "/a?v=%2520"},  // already encoded text is encoded again
      {B + "/a", "q=a\"b", B + "/a?%22q=a%22%22b%22"},
      {B + "/a", "a=1\r\nq=\"x\"\r\nb=2", B + "/a?a=1&%22q=%22%22x%22%22%22&b=2"},
      {B + "/a", "a=1\r\n\r\nb=2", B + "/a?a=1&&b=2"},
      {B + "/a", "\r\n\r\n", B + "/a?&"},
      {B + "/a", "a=1\n\rb=2", B + "/a?a=1&&b=2"},  // LF CR is two breaks
      {B + "/a?", "a=1", B + "/a?&a=1"},
      {"https://h/?x/a", "a=1", "https://h/?x/a&a=1"},
      // A surrogate pair is one character: U+1F600.
      {B + "/a", "e=\xF0\x9F\x98\x80", B + "/a?e=%F0%9F%98%80"},
      {B + "/a", "c=\xE4\xB8\xAD", B + "/a?c=%E4%B8%AD"},
      {B + "/a", "t=a\tb", B + "/a?t=a%09b"},
      {B + "/a", "s= x ", B + "/a?s=%20x%20"},
  };
  for (const UrlCase& c : cases)
    EXPECT_EQ(Query(c), c.After) << Describe(c);
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
  EXPECT_EQ(TextToUtf8(TUrlResolver::ResolveOptionalParameters(u"/a", TParameterList(block))),
            "/a?v=%01\x7F%C2%80%EF%BF%BDx");
}

}  // namespace
}  // namespace tessora
