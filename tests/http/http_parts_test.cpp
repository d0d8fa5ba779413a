// Table tests of the pieces the exchange is made of: URL parts, status codes, content types,
// credentials, the charset table and the charset declarations inside bodies.
#include <gtest/gtest.h>

#include "base/text.h"
#include "http/charset/body_charset.h"
#include "http/charset/charset.h"
#include "http/compose.h"
#include "http/message.h"
#include "http/url.h"

namespace tessora {
namespace {

struct UrlCase {
  std::u16string url;
  std::u16string host;
  int port;
  std::u16string hostValue;
  std::u16string destination;
  std::u16string target;
};

class UrlParts : public ::testing::TestWithParam<UrlCase> {};

TEST_P(UrlParts, ReadsHostPortAndTarget) {
  const UrlCase& c = GetParam();
  const HttpUrl url = HttpUrl::Parse(c.url);
  EXPECT_EQ(url.host, c.host);
  EXPECT_EQ(url.Port(), c.port);
  EXPECT_EQ(url.HostValue(), c.hostValue);
  EXPECT_EQ(url.Destination(), c.destination);
  EXPECT_EQ(url.Target(), c.target);
}

INSTANTIATE_TEST_SUITE_P(
    Table, UrlParts,
    ::testing::Values(
        UrlCase{u"https://api.tessora.net/v1/items", u"api.tessora.net", 443, u"api.tessora.net",
                u"api.tessora.net:443", u"/v1/items"},
        UrlCase{u"https://api.tessora.net", u"api.tessora.net", 443, u"api.tessora.net",
                u"api.tessora.net:443", u"/"},
        UrlCase{u"https://h:8443/a/b/c?x=1#f", u"h", 8443, u"h:8443", u"h:8443", u"/a/b/c?x=1"},
        UrlCase{u"https://h?x=/y#z", u"h", 443, u"h", u"h:443", u"/?x=/y"},
        UrlCase{u"https://h/a?#frag", u"h", 443, u"h", u"h:443", u"/a"},
        UrlCase{u"https://u:p:q@w@h:1/x", u"h", 1, u"h:1", u"h:1", u"/x"},
        UrlCase{u"https://[2001:db8::1]/x", u"2001:db8::1", 443, u"[2001:db8::1]",
                u"[2001:db8::1]:443", u"/x"},
        UrlCase{u"https://[::1]:0443/x", u"::1", 443, u"[::1]:0443", u"[::1]:443", u"/x"},
        UrlCase{u"https:\\\\h\\a\\b?c\\d", u"h", 443, u"h", u"h:443", u"/a/b?c\\d"},
        UrlCase{u"http://h/x", u"h", 80, u"h", u"h:80", u"/x"},
        UrlCase{u"http://h:443/x", u"h", 443, u"h:443", u"h:443", u"/x"},
        UrlCase{u"https://h:80/x", u"h", 80, u"h:80", u"h:80", u"/x"},
        UrlCase{u"https://h:99999/x", u"h", 0, u"h:99999", u"h:0", u"/x"},
        UrlCase{u"https://h:abc/x", u"h", 0, u"h:abc", u"h:0", u"/x"},
        UrlCase{u"https://h:/x", u"h", 443, u"h", u"h:443", u"/x"},
        UrlCase{u"https:///x", u"", 443, u"", u":443", u"/x"}));

TEST(UrlParts, UserPartIsSplitAtItsFirstColon) {
  const HttpUrl url = HttpUrl::Parse(u"https://al:i:ce@h/x");
  EXPECT_EQ(url.username, u"al");
  EXPECT_EQ(url.password, u"i:ce");
  EXPECT_EQ(url.path, u"/");
  EXPECT_EQ(url.document, u"x");
}

struct CodeCase {
  std::u16string statusLine;
  int code;
};

class ResponseCodes : public ::testing::TestWithParam<CodeCase> {};

TEST_P(ResponseCodes, ComeFromTheSecondWord) {
  EXPECT_EQ(HttpResponse::ParseResponseCode(GetParam().statusLine), GetParam().code);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ResponseCodes,
    ::testing::Values(CodeCase{u"HTTP/1.1 200 OK", 200}, CodeCase{u"HTTP/1.0 404", 404},
                      CodeCase{u"HTTP/1.1   302.7 Found", 302}, CodeCase{u"HTTP/1.1 2x0 OK", -1},
                      CodeCase{u"HTTP/1.1", -1}, CodeCase{u"", -1},
                      CodeCase{u"HTTP/1.1 -200 OK", -1}, CodeCase{u"HTTP/1.1 99999999999 OK", -1},
                      CodeCase{u"X 007", 7}));

struct ContentTypeCase {
  std::u16string header;
  std::u16string contentType;
  std::u16string charSet;
};

class ContentTypes : public ::testing::TestWithParam<ContentTypeCase> {};

TEST_P(ContentTypes, SplitOffTheCharset) {
  std::u16string contentType, charSet;
  SplitContentType(GetParam().header, contentType, charSet);
  EXPECT_EQ(contentType, GetParam().contentType);
  EXPECT_EQ(charSet, GetParam().charSet);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ContentTypes,
    ::testing::Values(
        ContentTypeCase{u"application/json", u"application/json", u""},
        ContentTypeCase{u"application/json; charset=utf-8", u"application/json", u"utf-8"},
        ContentTypeCase{u"text/html;Charset=\"UTF-8\";level=1", u"text/html; level=1", u"UTF-8"},
        ContentTypeCase{u"text/plain", u"text/plain", u"ISO-8859-1"},
        ContentTypeCase{u"TEXT/XML", u"TEXT/XML", u"us-ascii"},
        ContentTypeCase{u"text/xml-external-parsed-entity", u"text/xml-external-parsed-entity",
                        u"us-ascii"},
        ContentTypeCase{u"text/svg+xml", u"text/svg+xml", u"us-ascii"},
        ContentTypeCase{u"application/xml", u"application/xml", u""},
        ContentTypeCase{u"multipart/mixed; boundary=\"a;b\"", u"multipart/mixed; boundary=\"a;b\"",
                        u""}));

TEST(Credentials, AreBasicAndBase64) {
  EXPECT_EQ(Base64Encode(""), "");
  EXPECT_EQ(Base64Encode("f"), "Zg==");
  EXPECT_EQ(Base64Encode("fo"), "Zm8=");
  EXPECT_EQ(Base64Encode("foo"), "Zm9v");
  EXPECT_EQ(Base64Encode("\xFF\xFE\xFD"), "//79");
  EXPECT_EQ(BasicCredentials(u" Aladdin\t", u"open sesame\r\n"),
            u"Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
  EXPECT_EQ(BasicCredentials(u"", u""), u"Basic Og==");
  EXPECT_EQ(BasicCredentials(u"\u00E9", u"\u20AC"), u"Basic 6To/");
}

TEST(Credentials, AreBuiltOncePerProxySettings) {
  ProxySettings proxy;
  proxy.proxyUsername = u"a";
  proxy.proxyPassword = u"b";
  const std::u16string first = ProxyAuthorization(proxy);
  proxy.proxyUsername = u"changed";
  EXPECT_EQ(ProxyAuthorization(proxy), first);
}

struct CharSetCase {
  std::u16string name;
  unsigned codePage;
};

class CharSetTable : public ::testing::TestWithParam<CharSetCase> {};

TEST_P(CharSetTable, MapsNamesToCodePages) {
  EXPECT_EQ(CodePageOfCharSet(GetParam().name), GetParam().codePage);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CharSetTable,
    ::testing::Values(CharSetCase{u"UTF-8", 65001}, CharSetCase{u"utf-8", 65001},
                      CharSetCase{u" utf-8 ", 65001}, CharSetCase{u"utf8", 0},
                      CharSetCase{u"UTF-7", 65000}, CharSetCase{u"UTF-16", 1200},
                      CharSetCase{u"UTF-16LE", 1200}, CharSetCase{u"UTF-16BE", 1201},
                      CharSetCase{u"US-ASCII", 20127}, CharSetCase{u"ANSI_X3.4-1968", 20127},
                      CharSetCase{u"latin1", 28591}, CharSetCase{u"ISO_8859-1:1987", 28591},
                      CharSetCase{u"windows-1252", 1252}, CharSetCase{u"Shift_JIS", 932},
                      CharSetCase{u"MS_Kanji", 932}, CharSetCase{u"KOI8-R", 20866},
                      CharSetCase{u"GB2312", 936}, CharSetCase{u"Big5", 950},
                      CharSetCase{u"ISO-8859-10", 0}, CharSetCase{u"", 0},
                      CharSetCase{u"\u00E9", 0}, CharSetCase{u"zzz", 0}));

TEST(BodyToText, DecodesEachWay) {
  EXPECT_EQ(BodyToText("\xC3\xA9", u"UTF-8"), u"\u00E9");
  EXPECT_EQ(BodyToText("\xC3\xA9", u""), u"\u00C3\u00A9");
  EXPECT_EQ(BodyToText("a\x80", u"us-ascii"), u"a\uFFFD");
  EXPECT_EQ(BodyToText(std::string("a\0b\0", 4), u"UTF-16LE"), u"ab");
  EXPECT_EQ(BodyToText(std::string("\0a\0", 3), u"UTF-16BE"), u"a\uFFFD");
  EXPECT_EQ(BodyToText("+AGEAYgBj-x", u"UTF-7"), u"abcx");
  EXPECT_EQ(BodyToText("1 +- 2 +ZeVnLIqe-.", u"UTF-7"), u"1 + 2 \u65E5\u672C\u8A9E.");
  EXPECT_EQ(BodyToText("+2D3eAA-", u"UTF-7"), u"\U0001F600");
  EXPECT_EQ(BodyToText("\x80", u"windows-1252"), u"\u20AC");
}

struct DeclarationCase {
  std::string body;
  std::u16string charSet;
};

class HtmlMeta : public ::testing::TestWithParam<DeclarationCase> {};

TEST_P(HtmlMeta, NamesTheCharset) {
  EXPECT_EQ(HtmlMetaCharSet(GetParam().body), GetParam().charSet);
}

INSTANTIATE_TEST_SUITE_P(
    Table, HtmlMeta,
    ::testing::Values(
        DeclarationCase{"<meta charset=\"utf-8\">", u"utf-8"},
        DeclarationCase{"<META CHARSET=koi8-r />", u"koi8-r"},
        DeclarationCase{"<meta\tcharset = ' latin1 ' >", u"latin1"},
        DeclarationCase{"<meta http-equiv=content-type content='text/html;charset=big5'>", u"big5"},
        DeclarationCase{"<meta content=\"text/html; charset=x\" http-equiv=\"Content-Type\">",
                        u"x"},
        DeclarationCase{"<meta http-equiv=refresh content='text/html; charset=x'>", u""},
        DeclarationCase{"<metadata charset=x>", u""}, DeclarationCase{"<meta charset=", u""},
        DeclarationCase{"<meta charset=\"unterminated", u"unterminated"},
        DeclarationCase{"<meta name=a><meta charset=b>", u"b"},
        DeclarationCase{"<meta charset=UTF-16BE>", u"UTF-8"}, DeclarationCase{"", u""},
        DeclarationCase{std::string(70000, ' ') + "<meta charset=late>", u""}));

class XmlDeclaration : public ::testing::TestWithParam<DeclarationCase> {};

TEST_P(XmlDeclaration, NamesTheEncoding) {
  EXPECT_EQ(XmlCharSet(GetParam().body), GetParam().charSet);
}

INSTANTIATE_TEST_SUITE_P(
    Table, XmlDeclaration,
    ::testing::Values(DeclarationCase{"<?xml version=\"1.0\" encoding=\"koi8-r\"?><a/>", u"koi8-r"},
                      DeclarationCase{"<?xml version='1.0' encoding = 'x' ?>", u"x"},
                      DeclarationCase{"<?xml version='1.0'?><a encoding='no'/>", u"UTF-8"},
                      DeclarationCase{"<?xml encoding=''?>", u"UTF-8"},
                      DeclarationCase{"\xEF\xBB\xBF<?xml encoding='latin1'?>", u"UTF-8"},
                      DeclarationCase{"\xFE\xFF", u"UTF-16BE"},
                      DeclarationCase{std::string("<\0?\0x\0", 6), u"UTF-16LE"},
                      DeclarationCase{std::string("\0<\0?", 4), u"UTF-16BE"},
                      DeclarationCase{"<a/>", u"UTF-8"}, DeclarationCase{"", u"UTF-8"}));

}  // namespace
}  // namespace tessora
