// Everything a host configures, and the token the library captures, belongs to the calling thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/datetime.h"

namespace tessora {

class THttpClient;
class TTrafficLog;

struct ThreadSettings {
  ThreadSettings();
  ~ThreadSettings();
  ThreadSettings(const ThreadSettings&) = delete;
  ThreadSettings& operator=(const ThreadSettings&) = delete;

  std::u16string ClientID;
  std::u16string ClientSecret;
  std::u16string Environment;
  std::u16string ConfigFileName;
  std::u16string AccessToken;
  std::u16string TokenType;
  std::u16string PartnerToken;
  std::u16string ProxyServer;
  std::u16string ProxyUserName;
  std::u16string ProxyPassword;
  std::int32_t ProxyPort = 0;
  TDateTime TokenExpiration = 0.0;
  // The client of the thread's latest call; replaced by the next request preparation.
  std::unique_ptr<THttpClient> HttpClient;
  // The traffic log; set on the loading thread only.
  std::unique_ptr<TTrafficLog> CallLog;
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
