#include "catalogue/setting_keys.h"

#include <array>
#include <cstdint>

#include "base/text.h"

namespace tessora {

namespace {

bool HasControl(std::u16string_view value) {
  for (const char16_t c : value) {
    if (c < 0x20 || c == 0x7F) return true;
  }
  return false;
}

std::u16string Lower(std::u16string_view value) {
  std::u16string text(value);
  for (char16_t& c : text) {
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  }
  return text;
}

std::optional<std::u16string> Milliseconds(std::u16string_view value) {
  const auto number = StrictInteger(value, 1, kLongestMs);
  if (!number) return std::nullopt;
  return IntToText(*number);
}

std::optional<std::u16string> MillisecondsOrNone(std::u16string_view value) {
  if (Lower(value) == u"none") return std::u16string(u"none");
  return Milliseconds(value);
}

std::optional<std::u16string> SecretsShown(std::u16string_view value) {
  const std::u16string lower = Lower(value);
  if (lower == u"clear" || lower == u"masked") return lower;
  return std::nullopt;
}

std::optional<std::u16string> LogSize(std::u16string_view value) {
  if (Lower(value) == u"unlimited") return std::u16string(u"unlimited");
  const auto number = StrictInteger(value, 1, kLargestLog);
  if (!number) return std::nullopt;
  return IntToText(*number);
}

// A path as it is given; "" and "off" (any letter case) are no log.
std::optional<std::u16string> LogFile(std::u16string_view value) {
  if (value.empty() || Lower(value) == kNoLog) return std::u16string(kNoLog);
  return std::u16string(value);
}

// A path as it is given; "" is none.
std::optional<std::u16string> AnyPath(std::u16string_view value) {
  return std::u16string(value);
}

// "ansi" or "utf-8" ("utf8" too), any letter case.
std::optional<std::u16string> TextEncoding(std::u16string_view value) {
  const std::u16string lower = Lower(value);
  if (lower == kAnsiEncoding) return lower;
  if (lower == kUtf8Encoding || lower == u"utf8") return std::u16string(kUtf8Encoding);
  return std::nullopt;
}

// "on" or "off", any letter case.
std::optional<std::u16string> OnOrOff(std::u16string_view value) {
  const std::u16string lower = Lower(value);
  if (lower == u"on" || lower == u"off") return lower;
  return std::nullopt;
}

// "1.2" or "1.3".
std::optional<std::u16string> TlsVersion(std::u16string_view value) {
  if (value == u"1.2" || value == u"1.3") return std::u16string(value);
  return std::nullopt;
}

// Header lines the library writes itself, and those that frame the message or the connection: a
// host's line of such a name would contradict or duplicate the library's.
constexpr std::array<std::u16string_view, 18> kReservedHeaders = {
    u"host",          u"content-length",
    u"authorization", u"proxy-authorization",
    u"content-type",  u"user-agent",
    u"accept",        u"connection",
    u"pragma",        u"partner-token",
    u"api-sdk",       u"proxy-connection",
    u"cookie",        u"transfer-encoding",
    u"keep-alive",    u"te",
    u"upgrade",       u"expect"};

// A header name: the token characters of HTTP.
bool IsHeaderName(std::u16string_view name) {
  if (name.empty()) return false;
  for (const char16_t c : name) {
    const bool token = (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') ||
                       (c >= u'0' && c <= u'9') ||
                       std::u16string_view(u"!#$%&'*+-.^_`|~").find(c) != std::u16string_view::npos;
    if (!token) return false;
  }
  return true;
}

// "Name: value" lines, one per line; empty lines are left out, "" is none. Stored with CR LF
// between them.
std::optional<std::u16string> HeaderLines(std::u16string_view value) {
  std::u16string out;
  std::size_t count = 0;
  std::size_t start = 0;
  while (start <= value.size()) {
    std::size_t end = value.find_first_of(u"\r\n", start);
    if (end == std::u16string_view::npos) end = value.size();
    const std::u16string_view line = value.substr(start, end - start);
    start = end + 1;
    if (end < value.size() && value[end] == u'\r' && start < value.size() && value[start] == u'\n')
      ++start;
    if (line.empty()) continue;
    if (HasControl(line) || ++count > 32) return std::nullopt;
    const std::size_t colon = line.find(u':');
    if (colon == std::u16string_view::npos) return std::nullopt;
    const std::u16string_view name = line.substr(0, colon);
    if (!IsHeaderName(name)) return std::nullopt;
    for (const std::u16string_view reserved : kReservedHeaders) {
      if (Lower(name) == reserved) return std::nullopt;
    }
    if (!out.empty()) out += u"\r\n";
    out += line;
  }
  return out;
}

// A host name (the API host's suffix): labels of letters, digits and "-" (not at a label's ends),
// 1 to 63 characters each, joined by single dots; at most 253 characters. It goes into the URL and
// the Host line, so nothing else is taken: no blank, port, "@", "/", "?", "#" or "\\". Stored in
// lower case.
std::optional<std::u16string> HostName(std::u16string_view value) {
  if (value.empty() || value.size() > 253) return std::nullopt;
  const std::u16string lower = Lower(value);
  std::size_t labelStart = 0;
  for (std::size_t at = 0; at <= lower.size(); ++at) {
    if (at < lower.size() && lower[at] != u'.') {
      const char16_t c = lower[at];
      if (!((c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') || c == u'-')) {
        return std::nullopt;
      }
      continue;
    }
    const std::size_t length = at - labelStart;
    if (length == 0 || length > 63) return std::nullopt;
    if (lower[labelStart] == u'-' || lower[at - 1] == u'-') return std::nullopt;
    labelStart = at + 1;
  }
  return lower;
}

constexpr std::array kRows = {
    SettingKey{"timeout.connect-ms", SettingScope::kThread, u"20000", true, &Milliseconds,
               u"a whole number of milliseconds from 1 to 86400000"},
    SettingKey{"timeout.io-ms", SettingScope::kThread, u"30000", true, &Milliseconds,
               u"a whole number of milliseconds from 1 to 86400000"},
    SettingKey{"timeout.call-ms", SettingScope::kThread, u"none", true, &MillisecondsOrNone,
               u"\"none\" or a whole number of milliseconds from 1 to 86400000"},
    SettingKey{"log.secrets", SettingScope::kProcess, u"clear", true, &SecretsShown,
               u"\"clear\" or \"masked\""},
    SettingKey{"log.max-bytes", SettingScope::kProcess, u"unlimited", true, &LogSize,
               u"\"unlimited\" or a whole number of bytes from 1 to 1099511627776"},
    SettingKey{"log.file", SettingScope::kProcess, u"Call Logs.txt", false, &LogFile,
               u"a file path without control characters, or \"\" or \"off\" for no log"},
    SettingKey{"proxy.credentials-in-tunnel", SettingScope::kThread, u"on", true, &OnOrOff,
               u"\"on\" or \"off\""},
    SettingKey{
        "request.headers", SettingScope::kThread, u"", true, &HeaderLines,
        u"\"Name: value\" lines (at most 32) without control characters, none of a header the "
        u"library sets itself",
        true},
    SettingKey{"connection.reuse", SettingScope::kThread, u"off", true, &OnOrOff,
               u"\"on\" or \"off\""},
    SettingKey{"connection.idle-ms", SettingScope::kThread, u"30000", true, &Milliseconds,
               u"a whole number of milliseconds from 1 to 86400000"},
    // Where the calls go: never from the endpoint file, whose writer could otherwise redirect the
    // traffic, credentials included.
    SettingKey{"api.host", SettingScope::kProcess, u"" TESSORA_API_HOST, false, &HostName,
               u"a host name: labels of letters, digits and \"-\" joined by dots, at most 253 "
               u"characters"},
    SettingKey{"tls.max-version", SettingScope::kThread, u"1.2", true, &TlsVersion,
               u"\"1.2\" or \"1.3\""},
    // What the process trusts: never from the endpoint file, whose writer could otherwise have
    // the calls trust a server of theirs.
    SettingKey{"tls.ca-file", SettingScope::kProcess, u"", false, &AnyPath,
               u"the path of a PEM file without control characters, or \"\" for none"},
    // How the host's own code encodes its strings: never from the endpoint file.
    SettingKey{"text.encoding", SettingScope::kThread, kAnsiEncoding, false, &TextEncoding,
               u"\"ansi\" or \"utf-8\""},
    // Whose credentials and token a thread uses: never from the endpoint file either.
    SettingKey{"config.shared", SettingScope::kProcess, u"off", false, &OnOrOff,
               u"\"on\" or \"off\""},
};

}  // namespace

std::optional<std::int64_t> StrictInteger(std::u16string_view value, std::int64_t lowest,
                                          std::int64_t highest) {
  if (value.empty() || value.size() > 15) return std::nullopt;
  std::int64_t number = 0;
  for (const char16_t c : value) {
    if (c < u'0' || c > u'9') return std::nullopt;
    number = number * 10 + (c - u'0');
  }
  if (number < lowest || number > highest) return std::nullopt;
  return number;
}

const std::vector<SettingKey>& SettingKeys() {
  static const std::vector<SettingKey> kKeys(kRows.begin(), kRows.end());
  return kKeys;
}

const SettingKey* FindSettingKey(std::u16string_view name) {
  for (const SettingKey& key : SettingKeys()) {
    if (AsciiToText(key.name) == name) return &key;
  }
  return nullptr;
}

std::string SettingVariable(std::string_view name) {
  std::string variable(kSettingVariablePrefix);
  for (const char c : name) {
    if (c == '.' || c == '-') {
      variable += '_';
    } else if (c >= 'a' && c <= 'z') {
      variable += static_cast<char>(c - 'a' + 'A');
    } else {
      variable += c;
    }
  }
  return variable;
}

std::optional<std::u16string> AcceptedSettingValue(const SettingKey& key,
                                                   std::u16string_view value) {
  if (value.size() > kLongestSettingValue || (!key.lines && HasControl(value))) return std::nullopt;
  return key.normalise(value);
}

}  // namespace tessora
