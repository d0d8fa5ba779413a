// Settings: named values that change how calls are made, without code (environment variables, the
// endpoint file's "SETTINGS" object) or from the host (TessoraNetSetOption). The table of keys
// (catalogue/setting_keys.h) gives each one's scope, default and the values it takes; the value in
// force comes from, in order, the host, the environment, the endpoint file, the default.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "catalogue/setting_keys.h"

namespace tessora {

struct ThreadSettings;

enum class SettingSource { kDefault, kEndpointFile, kEnvironment, kHost };

// Reads every key's environment variable (at load). A value the key refuses is left out.
void LoadEnvironmentSettings();
// The endpoint file's entries, name and value, replacing those of a file read before. Unknown
// names, keys the file may not set and refused values are left out.
void ApplyFileSettings(const std::vector<std::pair<std::u16string, std::u16string>>& entries);

// The host's value: stored for the thread of `settings` (thread keys) or for the process. Empty on
// success, else why it was refused.
std::u16string SetOption(ThreadSettings& settings, std::u16string_view name,
                         std::u16string_view value);

struct SettingValue {
  std::u16string value;
  SettingSource source = SettingSource::kDefault;
};
// The value in force for `key` on the thread of `settings` (nullptr: a thread that set nothing).
SettingValue OptionInForce(const ThreadSettings* settings, const SettingKey& key);

// The values a call uses, taken once when the call begins and passed down.
struct CallOptions {
  int connectTimeoutMs = 20000;
  int ioTimeoutMs = 30000;
  int callTimeoutMs = 0;  // 0: no deadline for the whole call
  bool maskSecrets = false;
  std::uint64_t logMaxBytes = 0;  // 0: unlimited
  std::u16string logFile;         // kNoLog: none
  bool proxyCredentialsInTunnel = true;
  std::vector<std::u16string> extraHeaderLines;
  bool connectionReuse = false;
  int connectionIdleMs = 30000;
  std::u16string apiHost;   // the API host's suffix, after the thread's Environment
  bool allowTls13 = false;  // tls.max-version "1.3" (the minimum stays TLS 1.2)
};

CallOptions CurrentCallOptions(const ThreadSettings& settings);

// For tests only: forgets the environment's, the file's and the host's process values.
void ResetSettingsForTesting();

}  // namespace tessora
