#include "settings_report.h"

#include <optional>

#include "catalogue/setting_keys.h"
#include "console.h"
#include "platform/codepage.h"

namespace tessora::cli {

namespace {

std::string Ansi(std::u16string_view text) {
  return platform::TextToAnsi(text);
}

// A value as the report shows it: lines joined by "\n", long values cut.
std::string Shown(std::u16string_view value) {
  constexpr std::size_t kShownMost = 120;
  std::u16string text;
  for (std::size_t at = 0; at < value.size() && text.size() < kShownMost; ++at) {
    if (value[at] == u'\r' && at + 1 < value.size() && value[at + 1] == u'\n') {
      text += u"\\n";
      ++at;
    } else if (value[at] < 0x20 || value[at] == 0x7F) {
      text += u' ';
    } else {
      text += value[at];
    }
  }
  if (text.size() >= kShownMost) text += u"...";
  return Ansi(text);
}

std::string Refusal(const SettingKey& key) {
  return "the library leaves it out: " + std::string(key.name) + " takes " + Ansi(key.allowed);
}

struct Candidate {
  std::optional<std::u16string> value;
  const char* source;
};

}  // namespace

SettingsReport ReadSettingsInForce(
    const std::vector<std::pair<std::string, std::string>>& host,
    const std::vector<std::pair<std::string, std::string>>& environment,
    const std::vector<std::pair<std::u16string, std::u16string>>& file) {
  SettingsReport report;
  const std::vector<SettingKey>& keys = SettingKeys();
  std::vector<Candidate> fromHost(keys.size(), Candidate{std::nullopt, "host: --set"});
  std::vector<Candidate> fromEnvironment(keys.size(), Candidate{std::nullopt, "environment"});
  std::vector<Candidate> fromFile(keys.size(), Candidate{std::nullopt, "endpoint file"});
  auto indexOf = [&](const SettingKey* key) { return static_cast<std::size_t>(key - keys.data()); };

  for (const auto& [name, value] : host) {
    const SettingKey* key = FindSettingKey(platform::AnsiToText(name));
    if (key == nullptr) {
      report.warnings.push_back("--set " + Quoted(name) + ": there is no such setting");
      continue;
    }
    const auto accepted = AcceptedSettingValue(*key, platform::AnsiToText(value));
    if (!accepted) {
      report.warnings.push_back("--set " + name + "=" + Quoted(Shown(platform::AnsiToText(value))) +
                                ": " + Refusal(*key));
      continue;
    }
    fromHost[indexOf(key)].value = *accepted;
  }

  for (const auto& [variable, value] : environment) {
    bool tools = false;
    for (const char* own : kToolVariables)
      tools = tools || variable == own;
    if (tools) continue;
    const SettingKey* key = nullptr;
    for (const SettingKey& candidate : keys) {
      if (SettingVariable(candidate.name) == variable) key = &candidate;
    }
    if (key == nullptr) {
      report.warnings.push_back("the environment variable " + variable +
                                " is no setting's: the library ignores it");
      continue;
    }
    const auto accepted = value.size() > kLongestSettingValue
                              ? std::nullopt
                              : AcceptedSettingValue(*key, platform::AnsiToText(value));
    if (!accepted) {
      report.warnings.push_back(variable + "=" + Quoted(Shown(platform::AnsiToText(value))) + ": " +
                                Refusal(*key));
      continue;
    }
    fromEnvironment[indexOf(key)].value = *accepted;
  }

  for (const auto& [name, value] : file) {
    const SettingKey* key = FindSettingKey(name);
    const std::string shownName = Shown(name);
    if (key == nullptr) {
      report.warnings.push_back("the endpoint file's \"SETTINGS\" names " + Quoted(shownName) +
                                ", which is no setting: the library ignores it");
      continue;
    }
    if (!key->fromFile) {
      report.warnings.push_back(
          "the endpoint file's \"SETTINGS\" sets " + shownName +
          ", which may come only from the environment or the host: the library ignores it");
      continue;
    }
    const auto accepted = AcceptedSettingValue(*key, value);
    if (!accepted) {
      report.warnings.push_back("the endpoint file's \"SETTINGS\" sets " + shownName + " to " +
                                Quoted(Shown(value)) + ": " + Refusal(*key));
      continue;
    }
    fromFile[indexOf(key)].value = *accepted;
  }

  for (std::size_t index = 0; index < keys.size(); ++index) {
    SettingInForce line{std::string(keys[index].name), Shown(keys[index].defaultValue), "default"};
    for (const Candidate* candidate :
         {&fromFile[index], &fromEnvironment[index], &fromHost[index]}) {
      if (candidate->value) {
        line.value = Shown(*candidate->value);
        line.source = candidate->source;
      }
    }
    report.inForce.push_back(std::move(line));
  }
  return report;
}

}  // namespace tessora::cli
