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

// Every thread's settings, linked through their own fields. At the end of a POSIX process the
// static destructors run before the unload entry point while other threads may still enter and
// leave calls: with glibc nothing here has a destructor (std::mutex has none there), so they find
// the list intact.
struct SettingsList {
  std::mutex lock;
  ThreadSettings* first = nullptr;
  bool closed = false;  // from the start of an unload to the next start-up
};
SettingsList gList;

// With gList.lock held.
void Link(ThreadSettings* settings) {
  settings->previous = nullptr;
  settings->next = gList.first;
  if (gList.first != nullptr) gList.first->previous = settings;
  gList.first = settings;
}

// With gList.lock held.
void Unlink(ThreadSettings* settings) {
  if (settings->previous != nullptr) {
    settings->previous->next = settings->next;
  } else {
    gList.first = settings->next;
  }
  if (settings->next != nullptr) settings->next->previous = settings->previous;
  settings->previous = nullptr;
  settings->next = nullptr;
}

// With gList.lock held. Compares addresses only: `settings` may have been released already.
bool Listed(const void* settings) {
  for (const ThreadSettings* s = gList.first; s != nullptr; s = s->next) {
    if (s == settings) return true;
  }
  return false;
}

// With gList.lock held: the calling thread's new settings, stored and listed.
ThreadSettings& CreateSettings() {
  if (gList.closed) Raise(u"Thread storage is not available.");
  auto settings = std::make_unique<ThreadSettings>();
  platform::SetThreadValue(settings.get());
  if (ExistingSettings() != settings.get()) Raise(u"Thread storage is not available.");
  Link(settings.get());
  return *settings.release();
}

}  // namespace

ThreadSettings::ThreadSettings() = default;
ThreadSettings::~ThreadSettings() = default;

ThreadSettings* ExistingSettings() {
  return static_cast<ThreadSettings*>(platform::GetThreadValue());
}

ThreadSettings& CurrentSettings() {
  if (ThreadSettings* settings = ExistingSettings()) return *settings;
  std::lock_guard<std::mutex> guard(gList.lock);
  return CreateSettings();
}

CallScope::CallScope(Settings which) noexcept {
  platform::WatchForExit();
  std::lock_guard<std::mutex> guard(gList.lock);
  settings_ = ExistingSettings();
  if (settings_ == nullptr && which == Settings::kCreate) {
    try {
      settings_ = &CreateSettings();
    } catch (...) {
      // The call's own use of CurrentSettings fails the same way, where it can be reported.
    }
  }
  if (settings_ != nullptr) ++settings_->callsRunning;
}

CallScope::~CallScope() {
  if (settings_ == nullptr) return;
  std::lock_guard<std::mutex> guard(gList.lock);
  --settings_->callsRunning;
}

void OpenThreadSettings() {
  std::lock_guard<std::mutex> guard(gList.lock);
  gList.closed = false;
}

void CloseThreadSettings() {
  std::lock_guard<std::mutex> guard(gList.lock);
  gList.closed = true;
}

std::vector<std::unique_ptr<ThreadSettings>> TakeIdleThreadSettings(const ThreadSettings* first) {
  std::vector<std::unique_ptr<ThreadSettings>> idle;
  std::lock_guard<std::mutex> guard(gList.lock);
  std::size_t count = 0;
  for (const ThreadSettings* s = gList.first; s != nullptr; s = s->next) {
    if (s->callsRunning == 0) ++count;
  }
  idle.reserve(count);
  for (ThreadSettings* s = gList.first; s != nullptr;) {
    ThreadSettings* next = s->next;
    if (s->callsRunning == 0) {
      Unlink(s);
      idle.emplace_back(s);
      if (s == first) std::swap(idle.front(), idle.back());
    }
    s = next;
  }
  return idle;
}

void ReleaseHeld(ThreadSettings& settings, CloseRecord record) {
  try {
    // The client first: releasing it records "Disconnected." in the log it is attached to.
    if (record == CloseRecord::kNotRecorded && settings.httpClient) {
      settings.httpClient->SetLog(nullptr);
    }
    settings.httpClient.reset();
    settings.callLog.reset();
  } catch (...) {
    // Nothing can be reported from here; what could not be released stays behind.
  }
}

bool TokenExpired(const ThreadSettings& settings) {
  return platform::NowLocal() > settings.tokenExpiration;
}

void ReleaseThreadSettings(void* value) {
  {
    std::lock_guard<std::mutex> guard(gList.lock);
    // Not listed: an unload has taken it, and releases it.
    if (!Listed(value)) return;
    Unlink(static_cast<ThreadSettings*>(value));
  }
  std::unique_ptr<ThreadSettings> settings(static_cast<ThreadSettings*>(value));
  try {
    // The connection closes; the log, which records only its thread's calls, gets nothing.
    if (settings->httpClient) settings->httpClient->SetLog(nullptr);
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
