#include "e2e_util.h"

#include "base/text.h"
#include "client_profile.h"
#include "net/tls_channel.h"

namespace tessora::test {

std::unique_ptr<HttpClient> MakeTlsClient(const std::vector<std::string>& settings) {
  auto channel = std::make_unique<TlsChannel>();
  auto client = std::make_unique<HttpClient>(std::move(channel));
  ApplySettings(*client, settings);
  return client;
}

std::u16string LocalUrl(int port, const std::string& route) {
  return AsciiToText("https://127.0.0.1:" + std::to_string(port) + "/api.tessora.net/v1/" + route);
}

}  // namespace tessora::test
