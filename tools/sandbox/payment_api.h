// The sandbox's little payment API: OAuth client credentials, and charges kept in memory.
// Works on decoded requests, without sockets, so it can be tested directly.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tessora::sandbox {

using Fields = std::vector<std::pair<std::string, std::string>>;

struct ApiRequest {
  std::string method;
  std::string route;  // the path after the API prefix, percent-decoded: "/v1/charges/ch_1"
  Fields query;       // decoded name/value pairs, in order
  std::optional<std::string> authorization;  // the Authorization header
  std::string body;
};

struct ApiResponse {
  int status = 200;
  std::string body;  // JSON
  Fields headers;    // beyond Content-Type and Content-Length
};

struct ApiSettings {
  std::string clientId = "sandbox-client";
  std::string clientSecret = "sandbox-secret";
  std::int64_t tokenLifetimeSeconds = 3600;
  std::size_t maxCharges = 10000;
  std::size_t maxTokens = 1000;
  // The clock for token expiry; tests set their own.
  std::function<std::chrono::steady_clock::time_point()> now = &std::chrono::steady_clock::now;
};

class PaymentApi {
 public:
  explicit PaymentApi(ApiSettings settings);

  // Answers one request; safe to call from several threads at once.
  ApiResponse Handle(const ApiRequest& request);

 private:
  struct Charge {
    std::string id;
    std::int64_t amount = 0;
    std::string currency;
    std::optional<std::string> description;
    std::string status;
    std::int64_t created = 0;
  };

  ApiResponse Authorize(const ApiRequest& request);
  std::optional<ApiResponse> CheckBearer(const ApiRequest& request);
  ApiResponse CreateCharge(const ApiRequest& request);
  ApiResponse ListCharges(const ApiRequest& request);
  ApiResponse ReadCharge(const std::string& id);
  ApiResponse CancelCharge(const std::string& id);
  Charge* FindCharge(const std::string& id);
  static std::string ChargeJson(const Charge& charge);

  ApiSettings settings_;
  std::mutex mutex_;
  std::map<std::string, std::chrono::steady_clock::time_point> tokens_;
  std::deque<std::string> tokenOrder_;  // oldest first, to bound the token table
  std::vector<Charge> charges_;
};

}  // namespace tessora::sandbox
