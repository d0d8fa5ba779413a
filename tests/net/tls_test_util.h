// Helpers of the TLS channel tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "base/error.h"
#include "base/text.h"
#include "net/tls_channel.h"
#include "support/failure_of.h"
#include "support/scripted_server.h"

namespace tessora::test {

using Clock = std::chrono::steady_clock;

inline long long ElapsedMs(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

inline std::string Utf8(const std::u16string& text) {
  return TextToUtf8(text);
}

inline bool StartsWith(const std::u16string& text, const std::u16string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

// The result of a handshake with a new server of this certificate pair (of the test PKI): "" when
// it succeeded, otherwise the failure's message.
inline std::u16string HandshakeWith(const std::string& certificate) {
  ScriptedServer server(
      ScriptedServer::kTls, [](ServerConnection&) {}, certificate);
  TlsChannel channel;
  channel.SetServerName(u"127.0.0.1", server.Port());
  try {
    channel.Connect(u"127.0.0.1", server.Port(), 20000);
    return u"";
  } catch (const Error& error) {
    return error.Message().empty() ? u"(failure without a message)" : error.Message();
  }
}

// The DER bytes of the first certificate of a PEM file ("" when there is none).
inline std::string FirstCertificateDer(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  const std::string pem = text.str();
  const std::string begin = "-----BEGIN CERTIFICATE-----";
  const std::size_t start = pem.find(begin);
  const std::size_t end = pem.find("-----END CERTIFICATE-----");
  if (start == std::string::npos || end == std::string::npos || end < start) return {};
  std::string der;
  unsigned bits = 0;
  int count = 0;
  for (std::size_t i = start + begin.size(); i < end; ++i) {
    const char c = pem[i];
    int value = -1;
    if (c >= 'A' && c <= 'Z') value = c - 'A';
    if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
    if (c >= '0' && c <= '9') value = c - '0' + 52;
    if (c == '+') value = 62;
    if (c == '/') value = 63;
    if (value < 0) continue;  // line breaks, padding
    bits = (bits << 6) | static_cast<unsigned>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      der.push_back(static_cast<char>((bits >> count) & 0xFF));
    }
  }
  return der;
}

}  // namespace tessora::test
