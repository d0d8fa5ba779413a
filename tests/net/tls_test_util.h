// Helpers of the TLS channel tests.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
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

}  // namespace tessora::test
