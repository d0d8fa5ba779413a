// A client set up as the library's request layer sets up every client, for the tests.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "http/client.h"
#include "support/memory_channel.h"

namespace tessora::test {

inline constexpr char16_t kUserAgent[] = u"Mozilla/5.0 (Windows NT 6.1; Win64; x64; rv:47.0) ";

struct ProfiledClient {
  MemoryChannel* channel = nullptr;
  std::unique_ptr<HttpClient> client;
};

// Sets a client up with the library's settings (20000 ms connect time-out, JSON content type and
// accept, the user agent, the "api-sdk" line) and the given ones, one a line: "token TYPE TOKEN"
// (the bearer line), "partner TOKEN", "basic USER:PASS", "proxy HOST:PORT", "proxy-auth
// USER:PASS", "header NAME: VALUE" (after the library's lines), "user-agent VALUE", "accept
// VALUE", "content-type VALUE", "no-profile" (none of the library's settings).
void ApplySettings(HttpClient& client, const std::vector<std::string>& settings);

// A client on a new in-memory channel, set up so.
ProfiledClient MakeClient(const std::vector<std::string>& settings = {});

}  // namespace tessora::test
