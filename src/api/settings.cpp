#include "api/settings.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <mutex>

#include "api/thread_settings.h"
#include "base/text.h"
#include "net/tls_context.h"
#include "platform/codepage.h"

namespace tessora {

namespace {

// The key whose file goes into the process's TLS context.
constexpr std::string_view kCaFileKey = "tls.ca-file";

// The process's values by source; a key without a value from a source has none there.
struct ProcessValues {
  std::vector<std::optional<std::u16string>> host;
  std::vector<std::optional<std::u16string>> environment;
  std::vector<std::optional<std::u16string>> file;
};

std::mutex gValuesMutex;

ProcessValues& Values() {
  static ProcessValues values = [] {
    ProcessValues made;
    made.host.resize(SettingKeys().size());
    made.environment.resize(SettingKeys().size());
    made.file.resize(SettingKeys().size());
    return made;
  }();
  return values;
}

std::size_t IndexOf(const SettingKey& key) {
  return static_cast<std::size_t>(&key - SettingKeys().data());
}

}  // namespace

void LoadEnvironmentSettings() {
  const std::lock_guard<std::mutex> lock(gValuesMutex);
  ProcessValues& values = Values();
  for (const SettingKey& key : SettingKeys()) {
    // Read once, at load, on the loading thread; nothing else of the library reads the environment.
    const char* text =
        std::getenv(SettingVariable(key.name).c_str());  // NOLINT(concurrency-mt-unsafe)
    std::optional<std::u16string> value;
    if (text != nullptr) {
      const std::string_view bytes(text);
      if (bytes.size() <= kLongestSettingValue)
        value = AcceptedSettingValue(key, platform::AnsiToText(bytes));
    }
    if (key.name == kCaFileKey) SetTrustedCaFile(TextToUtf8(value.value_or(u"")));
    values.environment[IndexOf(key)] = std::move(value);
  }
}

void ApplyFileSettings(const std::vector<std::pair<std::u16string, std::u16string>>& entries) {
  std::vector<std::optional<std::u16string>> file(SettingKeys().size());
  for (const auto& [name, value] : entries) {
    const SettingKey* key = FindSettingKey(name);
    if (key == nullptr || !key->fromFile) continue;
    if (auto accepted = AcceptedSettingValue(*key, value))
      file[IndexOf(*key)] = std::move(accepted);
  }
  const std::lock_guard<std::mutex> lock(gValuesMutex);
  Values().file = std::move(file);
}

std::u16string SetOption(ThreadSettings& settings, std::u16string_view name,
                         std::u16string_view value) {
  const SettingKey* key = FindSettingKey(name);
  if (key == nullptr) {
    std::u16string shown(name.substr(0, 80));
    for (char16_t& c : shown) {
      if (c < 0x20 || c == 0x7F) c = u' ';
    }
    return u"There is no setting \"" + shown + u"\".";
  }
  const std::optional<std::u16string> accepted = AcceptedSettingValue(*key, value);
  if (!accepted) {
    const std::u16string keyName = AsciiToText(key->name);
    std::u16string shown(value.substr(0, 80));
    for (char16_t& c : shown) {
      if (c < 0x20 || c == 0x7F) c = u' ';
    }
    if (value.size() > 80) shown += u"...";
    return u"The setting \"" + keyName + u"\" cannot be \"" + shown + u"\": it takes " +
           std::u16string(key->allowed) + u".";
  }
  if (key->name == kCaFileKey && !SetTrustedCaFile(TextToUtf8(*accepted))) {
    return u"The setting \"tls.ca-file\" cannot change after the process's first TLS connection: "
           u"the trusted certificates are read once, into the TLS context every thread shares.";
  }
  if (key->scope == SettingScope::kThread) {
    settings.options.insert_or_assign(std::u16string(AsciiToText(key->name)), *accepted);
  } else {
    const std::lock_guard<std::mutex> lock(gValuesMutex);
    Values().host[IndexOf(*key)] = *accepted;
  }
  return {};
}

SettingValue OptionInForce(const ThreadSettings* settings, const SettingKey& key) {
  if (settings != nullptr && key.scope == SettingScope::kThread) {
    const auto found = settings->options.find(AsciiToText(key.name));
    if (found != settings->options.end()) return {found->second, SettingSource::kHost};
  }
  const std::size_t index = IndexOf(key);
  const std::lock_guard<std::mutex> lock(gValuesMutex);
  const ProcessValues& values = Values();
  if (values.host[index]) return {*values.host[index], SettingSource::kHost};
  if (values.environment[index]) return {*values.environment[index], SettingSource::kEnvironment};
  if (values.file[index]) return {*values.file[index], SettingSource::kEndpointFile};
  return {std::u16string(key.defaultValue), SettingSource::kDefault};
}

namespace {

std::u16string ValueOf(const ThreadSettings& settings, std::string_view name) {
  return OptionInForce(&settings, *FindSettingKey(AsciiToText(name))).value;
}

// A value the table accepted: "none" gives 0.
int MillisecondsOf(const std::u16string& value) {
  return static_cast<int>(StrictInteger(value, 1, kLongestMs).value_or(0));
}

}  // namespace

CallOptions CurrentCallOptions(const ThreadSettings& settings) {
  CallOptions options;
  options.connectTimeoutMs = MillisecondsOf(ValueOf(settings, "timeout.connect-ms"));
  options.ioTimeoutMs = MillisecondsOf(ValueOf(settings, "timeout.io-ms"));
  options.callTimeoutMs = MillisecondsOf(ValueOf(settings, "timeout.call-ms"));
  options.maskSecrets = ValueOf(settings, "log.secrets") == u"masked";
  options.logMaxBytes = static_cast<std::uint64_t>(
      StrictInteger(ValueOf(settings, "log.max-bytes"), 1, kLargestLog).value_or(0));
  options.logFile = ValueOf(settings, "log.file");
  options.proxyCredentialsInTunnel = ValueOf(settings, "proxy.credentials-in-tunnel") == u"on";
  options.connectionReuse = ValueOf(settings, "connection.reuse") == u"on";
  options.connectionIdleMs = MillisecondsOf(ValueOf(settings, "connection.idle-ms"));
  options.apiHost = ValueOf(settings, "api.host");
  options.allowTls13 = ValueOf(settings, "tls.max-version") == u"1.3";
  const std::u16string lines = ValueOf(settings, "request.headers");
  for (std::size_t start = 0; start < lines.size();) {
    std::size_t end = lines.find(u"\r\n", start);
    if (end == std::u16string::npos) end = lines.size();
    options.extraHeaderLines.emplace_back(lines, start, end - start);
    start = end + 2;
  }
  return options;
}

void ResetSettingsForTesting() {
  const std::lock_guard<std::mutex> lock(gValuesMutex);
  ProcessValues& values = Values();
  for (auto* source : {&values.host, &values.environment, &values.file}) {
    for (auto& value : *source)
      value.reset();
  }
  SetTrustedCaFile("");
}

}  // namespace tessora
