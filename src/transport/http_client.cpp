#include "transport/http_client.h"

#include "transport/traffic_log.h"

namespace tessora {

THttpClient::THttpClient() = default;

THttpClient::~THttpClient() {
  Disconnect();
}

void THttpClient::Disconnect() {
  if (trafficLog_ != nullptr) trafficLog_->Disconnect();
}

}  // namespace tessora
