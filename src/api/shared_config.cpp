#include "api/shared_config.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "api/settings.h"
#include "api/thread_settings.h"
#include "base/datetime.h"

namespace tessora {

namespace {

// The process's copy. Threads only ever copy into it and out of it under the lock; nothing of a
// thread's own settings is shared.
struct SharedConfiguration {
  std::mutex lock;
  std::u16string clientId;
  std::u16string clientSecret;
  std::u16string environment;
  std::u16string configFileName;
  std::u16string partnerToken;
  std::u16string proxyServer;
  std::int32_t proxyPort = 0;
  std::u16string proxyUserName;
  std::u16string proxyPassword;
  std::u16string accessToken;
  std::u16string tokenType;
  DateTime tokenExpiration = 0.0;
};

// Made at first use and freed at unload (ForgetSharedConfiguration), never by a static destructor:
// at the end of a POSIX process those run while other threads may still be inside a call.
std::atomic<SharedConfiguration*> gShared{nullptr};

SharedConfiguration& Shared() {
  SharedConfiguration* shared = gShared.load(std::memory_order_acquire);
  if (shared != nullptr) return *shared;
  auto* made = new SharedConfiguration;
  if (gShared.compare_exchange_strong(shared, made, std::memory_order_acq_rel)) return *made;
  delete made;  // another thread's came first; `shared` holds it now
  return *shared;
}

bool SharingOn(const ThreadSettings& settings) {
  static const SettingKey* const kKey = FindSettingKey(u"config.shared");
  return kKey != nullptr && OptionInForce(&settings, *kKey).value == u"on";
}

// Whether a thread's Environment, client ID and secret are the process's: those a token is issued
// for.
bool SameIdentity(const SharedConfiguration& shared, const ThreadSettings& settings) {
  return shared.environment == settings.environment && shared.clientId == settings.clientId &&
         shared.clientSecret == settings.clientSecret;
}

void ClearService(ThreadSettings& settings) {
  settings.clientId.clear();
  settings.clientSecret.clear();
  settings.environment.clear();
  settings.configFileName.clear();
  settings.partnerToken.clear();
  settings.accessToken.clear();
  settings.tokenType.clear();
  settings.tokenExpiration = 0.0;
}

void ClearProxy(ThreadSettings& settings) {
  settings.proxyServer.clear();
  settings.proxyPort = 0;
  settings.proxyUserName.clear();
  settings.proxyPassword.clear();
}

}  // namespace

void PublishService(const ThreadSettings& settings) {
  SharedConfiguration& shared = Shared();
  const std::lock_guard<std::mutex> guard(shared.lock);
  // The process's token was issued to its client at its Environment: another one must not carry
  // it, neither to another host nor under other credentials.
  if (!SameIdentity(shared, settings)) {
    shared.accessToken.clear();
    shared.tokenType.clear();
    shared.tokenExpiration = 0.0;
  }
  shared.clientId = settings.clientId;
  shared.clientSecret = settings.clientSecret;
  shared.environment = settings.environment;
  shared.configFileName = settings.configFileName;
  shared.partnerToken = settings.partnerToken;
}

void PublishProxy(const ThreadSettings& settings) {
  SharedConfiguration& shared = Shared();
  const std::lock_guard<std::mutex> guard(shared.lock);
  shared.proxyServer = settings.proxyServer;
  shared.proxyPort = settings.proxyPort;
  shared.proxyUserName = settings.proxyUserName;
  shared.proxyPassword = settings.proxyPassword;
}

void PublishToken(const ThreadSettings& settings) {
  SharedConfiguration& shared = Shared();
  const std::lock_guard<std::mutex> guard(shared.lock);
  // Only a token issued for the process's configuration becomes the process's: a thread with a
  // configuration of its own, or one whose copy another thread's ConfigureService has replaced
  // since, captured it for another client or Environment.
  if (!SameIdentity(shared, settings)) return;
  shared.accessToken = settings.accessToken;
  shared.tokenType = settings.tokenType;
  shared.tokenExpiration = settings.tokenExpiration;
}

void OwnService(ThreadSettings& settings) {
  if (settings.sharedService) ClearService(settings);
  settings.sharedService = false;
  settings.ownService = true;
}

void OwnProxy(ThreadSettings& settings) {
  settings.sharedProxy = false;
  settings.ownProxy = true;
}

void TakeSharedConfiguration(ThreadSettings& settings) {
  if (settings.ownService) return;
  if (!SharingOn(settings)) {
    if (settings.sharedService) ClearService(settings);
    if (settings.sharedProxy) ClearProxy(settings);
    settings.sharedService = false;
    settings.sharedProxy = false;
    return;
  }
  SharedConfiguration& shared = Shared();
  const std::lock_guard<std::mutex> guard(shared.lock);
  settings.clientId = shared.clientId;
  settings.clientSecret = shared.clientSecret;
  settings.environment = shared.environment;
  settings.configFileName = shared.configFileName;
  settings.partnerToken = shared.partnerToken;
  settings.accessToken = shared.accessToken;
  settings.tokenType = shared.tokenType;
  settings.tokenExpiration = shared.tokenExpiration;
  settings.sharedService = true;
  if (!settings.ownProxy) {
    settings.proxyServer = shared.proxyServer;
    settings.proxyPort = shared.proxyPort;
    settings.proxyUserName = shared.proxyUserName;
    settings.proxyPassword = shared.proxyPassword;
    settings.sharedProxy = true;
  }
}

void ForgetSharedConfiguration() {
  // At unload, when no call runs any more: the copy and its secrets go with the library.
  delete gShared.exchange(nullptr, std::memory_order_acq_rel);
}

}  // namespace tessora
