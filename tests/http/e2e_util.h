// Helpers of the end-to-end tests: clients on the real TLS channel, the ports of the real peers.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "http/client.h"
#include "support/peers.h"

namespace tessora::test {

// A client on a TLS channel restricted to TLS 1.2, set up as the library sets up every client
// (see ApplySettings).
std::unique_ptr<HttpClient> MakeTlsClient(const std::vector<std::string>& settings = {});

// "https://127.0.0.1:<port>/api.tessora.net/v1/<route>".
std::u16string LocalUrl(int port, const std::string& route);

}  // namespace tessora::test
