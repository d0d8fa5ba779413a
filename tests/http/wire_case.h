// Wire cases kept as data: each gives the call, the client's settings, the peer's exact reply
// (with its block splits and how the connection ends) and what must come out: the exact bytes
// sent, the result text or the failure, the status line.
//
// File format (cases/*.txt): a case starts with "=== name"; its sections start with
// "--- section arguments". Lines before a case's first section are comments. In byte sections the
// file's own line breaks are ignored and escapes give every byte: \r \n \t \0 \\ \xHH, \u{HHHH} (a
// character, as UTF-8) and \{N*text} (the text, escapes allowed, no closing brace, N times).
//
//   --- call METHOD URL                 the operation; POST and PUT take a "--- body" section
//   --- setup                           one setting a line (see MakeClient)
//   --- proxy-reply [split=..] [end=..] the proxy's answer to the tunnel request
//   --- reply [split=..] [end=..]       the server's answer; split=1,5 delivers blocks of 1
//                                       byte, then 5 bytes each; end=close (default: the TLS
//                                       closing alert), cut (no alert), silent, or an error
//                                       number such as 10054
//   --- proxy-request                   the exact bytes sent before the TLS handshake
//   --- request                         the exact bytes sent after it
//   --- result                          the text returned (UTF-8 in the file)
//   --- error                           the failure's message
//   --- incomplete                      why the answer may not be whole ("" when it is)
//   --- response-text                   the status line afterwards
//   --- events                          the carrier's events, one a line
#pragma once

#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "base/error.h"
#include "http/client.h"

namespace tessora::test {

struct WireReply {
  std::string bytes;
  std::vector<int> split;
  std::string end = "close";
};

struct WireCase {
  std::string name;
  std::string where;  // file and line, for failure messages
  std::string method;
  std::string url;  // UTF-8
  std::optional<std::string> body;
  std::vector<std::string> setup;  // unescaped lines, UTF-8
  std::optional<WireReply> proxyReply;
  WireReply reply;
  std::optional<std::string> proxyRequest;
  std::optional<std::string> request;
  std::optional<std::string> result;
  std::optional<std::string> error;
  std::optional<std::string> responseText;
  std::optional<std::string> incomplete;
  std::optional<std::vector<std::string>> events;
};

// Test output names the case only.
inline void PrintTo(const WireCase& wire, std::ostream* os) {
  *os << wire.where;
}

// Decodes the escapes of a byte section.
std::string Unescape(const std::string& text);

// Every case of every file in the directory, in file-name order.
std::vector<WireCase> LoadWireCases(const std::string& directory);

// The case's name as a test name (letters and digits kept, everything else "_").
std::string WireCaseName(const ::testing::TestParamInfo<WireCase>& info);

// What the call of a case gave: the result text, or the failure.
struct WireOutcome {
  std::u16string result;
  std::optional<Error> failure;
};

// Performs the case's call (its method, its body) on `client` with `url`.
WireOutcome CallWire(HttpClient& client, const WireCase& wire, const std::u16string& url);

// Checks the failure, the result text, the status line and what was said of an incomplete answer
// afterwards against the case.
void ExpectWireOutcome(const WireCase& wire, const WireOutcome& outcome,
                       const HttpResponse& response);

}  // namespace tessora::test
