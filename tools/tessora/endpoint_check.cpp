#include "endpoint_check.h"

#include "base/error.h"
#include "catalogue/catalogue.h"
#include "json/json.h"
#include "platform/codepage.h"
#include "platform/file.h"

namespace tessora::cli {

namespace {

std::string Ansi(std::u16string_view text) {
  return platform::TextToAnsi(text);
}

std::string EncodingOf(const std::string& bytes) {
  if (bytes.rfind("\xEF\xBB\xBF", 0) == 0) return "UTF-8 with byte-order mark";
  if (bytes.rfind("\xFF\xFE", 0) == 0) return "UTF-16 little-endian with byte-order mark";
  if (bytes.rfind("\xFE\xFF", 0) == 0) return "UTF-16 big-endian with byte-order mark";
  return "no byte-order mark: read in the ANSI code page (" +
         std::to_string(platform::AnsiCodePage()) + ")";
}

bool IsNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
         static_cast<unsigned char>(c) >= 0x80;
}

// Each operation of the file as far as the reader gets; the library's verdict comes separately.
void ReadOperations(const std::string& bytes, EndpointReport& report) {
  try {
    JsonObject root = ParseJsonObject(EndpointFileText(bytes));
    const JsonObject endpoints = root.GetObject(u"ENDPOINTS");
    if (endpoints.IsEmpty()) return;
    for (const std::u16string& name : endpoints.ReplacedNames())
      report.namedTwice.push_back(Ansi(name));
    const ConfigLookup lookup;
    for (const JsonObject::Member& member : endpoints.GetEnumerator()) {
      EndpointOperation operation;
      operation.name = Ansi(member.Name());
      try {
        const JsonObject value = member.AsObject();
        if (!value.IsEmpty()) {
          operation.route = Ansi(value.GetString(u"route"));
          const std::u16string method = value.GetString(u"method");
          operation.method = Ansi(method);
          lookup.MethodNamed(method);
          operation.methodValid = true;
        }
      } catch (const Error&) {
        // methodValid stays false: the method, or the value around it, is what the library refuses.
      }
      operation.placeholders = Placeholders(operation.route);
      report.operations.push_back(std::move(operation));
    }
  } catch (const Error&) {
    // The library's own load gives the message.
  }
}

}  // namespace

EndpointReport CheckEndpointFile(const std::string& path) {
  EndpointReport report;
  if (path.empty()) return report;
  try {
    const Config config(platform::AnsiToText(path));
    report.outcome = EndpointReport::Outcome::kLoaded;
    report.settings = config.Settings();
  } catch (const Error& failure) {
    const bool cannotOpen =
        failure.Kind() == ErrorKind::kFileOpen || failure.Kind() == ErrorKind::kFileCreate;
    report.outcome =
        cannotOpen ? EndpointReport::Outcome::kCannotOpen : EndpointReport::Outcome::kInvalid;
    report.message = Ansi(failure.Message());
    if (cannotOpen) return report;
  }
  std::string bytes;
  try {
    // As bounded as the library's own read.
    bytes = platform::File::OpenRead(platform::AnsiToText(path))->ReadAll(kMaxEndpointFileBytes);
  } catch (const Error&) {
    return report;
  }
  report.encoding = EncodingOf(bytes);
  const bool marked = bytes.rfind("\xFF\xFE", 0) == 0 || bytes.rfind("\xFE\xFF", 0) == 0;
  report.looksLikeUtf16WithoutMark = !marked && bytes.find('\0') != std::string::npos;
  ReadOperations(bytes, report);
  return report;
}

std::vector<std::string> Placeholders(std::string_view route) {
  std::vector<std::string> found;
  for (std::size_t at = route.find(':'); at != std::string_view::npos;
       at = route.find(':', at + 1)) {
    std::size_t end = at + 1;
    while (end < route.size() && IsNameCharacter(route[end]))
      ++end;
    if (end > at + 1) found.emplace_back(route.substr(at, end - at));
  }
  return found;
}

RouteCheck CheckRoute(const std::string& route, const std::vector<std::string>& parameters) {
  RouteCheck check;
  std::u16string block;
  for (std::size_t i = 0; i < parameters.size(); ++i) {
    if (i > 0) block += u"\r\n";
    block += platform::AnsiToText(parameters[i]);
  }
  const ParameterList list(block);
  // Entry by entry, as the library fills them: each replaces the first ":name" still in the route
  // (letter case ignored) by the value of the first entry of that name.
  std::u16string current = platform::AnsiToText(route);
  for (std::size_t i = 0; i < list.Count(); ++i) {
    // The library leaves the later entries out and refuses the call.
    if (current.size() > UrlResolver::kMaxResolvedUrl) {
      check.tooLong = true;
      break;
    }
    const std::u16string name(list.Name(i));
    const std::u16string probe =
        UrlResolver::ResolveUrlParameters(current, ParameterList(name + u"=\x1F"));
    if (probe == current) {
      check.unused.push_back(i < parameters.size() ? parameters[i] : Ansi(list.Line(i)));
      continue;
    }
    current =
        UrlResolver::ResolveUrlParameters(current, ParameterList(name + u"=" + list.Value(name)));
  }
  check.route = Ansi(current);
  check.leftOver = Placeholders(check.route);
  return check;
}

}  // namespace tessora::cli
