// Everything a host configures, and the token the library captures, belongs to the calling thread.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/datetime.h"

namespace tessora {

class HttpClient;
class TrafficLog;

// The kind of a thread's last failure, for hosts to branch on. The numbers are those the public
// header fixes for TessoraNetLastErrorKind.
enum class FailureKind : int {
  kNone = 0,
  kNameResolution = 1,
  kConnect = 2,
  kTls = 3,
  kTimeout = 4,
  kProxy = 5,
  kMalformedAnswer = 6,
  kIncompleteAnswer = 7,
  kEndpointFile = 8,
  kUnknownOperation = 9,
  kSetting = 10,
  kOutOfMemory = 11,
  kRefusedRequest = 12,
};

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
  // The host's values of thread-scoped settings (TessoraNetSetOption), by key name
  // (api/settings.h).
  std::map<std::u16string, std::u16string> options;
  // The client of the thread's latest call; replaced by the next request preparation.
  std::unique_ptr<HttpClient> httpClient;
  // The traffic log; set on the loading thread only.
  std::unique_ptr<TrafficLog> callLog;
  // Whether this is the loading thread, the one that writes the traffic log, and the name the log
  // was last opened with ("off": none), which a later log.file setting replaces.
  bool ownsLog = false;
  std::u16string logFileName;

  // What the thread's latest operation met, for the extension exports: the status code of the
  // answer (0 without one) and, when it got no answer or failed, why and what kind of failure.
  // While lastStatus is not 0, httpClient holds that answer's head.
  int lastStatus = 0;
  std::u16string lastReason;
  FailureKind lastFailureKind = FailureKind::kNone;

  // Bookkeeping of the list of every thread's settings (thread_settings.cpp), under its lock: the
  // calls of the library the thread is inside of, and the neighbours in the list.
  int callsRunning = 0;
  ThreadSettings* previous = nullptr;
  ThreadSettings* next = nullptr;

  // config.shared (api/shared_config.h): whether the thread called ConfigureService and
  // ConfigureProxy itself, and whether its configuration and token, and its proxy, are copies of
  // the process's.
  bool ownService = false;
  bool ownProxy = false;
  bool sharedService = false;
  bool sharedProxy = false;
};

// The calling thread's settings, created with the initial values on the thread's first use. Fails
// when they cannot be created: no thread storage, or the library is unloading.
ThreadSettings& CurrentSettings();
// The calling thread's settings if it has any yet, else nullptr.
ThreadSettings* ExistingSettings();

// Whether the current local date-time is later than the token expiration of `settings`.
bool TokenExpired(const ThreadSettings& settings);

// Marks the calling thread as inside a call of the library while it exists; every export holds
// one for its whole run. An unload leaves the settings of such a thread alone: the call is using
// them. Never fails.
class CallScope {
 public:
  enum class Settings {
    kCreate,    // gives the thread its settings first when it has none and they can be created
    kExisting,  // only marks the settings the thread has, if any
  };
  explicit CallScope(Settings which = Settings::kCreate) noexcept;
  ~CallScope();
  CallScope(const CallScope&) = delete;
  CallScope& operator=(const CallScope&) = delete;

 private:
  ThreadSettings* settings_ = nullptr;
};

// Every thread's settings are listed, so that an unload can release those of the threads that are
// still alive. An unload closes the list first: from then on no thread gets new settings ...
void CloseThreadSettings();
// ... until start-up opens it again.
void OpenThreadSettings();
// At unload, after the thread storage is given up: takes off the list the settings of every thread
// that is not inside a call, for the caller to release; `first` (the unloading thread's) comes
// first.
std::vector<std::unique_ptr<ThreadSettings>> TakeIdleThreadSettings(const ThreadSettings* first);

// Whether releasing a client writes its "Disconnected." to the log it is attached to.
enum class CloseRecord { kRecorded, kNotRecorded };

// Releases what settings hold, in order: the HTTP client (closing its connection; with
// CloseRecord::kRecorded "Disconnected." goes to the log it is attached to), then the log (closing
// its file).
void ReleaseHeld(ThreadSettings& settings, CloseRecord record);

// Runs when a thread that has settings ends: its HTTP client is released (closing its connection)
// so that hosts that create and end threads do not leak sockets, without a record in the log,
// which gets nothing more once its thread has ended; the log of a loading thread that ends stays
// open until the process ends.
void ReleaseThreadSettings(void* settings);

}  // namespace tessora
