// The table of settings: every key with its scope, default, where it may come from and the values
// it takes. The library keeps the values in force (api/settings.h); the tools read the same table
// to show and check them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tessora {

enum class SettingScope {
  kThread,   // a host's value holds for the thread that set it
  kProcess,  // one value for every thread
};

struct SettingKey {
  std::string_view name;
  SettingScope scope;
  std::u16string_view defaultValue;
  // Whether the key may stand in the endpoint file's "SETTINGS" (not those that would let whoever
  // writes the file redirect or read the traffic).
  bool fromFile;
  // The stored form of an accepted value, nothing for a refused one.
  std::optional<std::u16string> (*normalise)(std::u16string_view value);
  // What the key takes, for the reason of a refusal.
  std::u16string_view allowed;
  // Whether a value is lines (CR LF, CR or LF between them); otherwise a control character
  // refuses it.
  bool lines = false;
};

// Every key, in the order the documents list them.
const std::vector<SettingKey>& SettingKeys();
// The key named `name` exactly, or nullptr.
const SettingKey* FindSettingKey(std::u16string_view name);
// The stored form of `value` for `key`, nothing when the key refuses it (too long, a control
// character, or not one of the values it takes).
std::optional<std::u16string> AcceptedSettingValue(const SettingKey& key,
                                                   std::u16string_view value);
// The environment variable of a key: "TESSORANET_" and the name in upper case, "." and "-" as "_".
std::string SettingVariable(std::string_view name);
// The prefix of every setting's variable.
inline constexpr std::string_view kSettingVariablePrefix = "TESSORANET_";
// No value of any key is longer; longer text from anywhere is refused.
inline constexpr std::size_t kLongestSettingValue = 4096;

// A decimal integer from `lowest` to `highest`, digits only: no sign, blank or leading "0x".
std::optional<std::int64_t> StrictInteger(std::u16string_view value, std::int64_t lowest,
                                          std::int64_t highest);
// The largest number of milliseconds a key takes, and of bytes log.max-bytes takes.
inline constexpr std::int64_t kLongestMs = 86400000;
inline constexpr std::int64_t kLargestLog = std::int64_t{1} << 40;

// The values of text.encoding.
inline constexpr char16_t kAnsiEncoding[] = u"ansi";
inline constexpr char16_t kUtf8Encoding[] = u"utf-8";

// The log.file value of no log.
inline constexpr char16_t kNoLog[] = u"off";

}  // namespace tessora
