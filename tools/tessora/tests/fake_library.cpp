// A stand-in for TessoraNet with the same five exports, for testing the command-line host where
// the real library cannot be made to act on demand: it echoes what it receives, fails on request
// the way the real library fails, and holds a token after AUTHORIZE.
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>

#include "TessoraNet.h"

#if defined(_WIN32)
#include <windows.h>
#define FAKE_EXPORT __declspec(dllexport)
#else
#define FAKE_EXPORT __attribute__((visibility("default")))
#endif

namespace {

struct Settings {
  std::string client_id, client_secret, environment, endpoints, partner_token;
  std::string proxy_host, proxy_user, proxy_password;
  int proxy_port = 0;
  std::string token;
};

Settings& State() {
  static Settings settings;
  return settings;
}

char* NewBuffer(const std::string& text) {
  char* buffer = static_cast<char*>(std::malloc(text.size() + 1));
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return buffer;
}

std::string Text(const char* text) {
  return text != nullptr ? text : "";
}

[[maybe_unused]] std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      out += c;
    }
  }
  return out + "\"";
}

[[noreturn, maybe_unused]] void Fail(const char* message) {
#if defined(_WIN32)
  const ULONG_PTR arguments[1] = {reinterpret_cast<ULONG_PTR>(message)};
  RaiseException(TESSORANET_FAILURE_CODE, EXCEPTION_NONCONTINUABLE, 1, arguments);
  std::abort();
#else
  throw std::runtime_error(message);
#endif
}

}  // namespace

extern "C" {

FAKE_EXPORT void TESSORANET_CALL ConfigureService(const char* ClientID, const char* ClientSecret,
                                                  const char* Environment,
                                                  const char* ConfigFileName,
                                                  const char* PartnerToken) {
  Settings& s = State();
  s.client_id = Text(ClientID);
  s.client_secret = Text(ClientSecret);
  s.environment = Text(Environment);
  s.endpoints = Text(ConfigFileName);
  s.partner_token = Text(PartnerToken);
}

FAKE_EXPORT void TESSORANET_CALL ConfigureProxy(const char* ProxyServer, int ProxyPort,
                                                const char* ProxyUserName,
                                                const char* ProxyPassword) {
  Settings& s = State();
  s.proxy_host = Text(ProxyServer);
  s.proxy_port = ProxyPort;
  s.proxy_user = Text(ProxyUserName);
  s.proxy_password = Text(ProxyPassword);
}

#if !defined(FAKE_WITHOUT_OPERATIONS)
FAKE_EXPORT char* TESSORANET_CALL TessoraNet(const char* EndPointOperation, const char* Parameters,
                                             const char* OptionalParameters, const char* Body) {
  const std::string operation = Text(EndPointOperation);
  Settings& s = State();
  if (operation == "FAIL") Fail("Problem in endpoint");
  if (operation == "EMPTY") return NewBuffer("");
  if (operation == "STATUS") return NewBuffer("HTTP/1.1 200 OK");
  if (operation == "TEXT") return NewBuffer("UNAUTHORIZED");
  if (operation == "AUTHORIZE") {
    s.token = "fake-access-token-0123456789";
    return NewBuffer("{\"access_token\":\"" + s.token +
                     "\",\"token_type\":\"Bearer\",\"expires_in\":3600}");
  }
  return NewBuffer("{\"operation\":" + JsonString(operation) +
                   ",\"parameters\":" + JsonString(Text(Parameters)) + ",\"query\":" +
                   JsonString(Text(OptionalParameters)) + ",\"body\":" + JsonString(Text(Body)) +
                   ",\"client_id\":" + JsonString(s.client_id) + ",\"client_secret\":" +
                   JsonString(s.client_secret) + ",\"environment\":" + JsonString(s.environment) +
                   ",\"endpoints\":" + JsonString(s.endpoints) +
                   ",\"partner_token\":" + JsonString(s.partner_token) +
                   ",\"proxy\":" + JsonString(s.proxy_host + ":" + std::to_string(s.proxy_port)) +
                   ",\"proxy_user\":" + JsonString(s.proxy_user) +
                   ",\"proxy_password\":" + JsonString(s.proxy_password) + ",\"empty\":{}}");
}
#endif

FAKE_EXPORT void TESSORANET_CALL TessoraNetGetInstanceData(char** AccessToken) {
  *AccessToken = NewBuffer(State().token);
}

FAKE_EXPORT unsigned char TESSORANET_CALL TessoraNetTokenExpired(void) {
  return State().token.empty() ? 1 : 0;
}

}  // extern "C"
