// Start-up and shutdown, run by the platform's load and unload entry points.
#include "api/lifecycle.h"

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

std::unique_ptr<TrafficLog> OpenCallLog() {
  auto log = std::make_unique<TrafficLog>();
  log->SetFilename(kCallLogFileName);
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
    CurrentSettings().callLog = OpenCallLog();
    return true;
  } catch (...) {
    return false;
  }
}

void LibraryShutdown() {
  if (ThreadSettings* settings = ExistingSettings()) {
    platform::SetThreadValue(nullptr);
    try {
      // The client first: releasing it records "Disconnected." in the log it is attached to.
      settings->httpClient.reset();
      settings->callLog.reset();
    } catch (...) {
      // Nothing can be reported from an unload.
    }
    delete settings;
  }
  platform::DoneThreadStorage();
  ReleaseTlsLibrary();
}

}  // namespace tessora
