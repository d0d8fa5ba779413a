// Everything a host configures, and the token the library captures, belongs to the calling thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/datetime.h"

namespace tessora {

class HttpClient;
class TrafficLog;

struct ThreadSettings {
  ThreadSettings();
  ~ThreadSettings();
  ThreadSettings(const ThreadSettings&) = delete;
  ThreadSettings& operator=(const ThreadSettings&) = delete;

  std::u16string clientId;
  std::u16string clientSecret;
  std::u16string environment;
  std::u16string configFileName;
  std::u16string accessToken;
  std::u16string tokenType;
  std::u16string partnerToken;
  std::u16string proxyServer;
  std::u16string proxyUserName;
  std::u16string proxyPassword;
  std::int32_t proxyPort = 0;
  DateTime tokenExpiration = 0.0;
  // The client of the thread's latest call; replaced by the next request preparation.
  std::unique_ptr<HttpClient> httpClient;
  // The traffic log; set on the loading thread only.
  std::unique_ptr<TrafficLog> callLog;

  // What the thread's latest operation met, for the extension exports: the status code of the
  // answer (0 without one) and, when it got no answer or failed, why.
  int lastStatus = 0;
  std::u16string lastReason;
};

// The calling thread's settings, created with the initial values on the thread's first use.
ThreadSettings& CurrentSettings();
// The calling thread's settings if it has any yet, else nullptr.
ThreadSettings* ExistingSettings();

// Whether the current local date-time is later than the calling thread's TokenExpiration.
bool TokenExpired();

// Runs when a thread that has settings ends: its HTTP client is released (closing its connection)
// so that hosts that create and end threads do not leak sockets.
void ReleaseThreadSettings(void* settings);

}  // namespace tessora
