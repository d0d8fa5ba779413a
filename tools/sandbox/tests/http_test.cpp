// HTTP framing: request heads as the library sends them, targets under the API prefix, and
// the response layout. Also the JSON reader's strictness.
#include <gtest/gtest.h>

#include <string>

#include "http.h"
#include "json.h"

namespace tessora::sandbox {
namespace {

std::optional<HttpRequest> Parse(const std::string& head, HeadError& error) {
  return ParseRequestHead(head, error);
}

TEST(HttpTest, FindHeadEndAcceptsCrLfAndBareLf) {
  EXPECT_EQ(FindHeadEnd("GET / HTTP/1.1\r\nHost: x\r\n\r\nbody"), 27u);
  EXPECT_EQ(FindHeadEnd("GET / HTTP/1.1\nHost: x\n\nbody"), 24u);
  EXPECT_EQ(FindHeadEnd("\r\nGET / HTTP/1.1\r\n\r\n"), 20u);
  EXPECT_EQ(FindHeadEnd("GET / HTTP/1.1\r\nHost: x\r\n"), std::string::npos);
  EXPECT_EQ(FindHeadEnd(""), std::string::npos);
}

TEST(HttpTest, ParsesTheLibrarysPost) {
  // HTTP/1.0 and no Connection header, as the library sends POST.
  HeadError error{};
  const auto request = Parse(
      "POST /api.tessora.net/v1/charges HTTP/1.0\r\nContent-Type: application/json\r\n"
      "Content-Length: 42\r\napi-sdk: delphi-3.1.0\r\nHost: 127.0.0.1:8443\r\n"
      "Accept: application/json\r\nUser-Agent: Mozilla/5.0 (Windows NT 6.1; Win64; x64; rv:47.0)"
      "\r\nAuthorization: Bearer sbx_1\r\n\r\n",
      error);
  ASSERT_TRUE(request.has_value()) << error.message;
  EXPECT_EQ(request->method, "POST");
  EXPECT_EQ(request->target, "/api.tessora.net/v1/charges");
  EXPECT_TRUE(request->http10);
  EXPECT_EQ(request->contentLength, 42u);
  EXPECT_FALSE(request->keepAlive);
  EXPECT_EQ(request->Header("authorization"), "Bearer sbx_1");
  EXPECT_EQ(request->Header("API-SDK"), "delphi-3.1.0");
  EXPECT_FALSE(request->Header("Cookie").has_value());
}

TEST(HttpTest, KeepAliveFollowsTheVersionAndConnectionHeader) {
  const std::pair<const char*, bool> cases[] = {
      {"GET / HTTP/1.1\r\n\r\n", true},
      {"GET / HTTP/1.1\r\nConnection: close\r\n\r\n", false},
      {"GET / HTTP/1.1\r\nconnection: Upgrade, CLOSE\r\n\r\n", false},
      {"GET / HTTP/1.0\r\n\r\n", false},
      {"GET / HTTP/1.0\r\nConnection: keep-alive\r\n\r\n", true},
      {"GET / HTTP/1.0\r\nConnection: Keep-Alive \r\n\r\n", true},
  };
  for (const auto& [head, keep_alive] : cases) {
    HeadError error{};
    const auto request = Parse(head, error);
    ASSERT_TRUE(request.has_value()) << head;
    EXPECT_EQ(request->keepAlive, keep_alive) << head;
  }
}

TEST(HttpTest, TargetsMayHoldSpacesFromUnencodedRouteValues) {
  HeadError error{};
  const auto request = Parse("GET /api.tessora.net/v1/charges/a b HTTP/1.1\n\n", error);
  ASSERT_TRUE(request.has_value());
  EXPECT_EQ(request->target, "/api.tessora.net/v1/charges/a b");
}

TEST(HttpTest, RefusesHeadsItCannotServe) {
  const std::pair<std::string, int> cases[] = {
      {"GET\r\n\r\n", 400},
      {"GET /\r\n\r\n", 400},
      {"get / HTTP/1.1\r\n\r\n", 400},
      {"GET x HTTP/1.1\r\n\r\n", 400},
      {"GET / HTTP/2.0\r\n\r\n", 505},
      {"GET / FTP/1.0\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nNoColon\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\n: empty name\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nName : spaced\r\n\r\n", 400},
      {"GET / HTTP/1.1\r\nA: 1\r\n folded\r\n\r\n", 400},
      {"POST / HTTP/1.1\r\nContent-Length: x\r\n\r\n", 400},
      {"POST / HTTP/1.1\r\nContent-Length: -1\r\n\r\n", 400},
      {"POST / HTTP/1.1\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\n", 400},
      {"POST / HTTP/1.1\r\nContent-Length: 1048577\r\n\r\n", 413},
      {"POST / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n", 501},
  };
  for (const auto& [head, status] : cases) {
    HeadError error{};
    EXPECT_FALSE(Parse(head, error).has_value()) << head;
    EXPECT_EQ(error.status, status) << head;
  }
  std::string many = "GET / HTTP/1.1\r\n";
  for (int i = 0; i < 101; ++i)
    many += "X-" + std::to_string(i) + ": 1\r\n";
  HeadError error{};
  EXPECT_FALSE(Parse(many + "\r\n", error).has_value());
  EXPECT_EQ(error.status, 431);
  HeadError sameLength{};
  EXPECT_TRUE(
      Parse("POST / HTTP/1.1\r\nContent-Length: 3\r\ncontent-length: 3\r\n\r\n", sameLength));
}

TEST(HttpTest, SplitTargetUnderThePrefix) {
  std::string route;
  Fields query;
  ASSERT_TRUE(
      SplitTarget("/api.tessora.net/v1/charges?limit=2&offset=0&name=Ana%20Maria&a=1+1"
                  "&flag&%22q=a&b%22",
                  "/api.tessora.net", route, query));
  EXPECT_EQ(route, "/v1/charges");
  EXPECT_EQ(query, (Fields{{"limit", "2"},
                           {"offset", "0"},
                           {"name", "Ana Maria"},
                           {"a", "1+1"},
                           {"flag", ""},
                           {"\"q", "a"},
                           {"b\"", ""}}));
  ASSERT_TRUE(SplitTarget("/api.tessora.net/v1/charges/ch%5F1", "/api.tessora.net", route, query));
  EXPECT_EQ(route, "/v1/charges/ch_1");
  EXPECT_TRUE(query.empty());
  ASSERT_TRUE(SplitTarget("/api.tessora.net", "/api.tessora.net", route, query));
  EXPECT_EQ(route, "");
  EXPECT_FALSE(SplitTarget("/v1/charges", "/api.tessora.net", route, query));
  EXPECT_FALSE(SplitTarget("/api.tessora.network/v1", "/api.tessora.net", route, query));
}

TEST(HttpTest, PercentDecodeLeavesBrokenEscapes) {
  EXPECT_EQ(PercentDecode("%C3%A9%2525"), "\xC3\xA9%25");
  EXPECT_EQ(PercentDecode("%"), "%");
  EXPECT_EQ(PercentDecode("%4"), "%4");
  EXPECT_EQ(PercentDecode("%zz%41"), "%zzA");
}

TEST(HttpTest, ResponsesCarryJsonCharsetLengthAndConnection) {
  const ApiResponse response{422, "{\"e\":\"\xC3\xA9\"}", {{"Allow", "GET"}}};
  EXPECT_EQ(SerializeResponse(response, true),
            "HTTP/1.1 422 Unprocessable Content\r\n"
            "Content-Type: application/json; charset=utf-8\r\nContent-Length: 10\r\n"
            "Connection: keep-alive\r\nServer: tessora-sandbox\r\nAllow: GET\r\n\r\n"
            "{\"e\":\"\xC3\xA9\"}");
  EXPECT_NE(SerializeResponse(ApiResponse{201, "{}", {}}, false).find("HTTP/1.1 201 Created\r\n"),
            std::string::npos);
  EXPECT_NE(SerializeResponse(ApiResponse{201, "{}", {}}, false).find("Connection: close\r\n"),
            std::string::npos);
}

TEST(JsonTest, ReadsStrictJson) {
  std::string error;
  const auto value = json::Parse(
      " {\"a\": [1, -0.5e+3, true, false, null], \"s\": \"\\u00e9\\ud83d\\ude00\\n\\/\"} ", error);
  ASSERT_TRUE(value.has_value()) << error;
  EXPECT_EQ(value->Find("a")->items.size(), 5u);
  EXPECT_EQ(value->Find("a")->items[1].text, "-0.5e+3");
  EXPECT_EQ(value->Find("s")->text, "\xC3\xA9\xF0\x9F\x98\x80\n/");
  for (const char* bad : {"", "{", "[1,]", "01", "1.", "-", "tru", "\"\\x\"", "\"\\ud800\"",
                          "\"\\udc00\"", "\"a\nb\"", "\"\xC0\xAF\"", "\"\xED\xA0\x80\"",
                          "\"\xF4\x90\x80\x80\"", "{\"a\" 1}", "[1] [2]"}) {
    EXPECT_FALSE(json::Parse(bad, error).has_value()) << bad;
  }
  EXPECT_TRUE(json::Parse(std::string(32, '[') + std::string(32, ']'), error).has_value());
  EXPECT_FALSE(json::Parse(std::string(33, '[') + std::string(33, ']'), error).has_value());
  EXPECT_EQ(error.find("nesting too deep"), 0u);
}

TEST(JsonTest, QuoteEscapesAndKeepsOutputValidUtf8) {
  EXPECT_EQ(json::Quote("a\"b\\c\n\r\t\x01\x7F"), "\"a\\\"b\\\\c\\n\\r\\t\\u0001\\u007f\"");
  EXPECT_EQ(json::Quote("\xC3\xA9\xF0\x9F\x98\x80"), "\"\xC3\xA9\xF0\x9F\x98\x80\"");
  EXPECT_EQ(json::Quote("a\xFF"
                        "b\xC3"),
            "\"a\\ufffdb\\ufffd\"");
}

}  // namespace
}  // namespace tessora::sandbox
