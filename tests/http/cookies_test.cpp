// The cookie store: which Set-Cookie values are kept and which stored cookies go to a URL.
#include "http/cookies.h"

#include <gtest/gtest.h>

#include <cmath>

#include "base/text.h"
#include "platform/clock.h"

namespace tessora {
namespace {

DateTime gNow = 0;
DateTime TestNow() {
  return gNow;
}

class CookieStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    gNow = *EncodeDateTime({2025, 6, 15, 12, 0, 0, 0});
    platform::SetTestClock(&TestNow);
  }
  void TearDown() override { platform::SetTestClock(nullptr); }

  std::u16string SendTo(const std::u16string& url) {
    return store_.CookieHeader(HttpUrl::Parse(url));
  }
  void Set(const std::u16string& setCookie,
           const std::u16string& url = u"https://api.tessora.net/v1/items/1") {
    store_.Add(setCookie, HttpUrl::Parse(url));
  }

  tessora::CookieStore store_;
};

TEST_F(CookieStoreTest, HostOnlyCookieGoesToItsHostAlone) {
  Set(u"a=1");
  EXPECT_EQ(SendTo(u"https://api.tessora.net/v1/items/2"), u"a=1");
  EXPECT_EQ(SendTo(u"https://API.Tessora.net/v1/items/"), u"a=1");
  EXPECT_EQ(SendTo(u"https://x.api.tessora.net/v1/items/2"), u"");
  EXPECT_EQ(SendTo(u"https://tessora.net/v1/items/2"), u"");
}

TEST_F(CookieStoreTest, DefaultPathIsTheDirectoryOfTheRequest) {
  Set(u"a=1");
  EXPECT_EQ(SendTo(u"https://api.tessora.net/v1/items"), u"a=1");
  EXPECT_EQ(SendTo(u"https://api.tessora.net/v1/items/x/y"), u"a=1");
  EXPECT_EQ(SendTo(u"https://api.tessora.net/v1/itemsx"), u"");
  EXPECT_EQ(SendTo(u"https://api.tessora.net/v1/"), u"");
}

TEST_F(CookieStoreTest, DomainCookieGoesToSubdomains) {
  Set(u"a=1; Domain=.Tessora.NET; Path=/");
  EXPECT_EQ(SendTo(u"https://sandbox.tessora.net/x"), u"a=1");
  EXPECT_EQ(SendTo(u"https://tessora.net/x"), u"a=1");
  EXPECT_EQ(SendTo(u"https://nottessora.net/x"), u"");
}

TEST_F(CookieStoreTest, CookieForAnotherSiteIsRefused) {
  Set(u"a=1; Domain=example.com");
  Set(u"b=1; Domain=sandbox.api.tessora.net");
  EXPECT_EQ(store_.Count(), 0u);
}

TEST_F(CookieStoreTest, PathAttributeLimitsTheCookie) {
  Set(u"a=1; Path=/v2");
  Set(u"b=2; Path=/v1/");
  Set(u"c=3; Path=relative");
  EXPECT_EQ(SendTo(u"https://api.tessora.net/v2"), u"a=1");
  EXPECT_EQ(SendTo(u"https://api.tessora.net/v2/x"), u"a=1");
  EXPECT_EQ(SendTo(u"https://api.tessora.net/v1/items/q"), u"c=3; b=2");
}

TEST_F(CookieStoreTest, SecureCookiesGoOnlyOverHttps) {
  Set(u"a=1; Secure; HttpOnly; Path=/");
  EXPECT_EQ(SendTo(u"https://api.tessora.net/x"), u"a=1");
  EXPECT_EQ(SendTo(u"http://api.tessora.net/x"), u"");
}

TEST_F(CookieStoreTest, SameNameDomainAndPathReplaces) {
  Set(u"a=1; Path=/");
  Set(u"a=2; Path=/");
  Set(u"a=3; Path=/v1");
  EXPECT_EQ(SendTo(u"https://api.tessora.net/v1/x"), u"a=3; a=2");
}

TEST_F(CookieStoreTest, ExpiryInThePastDeletes) {
  Set(u"a=1; Path=/");
  Set(u"b=1; Path=/");
  Set(u"a=x; Path=/; Expires=Thu, 01 Jan 1970 00:00:00 GMT");
  Set(u"b=x; Path=/; Max-Age=0");
  Set(u"c=1; Path=/; Max-Age=-5");
  EXPECT_EQ(SendTo(u"https://api.tessora.net/"), u"");
}

TEST_F(CookieStoreTest, CookiesExpireWithTime) {
  Set(u"a=1; Path=/; Max-Age=60");
  Set(u"b=1; Path=/; Expires=Sun, 15 Jun 2025 14:00:00 GMT");
  Set(u"c=1; Path=/; Expires=Sun, 15-Jun-2099 14:00:00 GMT; Max-Age=1");
  EXPECT_EQ(SendTo(u"https://api.tessora.net/"), u"a=1; b=1; c=1");
  gNow += 120.0 / 86400;
  EXPECT_EQ(SendTo(u"https://api.tessora.net/"), u"b=1");
  gNow += 2;
  EXPECT_EQ(SendTo(u"https://api.tessora.net/"), u"");
}

// At the very moment of its expiry a cookie has expired: it is sent until just before.
TEST_F(CookieStoreTest, ACookieIsNotSentAtItsExactExpiry) {
  const DateTime start = gNow;
  Set(u"a=1; Path=/; Max-Age=60");
  gNow = start + 60 / 86400.0;  // the expiry as the store computes it
  EXPECT_EQ(SendTo(u"https://api.tessora.net/"), u"");
  gNow = std::nextafter(gNow, 0.0);
  EXPECT_EQ(SendTo(u"https://api.tessora.net/"), u"a=1");
}

// An address has no parent domain: "Domain=2.3" set by 10.1.2.3 would reach every host whose
// address ends in .2.3.
TEST_F(CookieStoreTest, ADomainCookieIsRefusedForAnIpAddressHost) {
  Set(u"a=1; Domain=1.2.3; Path=/", u"https://10.1.2.3/x");
  Set(u"b=1; Domain=0.1.2.3; Path=/", u"https://10.1.2.3/x");
  EXPECT_EQ(store_.Count(), 0u);
  Set(u"c=1; Domain=10.1.2.3; Path=/", u"https://10.1.2.3/x");  // the host itself: allowed
  EXPECT_EQ(SendTo(u"https://10.1.2.3/"), u"c=1");
  EXPECT_EQ(SendTo(u"https://110.1.2.3/"), u"");
}

TEST_F(CookieStoreTest, MalformedCookiesAreIgnored) {
  Set(u"novalue");
  Set(u"=1");
  Set(u" ; a=1");
  Set(u"big=" + std::u16string(5000, u'x'));
  EXPECT_EQ(store_.Count(), 0u);
  Set(u" a = 1 ; Max-Age=abc; Expires=never");
  EXPECT_EQ(SendTo(u"https://api.tessora.net/v1/items/"), u"a=1");
}

TEST_F(CookieStoreTest, CookiesWithControlCharactersAreIgnored) {
  Set(u"a=1\rHost: elsewhere.example");
  Set(u"b=1\nX-Injected: 1");
  Set(u"c=1; Path=/\x01");
  Set(u"d=1\x7f");
  Set(std::u16string(u"e=\0", 3));
  EXPECT_EQ(store_.Count(), 0u);
  Set(u"f=1;\tPath=/");  // a tab is a blank
  EXPECT_EQ(SendTo(u"https://api.tessora.net/"), u"f=1");
}

TEST_F(CookieStoreTest, HoldsABoundedNumberOfCookies) {
  for (int i = 0; i < 80; ++i)
    Set(u"c" + IntToText(i) + u"=1");
  EXPECT_EQ(store_.Count(), tessora::CookieStore::kMaxCookies);
}

TEST_F(CookieStoreTest, HeadersGiveEverySetCookieLine) {
  HeaderList headers;
  headers.Add(u"Set-Cookie", u"a=1");
  headers.Add(u"X-Other", u"b=2");
  headers.Add(u"set-cookie", u"c=3");
  store_.AddFromHeaders(headers, HttpUrl::Parse(u"https://api.tessora.net/x"));
  EXPECT_EQ(SendTo(u"https://api.tessora.net/x"), u"a=1; c=3");
}

struct DateCase {
  std::u16string text;
  bool valid;
  DateTimeParts utc;
};

class CookieDates : public ::testing::TestWithParam<DateCase> {};

TEST_P(CookieDates, AreRead) {
  DateTimeParts utc;
  ASSERT_EQ(ParseCookieDate(GetParam().text, utc), GetParam().valid);
  if (!GetParam().valid) return;
  EXPECT_EQ(utc.year, GetParam().utc.year);
  EXPECT_EQ(utc.month, GetParam().utc.month);
  EXPECT_EQ(utc.day, GetParam().utc.day);
  EXPECT_EQ(utc.hour, GetParam().utc.hour);
  EXPECT_EQ(utc.minute, GetParam().utc.minute);
  EXPECT_EQ(utc.second, GetParam().utc.second);
}

INSTANTIATE_TEST_SUITE_P(
    Table, CookieDates,
    ::testing::Values(DateCase{u"Wed, 21 Oct 2015 07:28:00 GMT", true, {2015, 10, 21, 7, 28, 0, 0}},
                      DateCase{
                          u"Wednesday, 21-Oct-15 07:28:00 GMT", true, {2015, 10, 21, 7, 28, 0, 0}},
                      DateCase{u"Wed Oct 21 07:28:00 2015", true, {2015, 10, 21, 7, 28, 0, 0}},
                      DateCase{u"Thu, 01 Jan 70 00:00:00 GMT", true, {1970, 1, 1, 0, 0, 0, 0}},
                      DateCase{u"Wed, 31 Feb 2015 07:28:00 GMT", false, {}},
                      DateCase{u"Wed, 21 Oct 2015 25:28:00 GMT", false, {}},
                      DateCase{u"Wed, 21 Oct 2015", false, {}}, DateCase{u"", false, {}},
                      DateCase{u"21 Foo 2015 07:28:00", false, {}}));

}  // namespace
}  // namespace tessora
