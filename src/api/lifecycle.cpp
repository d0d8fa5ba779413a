// Start-up and shutdown, run by the platform's load and unload entry points.
#include "api/lifecycle.h"

#include "api/settings.h"
#include "api/shared_config.h"
#include "api/thread_settings.h"
#include "base/error.h"
#include "http/client.h"
#include "http/traffic_log.h"
#include "net/tls_library.h"
#include "platform/codepage.h"
#include "platform/library_entry.h"
#include "platform/locale.h"
#include "platform/thread_storage.h"

namespace tessora {

std::unique_ptr<TrafficLog> OpenCallLog(const std::u16string& fileName) {
  if (fileName == kNoLog) return nullptr;
  auto log = std::make_unique<TrafficLog>();
  log->SetFilename(fileName);
  try {
    log->SetActive(true);
  } catch (const Error&) {
    // The directory is not writable, or another process holds the file: no log, but a working
    // library.
    return nullptr;
  }
  return log;
}

bool LibraryStartup() {
  try {
    platform::InitAnsiCodePage();
    platform::InitLocaleFormats();
    platform::InitThreadStorage(&ReleaseThreadSettings);
    OpenThreadSettings();
    LoadEnvironmentSettings();
    // The log is created before any endpoint file is read: its name comes from the environment
    // (or the default), never from the file.
    ThreadSettings& settings = CurrentSettings();
    settings.ownsLog = true;
    settings.logFileName = OptionInForce(&settings, *FindSettingKey(u"log.file")).value;
    settings.callLog = OpenCallLog(settings.logFileName);
    return true;
  } catch (...) {
    return false;
  }
}

void LibraryShutdown(ShutdownCause cause) {
  ThreadSettings* own = ExistingSettings();
  if (cause == ShutdownCause::kProcessExit) {
    // Other threads may still be inside a call, or (Windows) have been stopped in the middle of
    // one, holding whatever lock they held: nothing of theirs is touched, not even the list of
    // settings. The ending thread's own settings stay listed; the process takes the memory. Its
    // connection closes without a word to the TLS library, which may have cleaned up already.
    LeaveTlsLibraryAlone();
    if (own != nullptr) ReleaseHeld(*own, CloseRecord::kRecorded);
    return;
  }
  // No new settings from here on; then no end-of-thread clean-up starts any more, and those that
  // are running have finished; then every thread's settings can go, but those of threads that are
  // inside a call (a host that unloads the library meanwhile has a fault of its own: the code they
  // run is about to go).
  CloseThreadSettings();
  platform::DoneThreadStorage();
  try {
    // The unloading thread's first: its log records the client's "Disconnected.", then closes.
    // Another thread's release records nothing: when that thread is the loading one, its log
    // closes as it stands, as after its last call.
    for (const std::unique_ptr<ThreadSettings>& settings : TakeIdleThreadSettings(own)) {
      ReleaseHeld(*settings,
                  settings.get() == own ? CloseRecord::kRecorded : CloseRecord::kNotRecorded);
    }
  } catch (...) {
    // Out of memory for the list of settings: they stay behind, unreleased.
  }
  // config.shared's copy of the last configuration, proxy and token.
  ForgetSharedConfiguration();
  // The TLS library, and what every connection shares (the client context, the sessions).
  ReleaseTlsLibrary();
}

}  // namespace tessora
