#include "api/thread_settings.h"

#include <mutex>
#include <vector>

#include "base/error.h"
#include "http/client.h"
#include "http/traffic_log.h"
#include "platform/clock.h"
#include "platform/thread_storage.h"

namespace tessora {

namespace {

// The log of a loading thread that has ended. The file stays open until the process ends; holding
// the object here keeps it reachable.
struct OrphanedLogs {
  std::mutex lock;
  std::vector<std::unique_ptr<TrafficLog>> logs;
};

OrphanedLogs& Orphans() {
  static auto* orphans = new OrphanedLogs;  // never destroyed: the files stay open to the end
  return *orphans;
}

}  // namespace

ThreadSettings::ThreadSettings() = default;
ThreadSettings::~ThreadSettings() = default;

ThreadSettings* ExistingSettings() {
  return static_cast<ThreadSettings*>(platform::GetThreadValue());
}

ThreadSettings& CurrentSettings() {
  if (ThreadSettings* settings = ExistingSettings()) return *settings;
  auto settings = std::make_unique<ThreadSettings>();
  platform::SetThreadValue(settings.get());
  if (ExistingSettings() != settings.get()) Raise(u"Thread storage is not available.");
  return *settings.release();
}

bool TokenExpired() {
  return platform::NowLocal() > CurrentSettings().tokenExpiration;
}

void ReleaseThreadSettings(void* value) {
  std::unique_ptr<ThreadSettings> settings(static_cast<ThreadSettings*>(value));
  try {
    settings->httpClient.reset();
    if (settings->callLog) {
      OrphanedLogs& orphans = Orphans();
      std::lock_guard<std::mutex> guard(orphans.lock);
      orphans.logs.push_back(std::move(settings->callLog));
    }
  } catch (...) {
    // A thread that ends has nobody to report to; what could not be released stays behind.
  }
}

}  // namespace tessora
