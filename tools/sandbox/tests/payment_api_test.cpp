// The payment API itself, request in, response out: credentials, tokens, charges and errors.
#include <gtest/gtest.h>

#include <string>

#include "json.h"
#include "payment_api.h"
#include "tls_client.h"

namespace tessora::sandbox {
namespace {

using test::BasicCredentials;

class PaymentApiTest : public ::testing::Test {
 protected:
  PaymentApiTest() : api_(Settings()) {}

  ApiSettings Settings() {
    ApiSettings settings;
    settings.clientId = "cid";
    settings.clientSecret = "secret";
    settings.maxCharges = 7;
    settings.maxTokens = 3;
    settings.now = [this] { return now_; };
    return settings;
  }

  ApiResponse Call(const std::string& method, const std::string& route,
                   const std::string& body = "", Fields query = {}) {
    ApiRequest request{method, route, std::move(query), std::nullopt, body};
    if (!token_.empty()) request.authorization = "Bearer " + token_;
    return api_.Handle(request);
  }

  void Authorize() {
    ApiRequest request{"POST", "/v1/oauth/token", {}, BasicCredentials("cid", "secret"), ""};
    const ApiResponse response = api_.Handle(request);
    ASSERT_EQ(response.status, 200) << response.body;
    token_ = Member(response.body, "access_token");
  }

  static json::Value Parse(const std::string& body) {
    std::string error;
    auto value = json::Parse(body, error);
    EXPECT_TRUE(value.has_value()) << error << ": " << body;
    return value.value_or(json::Value{});
  }

  static std::string Member(const std::string& body, const std::string& name) {
    const json::Value value = Parse(body);
    const json::Value* member = value.Find(name);
    return member != nullptr ? member->text : "(absent)";
  }

  static std::string ErrorMember(const std::string& body, const std::string& name) {
    const json::Value value = Parse(body);
    const json::Value* error = value.Find("error");
    const json::Value* member = error != nullptr ? error->Find(name) : nullptr;
    return member != nullptr ? member->text : "(absent)";
  }

  std::chrono::steady_clock::time_point now_ = std::chrono::steady_clock::time_point{};
  PaymentApi api_;
  std::string token_;
};

TEST_F(PaymentApiTest, AuthorizeHandsOutABearerToken) {
  ApiRequest request{"POST", "/v1/oauth/token", {}, BasicCredentials("cid", "secret"), ""};
  const ApiResponse response = api_.Handle(request);
  EXPECT_EQ(response.status, 200);
  const json::Value body = Parse(response.body);
  ASSERT_EQ(body.members.size(), 3u);
  EXPECT_EQ(body.Find("access_token")->text.substr(0, 4), "sbx_");
  EXPECT_EQ(body.Find("access_token")->text.size(), 52u);
  EXPECT_EQ(body.Find("token_type")->text, "Bearer");
  EXPECT_EQ(body.Find("expires_in")->text, "3600");
  EXPECT_EQ(response.headers, (Fields{{"Cache-Control", "no-store"}}));
  // Each request gets its own token.
  EXPECT_NE(Member(api_.Handle(request).body, "access_token"), body.Find("access_token")->text);
}

TEST_F(PaymentApiTest, AuthorizeAcceptsAClientCredentialsGrantInTheBody) {
  ApiRequest request{"POST",
                     "/v1/oauth/token",
                     {},
                     "basic " + BasicCredentials("cid", "secret").substr(6),
                     "{\"grant_type\": \"client_credentials\"}"};
  EXPECT_EQ(api_.Handle(request).status, 200);
  request.body = "{\"grant_type\": \"password\"}";
  const ApiResponse refused = api_.Handle(request);
  EXPECT_EQ(refused.status, 400);
  EXPECT_EQ(Member(refused.body, "error"), "unsupported_grant_type");
  request.body = "grant_type=client_credentials";
  EXPECT_EQ(api_.Handle(request).status, 400);
}

TEST_F(PaymentApiTest, AuthorizeRefusesWrongCredentials) {
  const std::optional<std::string> cases[] = {
      std::nullopt,
      BasicCredentials("cid", "wrong"),
      BasicCredentials("other", "secret"),
      BasicCredentials("cid", "secret2"),
      BasicCredentials("cid", ""),
      "Basic " + BasicCredentials("cid", "secret").substr(6, 8),  // cut base64
      "Basic Y2lkc2VjcmV0",                                       // "cidsecret": no colon
      "Basic !!!!",
      "Bearer " + BasicCredentials("cid", "secret").substr(6),
      "Basic",
  };
  for (const auto& authorization : cases) {
    ApiRequest request{"POST", "/v1/oauth/token", {}, authorization, ""};
    const ApiResponse response = api_.Handle(request);
    EXPECT_EQ(response.status, 401) << authorization.value_or("(none)");
    EXPECT_EQ(Member(response.body, "error"), "invalid_client");
    EXPECT_EQ(response.headers.front().first, "WWW-Authenticate");
  }
}

TEST_F(PaymentApiTest, ChargeRoutesNeedAValidBearerToken) {
  for (const char* route : {"/v1/charges", "/v1/charges/ch_00000001"}) {
    EXPECT_EQ(Call("GET", route).status, 401);
    token_ = "sbx_unknown";
    const ApiResponse unknown = Call("GET", route);
    EXPECT_EQ(unknown.status, 401);
    EXPECT_EQ(ErrorMember(unknown.body, "message"), "Unknown access token");
    token_.clear();
  }
  ApiRequest basic{"GET", "/v1/charges", {}, BasicCredentials("cid", "secret"), ""};
  EXPECT_EQ(api_.Handle(basic).status, 401);
}

TEST_F(PaymentApiTest, TokensExpireAfterTheirLifetime) {
  Authorize();
  now_ += std::chrono::seconds(3599);
  EXPECT_EQ(Call("GET", "/v1/charges").status, 200);
  now_ += std::chrono::seconds(1);
  const ApiResponse expired = Call("GET", "/v1/charges");
  EXPECT_EQ(expired.status, 401);
  EXPECT_EQ(ErrorMember(expired.body, "message"), "The access token has expired");
}

TEST_F(PaymentApiTest, TheOldestTokensMakeRoomForNewOnes) {
  Authorize();
  const std::string first = token_;
  Authorize();
  Authorize();
  Authorize();  // the table holds three
  EXPECT_EQ(Call("GET", "/v1/charges").status, 200);
  token_ = first;
  EXPECT_EQ(Call("GET", "/v1/charges").status, 401);
}

TEST_F(PaymentApiTest, CreateReadAndCancelACharge) {
  Authorize();
  const ApiResponse created =
      Call("POST", "/v1/charges",
           R"({"amount": 1250, "currency": "EUR", "description": "Caf\u00e9 \"Rio\""})");
  ASSERT_EQ(created.status, 201) << created.body;
  const json::Value charge = Parse(created.body);
  EXPECT_EQ(charge.Find("id")->text, "ch_00000001");
  EXPECT_EQ(charge.Find("object")->text, "charge");
  EXPECT_EQ(charge.Find("amount")->text, "1250");
  EXPECT_EQ(charge.Find("currency")->text, "EUR");
  EXPECT_EQ(charge.Find("description")->text, "Caf\xC3\xA9 \"Rio\"");
  EXPECT_EQ(charge.Find("status")->text, "authorized");
  EXPECT_EQ(charge.Find("created")->type, json::Value::Type::kNumber);

  const ApiResponse read = Call("GET", "/v1/charges/ch_00000001");
  EXPECT_EQ(read.status, 200);
  EXPECT_EQ(read.body, created.body);

  const ApiResponse canceled = Call("POST", "/v1/charges/ch_00000001/cancel");
  EXPECT_EQ(canceled.status, 200);
  EXPECT_EQ(Member(canceled.body, "status"), "canceled");
  const ApiResponse again = Call("DELETE", "/v1/charges/ch_00000001");
  EXPECT_EQ(again.status, 409);
  EXPECT_EQ(ErrorMember(again.body, "type"), "invalid_state");
  EXPECT_EQ(Member(Call("GET", "/v1/charges/ch_00000001").body, "status"), "canceled");

  Call("POST", "/v1/charges", R"({"amount": 1, "currency": "USD", "description": null})");
  const ApiResponse deleted = Call("DELETE", "/v1/charges/ch_00000002");
  EXPECT_EQ(deleted.status, 200);
  EXPECT_EQ(Member(deleted.body, "status"), "canceled");
  EXPECT_EQ(Parse(deleted.body).Find("description")->type, json::Value::Type::kNull);
}

TEST_F(PaymentApiTest, UnknownChargesAreNotFound) {
  Authorize();
  for (const auto& [method, route] :
       {std::pair{"GET", "/v1/charges/ch_00000009"}, std::pair{"DELETE", "/v1/charges/x"},
        std::pair{"POST", "/v1/charges/:id/cancel"}}) {
    const ApiResponse response = Call(method, route);
    EXPECT_EQ(response.status, 404) << route;
    EXPECT_EQ(ErrorMember(response.body, "type"), "not_found");
    EXPECT_EQ(ErrorMember(response.body, "param"), "id");
  }
  // A placeholder the host did not fill shows up in the message as it arrived.
  EXPECT_EQ(ErrorMember(Call("GET", "/v1/charges/:id").body, "message"),
            "No charge with id \":id\"");
}

TEST_F(PaymentApiTest, InvalidChargesAreRefusedWithTheFieldAtFault) {
  Authorize();
  const std::pair<std::string, const char*> cases[] = {
      {"", ""},
      {"[1]", ""},
      {R"({"currency": "EUR"})", "amount"},
      {R"({"amount": null, "currency": "EUR"})", "amount"},
      {R"({"amount": 0, "currency": "EUR"})", "amount"},
      {R"({"amount": -5, "currency": "EUR"})", "amount"},
      {R"({"amount": 12.5, "currency": "EUR"})", "amount"},
      {R"({"amount": 1e3, "currency": "EUR"})", "amount"},
      {R"({"amount": "100", "currency": "EUR"})", "amount"},
      {R"({"amount": 100000000, "currency": "EUR"})", "amount"},
      {R"({"amount": 99999999999999999999, "currency": "EUR"})", "amount"},
      {R"({"amount": 100})", "currency"},
      {R"({"amount": 100, "currency": "eur"})", "currency"},
      {R"({"amount": 100, "currency": "EURO"})", "currency"},
      {R"({"amount": 100, "currency": 978})", "currency"},
      {R"({"amount": 100, "currency": "EUR", "description": 5})", "description"},
      {R"({"amount": 100, "currency": "EUR", "description": ")" + std::string(256, 'x') + "\"}",
       "description"},
  };
  for (const auto& [body, param] : cases) {
    const ApiResponse response = Call("POST", "/v1/charges", body);
    EXPECT_EQ(response.status, 422) << body;
    EXPECT_EQ(ErrorMember(response.body, "type"), "invalid_request") << body;
    EXPECT_EQ(ErrorMember(response.body, "param"), *param ? param : "(absent)") << body;
  }
  EXPECT_EQ(Call("GET", "/v1/charges").body.find("ch_"), std::string::npos);  // none stored
}

TEST_F(PaymentApiTest, MalformedJsonIsABadRequest) {
  Authorize();
  for (const char* body : {"{", "{\"amount\": 1,}", "{'amount': 1}", "{\"a\":1,\"a\":2}",
                           "{\"amount\": 1} x", "\xFF"}) {
    const ApiResponse response = Call("POST", "/v1/charges", body);
    EXPECT_EQ(response.status, 400) << body;
    EXPECT_EQ(ErrorMember(response.body, "type"), "invalid_json");
  }
}

TEST_F(PaymentApiTest, ListPagesThroughTheCharges) {
  Authorize();
  for (int i = 1; i <= 5; ++i) {
    Call("POST", "/v1/charges",
         "{\"amount\": " + std::to_string(i * 100) + ", \"currency\": \"EUR\"}");
  }
  Call("DELETE", "/v1/charges/ch_00000002");
  const auto ids = [&](Fields query) {
    const ApiResponse response = Call("GET", "/v1/charges", "", std::move(query));
    EXPECT_EQ(response.status, 200) << response.body;
    const json::Value list = Parse(response.body);
    std::string result = list.Find("total")->text + ":";
    for (const json::Value& item : list.Find("data")->items)
      result += item.Find("id")->text + ",";
    return result + (list.Find("has_more")->boolean ? "more" : "end");
  };
  EXPECT_EQ(ids({}), "5:ch_00000001,ch_00000002,ch_00000003,ch_00000004,ch_00000005,end");
  EXPECT_EQ(ids({{"limit", "2"}}), "5:ch_00000001,ch_00000002,more");
  EXPECT_EQ(ids({{"limit", "2"}, {"offset", "2"}}), "5:ch_00000003,ch_00000004,more");
  EXPECT_EQ(ids({{"offset", "4"}, {"limit", "2"}}), "5:ch_00000005,end");
  EXPECT_EQ(ids({{"offset", "9"}}), "5:end");
  EXPECT_EQ(ids({{"status", "canceled"}}), "1:ch_00000002,end");
  EXPECT_EQ(ids({{"status", "authorized"}, {"limit", "1"}, {"offset", "3"}}), "4:ch_00000005,end");
  EXPECT_EQ(ids({{"unknown", "x"}}).substr(0, 2), "5:");

  const std::pair<Fields, const char*> invalid[] = {
      {{{"limit", "0"}}, "limit"},     {{{"limit", "101"}}, "limit"},
      {{{"limit", "-1"}}, "limit"},    {{{"limit", "ten"}}, "limit"},
      {{{"limit", ""}}, "limit"},      {{{"offset", "-1"}}, "offset"},
      {{{"offset", "1.5"}}, "offset"}, {{{"status", "paid"}}, "status"},
  };
  for (const auto& [query, param] : invalid) {
    const ApiResponse response = Call("GET", "/v1/charges", "", query);
    EXPECT_EQ(response.status, 422) << query.front().first << "=" << query.front().second;
    EXPECT_EQ(ErrorMember(response.body, "param"), param);
  }
}

TEST_F(PaymentApiTest, TheStoreIsBounded) {
  Authorize();
  for (int i = 0; i < 7; ++i) {
    EXPECT_EQ(Call("POST", "/v1/charges", R"({"amount": 1, "currency": "EUR"})").status, 201);
  }
  const ApiResponse full = Call("POST", "/v1/charges", R"({"amount": 1, "currency": "EUR"})");
  EXPECT_EQ(full.status, 503);
}

TEST_F(PaymentApiTest, WrongMethodsAndUnknownRoutes) {
  Authorize();
  const std::tuple<const char*, const char*, int, const char*> cases[] = {
      {"GET", "/v1/oauth/token", 405, "POST"},
      {"PUT", "/v1/charges", 405, "GET, POST"},
      {"POST", "/v1/charges/ch_1", 405, "GET, DELETE"},
      {"GET", "/v1/charges/ch_1/cancel", 405, "POST"},
      {"GET", "/v1/refunds", 404, ""},
      {"GET", "/v1/charges/ch_1/refunds", 404, ""},
      {"GET", "", 404, ""},
  };
  for (const auto& [method, route, status, allow] : cases) {
    const ApiResponse response = Call(method, route);
    EXPECT_EQ(response.status, status) << method << " " << route;
    if (*allow != '\0') {
      EXPECT_EQ(response.headers, (Fields{{"Allow", allow}})) << method << " " << route;
    }
  }
}

}  // namespace
}  // namespace tessora::sandbox
