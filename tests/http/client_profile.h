// A client set up as the library's request layer sets up every client, for the tests.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "doubles/memory_channel.h"
#include "http/client.h"

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

// One exchange of each method as the library's request layer sends it: POST as HTTP/1.0, the
// others as HTTP/1.1.
inline std::u16string Get(HttpClient& client, const std::u16string& url) {
  return client.Perform(u"GET", HttpVersion::kHttp11, url, std::nullopt);
}
inline std::u16string Delete(HttpClient& client, const std::u16string& url) {
  return client.Perform(u"DELETE", HttpVersion::kHttp11, url, std::nullopt);
}
inline std::u16string Post(HttpClient& client, const std::u16string& url,
                           std::optional<std::string> body) {
  return client.Perform(u"POST", HttpVersion::kHttp10, url, std::move(body));
}
inline std::u16string Put(HttpClient& client, const std::u16string& url,
                          std::optional<std::string> body) {
  return client.Perform(u"PUT", HttpVersion::kHttp11, url, std::move(body));
}

}  // namespace tessora::test
