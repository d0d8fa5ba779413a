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
  std::string clientId, clientSecret, environment, endpoints, partnerToken;
  std::string proxyHost, proxyUser, proxyPassword;
  int proxyPort = 0;
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

FAKE_EXPORT void TESSORANET_CALL ConfigureService(const char* clientId, const char* clientSecret,
                                                  const char* environment,
                                                  const char* configFileName,
                                                  const char* partnerToken) {
  Settings& s = State();
  s.clientId = Text(clientId);
  s.clientSecret = Text(clientSecret);
  s.environment = Text(environment);
  s.endpoints = Text(configFileName);
  s.partnerToken = Text(partnerToken);
}

FAKE_EXPORT void TESSORANET_CALL ConfigureProxy(const char* proxyServer, int proxyPort,
                                                const char* proxyUserName,
                                                const char* proxyPassword) {
  Settings& s = State();
  s.proxyHost = Text(proxyServer);
  s.proxyPort = proxyPort;
  s.proxyUser = Text(proxyUserName);
  s.proxyPassword = Text(proxyPassword);
}

#if !defined(FAKE_WITHOUT_OPERATIONS)
FAKE_EXPORT char* TESSORANET_CALL TessoraNet(const char* endpointOperation, const char* parameters,
                                             const char* optionalParameters, const char* body) {
  const std::string operation = Text(endpointOperation);
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
                   ",\"parameters\":" + JsonString(Text(parameters)) + ",\"query\":" +
                   JsonString(Text(optionalParameters)) + ",\"body\":" + JsonString(Text(body)) +
                   ",\"client_id\":" + JsonString(s.clientId) + ",\"client_secret\":" +
                   JsonString(s.clientSecret) + ",\"environment\":" + JsonString(s.environment) +
                   ",\"endpoints\":" + JsonString(s.endpoints) +
                   ",\"partner_token\":" + JsonString(s.partnerToken) +
                   ",\"proxy\":" + JsonString(s.proxyHost + ":" + std::to_string(s.proxyPort)) +
                   ",\"proxy_user\":" + JsonString(s.proxyUser) +
                   ",\"proxy_password\":" + JsonString(s.proxyPassword) + ",\"empty\":{}}");
}
#endif

FAKE_EXPORT void TESSORANET_CALL TessoraNetGetInstanceData(char** accessToken) {
  *accessToken = NewBuffer(State().token);
}

FAKE_EXPORT unsigned char TESSORANET_CALL TessoraNetTokenExpired(void) {
  return State().token.empty() ? 1 : 0;
}

}  // extern "C"
