// The settings a call of the library would run with, and where each value came from, worked out
// with the library's own table of keys: for `tessora doctor`. The sources are those of the
// library, in its order: the host (the tool's --set), the environment, the endpoint file's
// "SETTINGS", the default. What the library would leave out (an unknown name, a refused value, a
// key the endpoint file may not set) is a warning.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace tessora::cli {

struct SettingInForce {
  std::string name;
  std::string value;   // the stored form, ANSI code page
  std::string source;  // "default", "endpoint file", "environment" or "host: --set"
};

struct SettingsReport {
  std::vector<SettingInForce> inForce;  // every key, in the table's order
  std::vector<std::string> warnings;    // one sentence each
};

// The variables the tools and samples read themselves: never a setting's, never warned about.
inline constexpr const char* kToolVariables[] = {"TESSORANET_LIBRARY"};

// `host`: KEY=VALUE of --set, in order (ANSI). `environment`: every variable whose name begins with
// "TESSORANET_" (ANSI). `file`: the endpoint file's "SETTINGS" members as the catalogue reads them.
SettingsReport ReadSettingsInForce(
    const std::vector<std::pair<std::string, std::string>>& host,
    const std::vector<std::pair<std::string, std::string>>& environment,
    const std::vector<std::pair<std::u16string, std::u16string>>& file);

}  // namespace tessora::cli
