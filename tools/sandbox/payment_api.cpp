#include "payment_api.h"

#include <openssl/crypto.h>
#include <openssl/rand.h>

#include <cstdio>
#include <stdexcept>

#include "base64.h"
#include "json.h"

namespace tessora::sandbox {

namespace {

constexpr std::int64_t kMaxAmount = 99999999;  // minor units
constexpr std::size_t kMaxDescription = 255;   // bytes of UTF-8
constexpr std::int64_t kMaxLimit = 100;
constexpr std::int64_t kDefaultLimit = 10;
constexpr std::int64_t kMaxOffset = 1000000000;

ApiResponse Json(int status, std::string body, Fields headers = {}) {
  return ApiResponse{status, std::move(body), std::move(headers)};
}

// The error object of the API resources.
ApiResponse Error(int status, const std::string& type, const std::string& message,
                  const std::string& param = "", Fields headers = {}) {
  std::string body =
      "{\"error\":{\"type\":" + json::Quote(type) + ",\"message\":" + json::Quote(message);
  if (!param.empty()) body += ",\"param\":" + json::Quote(param);
  return Json(status, body + "}}", std::move(headers));
}

// The error object of the token endpoint (OAuth 2.0).
ApiResponse OAuthError(int status, const std::string& error, const std::string& description,
                       Fields headers = {}) {
  headers.emplace_back("Cache-Control", "no-store");
  return Json(status,
              "{\"error\":" + json::Quote(error) +
                  ",\"error_description\":" + json::Quote(description) + "}",
              std::move(headers));
}

ApiResponse MethodNotAllowed(const std::string& allow) {
  return Error(405, "method_not_allowed", "This route answers " + allow, "", {{"Allow", allow}});
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Splits "Scheme credentials" of an Authorization header.
std::pair<std::string, std::string> SplitAuthorization(const std::string& value) {
  const std::size_t space = value.find(' ');
  if (space == std::string::npos) return {value, ""};
  std::size_t start = space;
  while (start < value.size() && value[start] == ' ')
    ++start;
  return {value.substr(0, space), value.substr(start)};
}

bool SameSecret(const std::string& given, const std::string& expected) {
  return given.size() == expected.size() &&
         CRYPTO_memcmp(given.data(), expected.data(), given.size()) == 0;
}

std::string NewToken() {
  unsigned char random[24];
  if (RAND_bytes(random, sizeof random) != 1) throw std::runtime_error("RAND_bytes failed");
  static const char kHex[] = "0123456789abcdef";
  std::string token = "sbx_";
  for (unsigned char byte : random) {
    token += kHex[byte >> 4];
    token += kHex[byte & 0xF];
  }
  return token;
}

// A whole number written without sign, fraction or exponent, within [0, max].
std::optional<std::int64_t> Count(const std::string& text, std::int64_t max) {
  if (text.empty() || text.size() > 10) return std::nullopt;
  std::int64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value > max) return std::nullopt;
  return value;
}

std::optional<std::string> QueryValue(const Fields& query, const std::string& name) {
  for (const auto& field : query) {
    if (field.first == name) return field.second;
  }
  return std::nullopt;
}

bool IsCurrencyCode(const std::string& text) {
  if (text.size() != 3) return false;
  for (char c : text) {
    if (c < 'A' || c > 'Z') return false;
  }
  return true;
}

std::string IdFromPath(const std::string& rest, bool& cancel) {
  // rest is what follows "/v1/charges/": "<id>" or "<id>/cancel"
  cancel = false;
  const std::size_t slash = rest.find('/');
  if (slash == std::string::npos) return rest;
  if (rest.substr(slash) == "/cancel") {
    cancel = true;
    return rest.substr(0, slash);
  }
  return "";
}

}  // namespace

PaymentApi::PaymentApi(ApiSettings settings) : settings_(std::move(settings)) {}

ApiResponse PaymentApi::Handle(const ApiRequest& request) {
  const std::string& route = request.route;
  const std::string& method = request.method;
  if (route == "/v1/oauth/token") {
    if (method != "POST") return MethodNotAllowed("POST");
    return Authorize(request);
  }
  static const std::string kCharges = "/v1/charges";
  if (route == kCharges || route == kCharges + "/") {
    if (method != "POST" && method != "GET") return MethodNotAllowed("GET, POST");
    if (auto refused = CheckBearer(request)) return *refused;
    return method == "POST" ? CreateCharge(request) : ListCharges(request);
  }
  if (route.rfind(kCharges + "/", 0) == 0) {
    bool cancel = false;
    const std::string id = IdFromPath(route.substr(kCharges.size() + 1), cancel);
    if (!id.empty()) {
      if (cancel && method != "POST") return MethodNotAllowed("POST");
      if (!cancel && method != "GET" && method != "DELETE") return MethodNotAllowed("GET, DELETE");
      if (auto refused = CheckBearer(request)) return *refused;
      if (cancel || method == "DELETE") return CancelCharge(id);
      return ReadCharge(id);
    }
  }
  return Error(404, "not_found",
               "No route " + method + " " + route +
                   " (routes: /v1/oauth/token, /v1/charges, /v1/charges/:id, "
                   "/v1/charges/:id/cancel)");
}

ApiResponse PaymentApi::Authorize(const ApiRequest& request) {
  const Fields challenge = {{"WWW-Authenticate", "Basic realm=\"tessora-sandbox\""}};
  if (!request.authorization) {
    return OAuthError(401, "invalid_client", "Client authentication required (HTTP basic)",
                      challenge);
  }
  const auto [scheme, credentials] = SplitAuthorization(*request.authorization);
  const std::optional<std::string> decoded =
      EqualsIgnoringCase(scheme, "Basic") ? tools::DecodeBase64(credentials) : std::nullopt;
  const std::size_t colon = decoded ? decoded->find(':') : std::string::npos;
  if (colon == std::string::npos || !SameSecret(decoded->substr(0, colon), settings_.clientId) ||
      !SameSecret(decoded->substr(colon + 1), settings_.clientSecret)) {
    return OAuthError(401, "invalid_client", "Client authentication failed", challenge);
  }
  if (!request.body.empty()) {
    std::string error;
    const auto body = json::Parse(request.body, error);
    if (!body || body->type != json::Value::Type::kObject) {
      return OAuthError(400, "invalid_request", "The body must be a JSON object or empty");
    }
    const json::Value* grant = body->Find("grant_type");
    if (grant != nullptr &&
        (grant->type != json::Value::Type::kString || grant->text != "client_credentials")) {
      return OAuthError(400, "unsupported_grant_type", "Only client_credentials is supported");
    }
  }
  const std::string token = NewToken();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    while (tokens_.size() >= settings_.maxTokens && !tokenOrder_.empty()) {
      tokens_.erase(tokenOrder_.front());
      tokenOrder_.pop_front();
    }
    tokens_[token] = settings_.now() + std::chrono::seconds(settings_.tokenLifetimeSeconds);
    tokenOrder_.push_back(token);
  }
  return Json(200,
              "{\"access_token\":" + json::Quote(token) +
                  ",\"token_type\":\"Bearer\",\"expires_in\":" +
                  std::to_string(settings_.tokenLifetimeSeconds) + "}",
              {{"Cache-Control", "no-store"}});
}

std::optional<ApiResponse> PaymentApi::CheckBearer(const ApiRequest& request) {
  const auto refuse = [](const std::string& message, const std::string& challenge) {
    return Error(401, "unauthorized", message, "", {{"WWW-Authenticate", challenge}});
  };
  if (!request.authorization) {
    return refuse("Missing bearer token: perform AUTHORIZE first",
                  "Bearer realm=\"tessora-sandbox\"");
  }
  const auto [scheme, token] = SplitAuthorization(*request.authorization);
  const std::string invalid = "Bearer realm=\"tessora-sandbox\", error=\"invalid_token\"";
  if (!EqualsIgnoringCase(scheme, "Bearer")) {
    return refuse("The Authorization header must carry a bearer token", invalid);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  const auto found = tokens_.find(token);
  if (found == tokens_.end()) return refuse("Unknown access token", invalid);
  if (settings_.now() >= found->second) return refuse("The access token has expired", invalid);
  return std::nullopt;
}

ApiResponse PaymentApi::CreateCharge(const ApiRequest& request) {
  if (request.body.empty()) {
    return Error(422, "invalid_request", "A JSON body with amount and currency is required");
  }
  std::string error;
  const auto body = json::Parse(request.body, error);
  if (!body) return Error(400, "invalid_json", "The body is not valid JSON: " + error);
  if (body->type != json::Value::Type::kObject) {
    return Error(422, "invalid_request", "The body must be a JSON object");
  }
  Charge charge;
  const json::Value* amount = body->Find("amount");
  if (amount == nullptr || amount->type == json::Value::Type::kNull) {
    return Error(422, "invalid_request", "amount is required", "amount");
  }
  const std::string digits = amount->text.substr(0, 1) == "-" ? "" : amount->text;
  const auto value =
      amount->type == json::Value::Type::kNumber ? Count(digits, kMaxAmount) : std::nullopt;
  if (!value || *value == 0) {
    return Error(422, "invalid_request",
                 "amount must be a whole number of minor units (cents) from 1 to 99999999",
                 "amount");
  }
  charge.amount = *value;
  const json::Value* currency = body->Find("currency");
  if (currency == nullptr || currency->type == json::Value::Type::kNull) {
    return Error(422, "invalid_request", "currency is required", "currency");
  }
  if (currency->type != json::Value::Type::kString || !IsCurrencyCode(currency->text)) {
    return Error(422, "invalid_request",
                 "currency must be a three-letter ISO 4217 code in capitals, such as \"EUR\"",
                 "currency");
  }
  charge.currency = currency->text;
  const json::Value* description = body->Find("description");
  if (description != nullptr && description->type != json::Value::Type::kNull) {
    if (description->type != json::Value::Type::kString ||
        description->text.size() > kMaxDescription) {
      return Error(422, "invalid_request", "description must be a text of at most 255 bytes",
                   "description");
    }
    charge.description = description->text;
  }
  charge.status = "authorized";
  charge.created = std::chrono::duration_cast<std::chrono::seconds>(
                       std::chrono::system_clock::now().time_since_epoch())
                       .count();
  std::lock_guard<std::mutex> lock(mutex_);
  if (charges_.size() >= settings_.maxCharges) {
    return Error(503, "unavailable",
                 "The sandbox holds its maximum of charges; restart it to start afresh");
  }
  char id[32];
  std::snprintf(id, sizeof id, "ch_%08zu", charges_.size() + 1);
  charge.id = id;
  charges_.push_back(charge);
  return Json(201, ChargeJson(charge));
}

ApiResponse PaymentApi::ListCharges(const ApiRequest& request) {
  std::int64_t limit = kDefaultLimit;
  std::int64_t offset = 0;
  if (const auto text = QueryValue(request.query, "limit")) {
    const auto value = Count(*text, kMaxLimit);
    if (!value || *value == 0) {
      return Error(422, "invalid_request", "limit must be a whole number from 1 to 100", "limit");
    }
    limit = *value;
  }
  if (const auto text = QueryValue(request.query, "offset")) {
    const auto value = Count(*text, kMaxOffset);
    if (!value) {
      return Error(422, "invalid_request", "offset must be a whole number of 0 or more", "offset");
    }
    offset = *value;
  }
  const auto status = QueryValue(request.query, "status");
  if (status && *status != "authorized" && *status != "canceled") {
    return Error(422, "invalid_request", "status must be authorized or canceled", "status");
  }
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<const Charge*> matching;
  for (const Charge& charge : charges_) {
    if (!status || charge.status == *status) matching.push_back(&charge);
  }
  std::string data;
  const auto total = static_cast<std::int64_t>(matching.size());
  for (std::int64_t i = offset; i < total && i < offset + limit; ++i) {
    if (!data.empty()) data += ',';
    data += ChargeJson(*matching[static_cast<std::size_t>(i)]);
  }
  return Json(200,
              "{\"object\":\"list\",\"data\":[" + data + "],\"total\":" + std::to_string(total) +
                  ",\"limit\":" + std::to_string(limit) + ",\"offset\":" + std::to_string(offset) +
                  ",\"has_more\":" + (offset + limit < total ? "true" : "false") + "}");
}

PaymentApi::Charge* PaymentApi::FindCharge(const std::string& id) {
  for (Charge& charge : charges_) {
    if (charge.id == id) return &charge;
  }
  return nullptr;
}

ApiResponse PaymentApi::ReadCharge(const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex_);
  const Charge* charge = FindCharge(id);
  if (charge == nullptr) return Error(404, "not_found", "No charge with id \"" + id + "\"", "id");
  return Json(200, ChargeJson(*charge));
}

ApiResponse PaymentApi::CancelCharge(const std::string& id) {
  std::lock_guard<std::mutex> lock(mutex_);
  Charge* charge = FindCharge(id);
  if (charge == nullptr) return Error(404, "not_found", "No charge with id \"" + id + "\"", "id");
  if (charge->status == "canceled") {
    return Error(409, "invalid_state", "Charge " + id + " is already canceled");
  }
  charge->status = "canceled";
  return Json(200, ChargeJson(*charge));
}

std::string PaymentApi::ChargeJson(const Charge& charge) {
  return "{\"id\":" + json::Quote(charge.id) +
         ",\"object\":\"charge\",\"amount\":" + std::to_string(charge.amount) +
         ",\"currency\":" + json::Quote(charge.currency) +
         ",\"description\":" + (charge.description ? json::Quote(*charge.description) : "null") +
         ",\"status\":" + json::Quote(charge.status) +
         ",\"created\":" + std::to_string(charge.created) + "}";
}

}  // namespace tessora::sandbox
