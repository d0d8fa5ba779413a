// A complete TessoraNet session in C++: configure, mask the secrets in the traffic log (the
// setting "log.secrets"), AUTHORIZE, create a charge and read it back, then an operation the
// endpoint file does not name, caught as the header says (on Linux a failure leaves TessoraNet()
// as a C++ exception derived from std::exception), and once more through the extension
// TessoraNetTry, which hands the message back instead.
//
// Settings come from the environment: TESSORA_ENVIRONMENT (e.g. "127.0.0.1:PORT/" for
// tessora-sandbox), TESSORA_ENDPOINTS (default "endpoints.json"), TESSORA_CLIENT_ID and
// TESSORA_CLIENT_SECRET (default the sandbox's). The output holds no token, and the charge's
// creation time is masked, so it can be compared with expected-output.txt.
#include <cstdlib>
#include <exception>
#include <iostream>
#include <regex>
#include <string>

#include "TessoraNet.h"

namespace {

std::string Setting(const char* name, const std::string& fallback) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' ? value : fallback;
}

// Copies a result buffer into a std::string and releases it.
std::string Take(char* buffer) {
  std::string text = buffer != nullptr ? buffer : "";
  TessoraNetFree(buffer);
  return text;
}

std::string Call(const std::string& operation, const std::string& parameters = "",
                 const std::string& query = "", const std::string& body = "") {
  return Take(TessoraNet(operation.c_str(), parameters.c_str(), query.c_str(), body.c_str()));
}

std::string LastError() {
  char* reason = nullptr;
  TessoraNetLastError(&reason);
  return Take(reason);
}

std::string Masked(const std::string& response) {
  static const std::regex kCreated(R"("created":\d+)");
  return std::regex_replace(response, kCreated, "\"created\":<time>");
}

}  // namespace

int main() {
  const std::string environment = Setting("TESSORA_ENVIRONMENT", "");
  if (environment.empty()) {
    std::cerr << "set TESSORA_ENVIRONMENT, e.g. 127.0.0.1:PORT/ for tessora-sandbox\n";
    return 2;
  }
  std::cout << "TessoraNet " << TessoraNetVersion() << '\n';

  ConfigureService(Setting("TESSORA_CLIENT_ID", "sandbox-client").c_str(),
                   Setting("TESSORA_CLIENT_SECRET", "sandbox-secret").c_str(), environment.c_str(),
                   Setting("TESSORA_ENDPOINTS", "endpoints.json").c_str(), "");
  ConfigureProxy("", 0, "", "");  // no proxy

  // A library setting from code: "Call Logs.txt" then shows secrets and tokens masked.
  char* secrets = nullptr;
  if (TessoraNetSetOption("log.secrets", "masked") == 0 ||
      TessoraNetGetOption("log.secrets", &secrets) == 0) {
    std::cout << "log.secrets: refused: " << LastError() << '\n';
    return 1;
  }
  std::cout << "log.secrets: " << Take(secrets) << '\n';

  try {
    Call("AUTHORIZE");
    const int status = TessoraNetLastStatus();
    if (status == 0) {
      std::cout << "AUTHORIZE: no answer: " << LastError() << '\n';
      return 1;
    }
    char* token = nullptr;
    TessoraNetGetInstanceData(&token);
    std::cout << "AUTHORIZE: HTTP " << status
              << ", token received: " << (Take(token).empty() ? "no" : "yes")
              << ", expired: " << ((TessoraNetTokenExpired() & 0xFF) != 0 ? "yes" : "no") << '\n';

    const std::string charge =
        Call("CHARGE_CREATE", "", "",
             R"({"amount": 1250, "currency": "EUR", "description": "Order 1042"})");
    std::cout << "CHARGE_CREATE: HTTP " << TessoraNetLastStatus() << "\n  " << Masked(charge)
              << '\n';
    std::smatch match;
    const std::string id = std::regex_search(charge, match, std::regex(R"re("id":"([^"]*)")re"))
                               ? match[1].str()
                               : std::string();

    const std::string detail = Call("CHARGE_DETAIL", "id=" + id);
    std::cout << "CHARGE_DETAIL id=" << id << ": HTTP " << TessoraNetLastStatus() << "\n  "
              << Masked(detail) << '\n';

    // An operation the endpoint file does not name: a failure inside the library.
    Call("REFUND_CREATE", "id=" + id);
    std::cout << "REFUND_CREATE: unexpectedly performed\n";
  } catch (const std::exception& failure) {
    std::cout << "REFUND_CREATE: caught std::exception: " << failure.what() << '\n';
  }
  std::cout << "  last status: " << TessoraNetLastStatus() << ", last error: " << LastError()
            << '\n';

  // The same through the extension: no exception, the message comes back as the result.
  char* result = nullptr;
  const bool performed = TessoraNetTry("REFUND_CREATE", "", "", "", &result) != 0;
  std::cout << "REFUND_CREATE with TessoraNetTry: " << (performed ? "performed: " : "failed: ")
            << Take(result) << '\n';
  std::cout << "done\n";
  return 0;
}
