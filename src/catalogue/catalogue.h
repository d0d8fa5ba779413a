// The endpoint catalogue (operation name to route template and HTTP method, read once per process
// from the endpoint file) and the URL resolver that fills route placeholders and the query string
// from the host's name=value blocks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "catalogue/http_method.h"
#include "json/json.h"

namespace tessora {

// One operation of the endpoint file.
struct ConfigItem {
  std::u16string endpoint;  // the route template exactly as the file gives it
  HttpMethod method = HttpMethod::kGet;
};

// The four method names and their HttpMethod.
class ConfigLookup {
 public:
  ConfigLookup();
  // The method `name` names, in any ASCII letter case. Raises a list error "Item not found" for
  // any other text (no trimming: " GET" is not a method).
  HttpMethod MethodNamed(std::u16string_view name) const;

 private:
  std::unordered_map<std::u16string, HttpMethod> lookup_;
};

// The catalogue of one endpoint file. Read-only once constructed, so any number of threads may
// look names up at once.
class Config {
 public:
  // Reads the endpoint file `fileName` (relative paths resolve against the current directory).
  // Only a regular file of at most kMaxEndpointFileBytes is read: a directory, a FIFO or a device
  // fails to open (a FIFO without blocking), a larger file fails. Raises the failure of opening,
  // parsing or reading the file; nothing is kept then.
  explicit Config(std::u16string fileName);
  Config(const Config&) = delete;
  Config& operator=(const Config&) = delete;

  // A copy of the operation stored under exactly `operation` (letter case matters). Raises a plain
  // failure "Problem in endpoint" when there is none.
  ConfigItem GetEndpoint(const std::u16string& operation) const;

  const std::u16string& FileName() const { return fileName_; }
  std::size_t Count() const { return endpoints_.size(); }
  // The members of the file's optional "SETTINGS" object as name and value text, in file order,
  // unchecked: the library's settings decide what they mean. A member that is not text or a
  // whole number, and a "SETTINGS" that is not an object, give nothing. At most kMaxFileSettings.
  const std::vector<std::pair<std::u16string, std::u16string>>& Settings() const {
    return settings_;
  }
  // Which read of an endpoint file in the process this catalogue comes from (1 for the first).
  std::uint64_t ReadNumber() const { return readNumber_; }

 private:
  void LoadFile();
  void ReadSettings(JsonObject& root);

  std::u16string fileName_;
  std::uint64_t readNumber_ = 0;
  std::vector<std::pair<std::u16string, std::u16string>> settings_;
  std::unordered_map<std::u16string, ConfigItem> endpoints_;
  // Declared last so that it is released first.
  ConfigLookup configLookup_;
};

// The most "SETTINGS" members kept; the rest are left out.
inline constexpr std::size_t kMaxFileSettings = 256;

// The largest endpoint file read; a larger one fails the load.
inline constexpr std::size_t kMaxEndpointFileBytes = std::size_t{16} * 1024 * 1024;

// The process-wide catalogue. The first call that loads a catalogue with operations builds it from
// `fileName`; every later call returns it and ignores `fileName`. Concurrent first calls build it
// once. A failed build raises its failure and leaves no catalogue, so the next call, on any
// thread, tries again with its own file name; so does a file without operations (empty, or
// without "ENDPOINTS"): that call gets its empty catalogue, in which every lookup fails, and the
// next call reads the file again, so a deployer who mends it need not restart the host. The
// shared catalogue is never released: it stays valid until the library unloads.
std::shared_ptr<const Config> SharedConfig(const std::u16string& fileName);

// For tests only: drops the process-wide catalogue (no other thread may be using it) and sets the
// count of endpoint-file loads back to zero.
void ResetConfigForTesting();
// For tests only: how many times an endpoint file has been read since the last reset.
int LoadFileRunsForTesting();

// The text of an endpoint file from its bytes: decoded by its byte-order mark (UTF-8, UTF-16 LE,
// UTF-16 BE) or else from the ANSI code page, every line ended by CR LF, cut at the first NUL.
std::u16string EndpointFileText(std::string_view bytes);

// The lines of a text: a line ends at CR LF, a lone CR or a lone LF; one break at the very end adds
// no empty line; an empty text has no lines.
std::vector<std::u16string> SplitLines(std::u16string_view text);

// An ordered list of name=value lines made from one host text block.
class ParameterList {
 public:
  ParameterList() = default;
  explicit ParameterList(std::u16string_view block) : lines_(SplitLines(block)) {}

  std::size_t Count() const { return lines_.size(); }
  const std::u16string& Line(std::size_t index) const { return lines_[index]; }
  // The text before the first "=" of the line, or the whole line without one.
  std::u16string_view Name(std::size_t index) const;
  // The text after the first "=" of the first line that has one and whose name equals `name` with
  // letter case ignored (the user's locale); empty text when there is none.
  std::u16string Value(std::u16string_view name) const;

 private:
  std::vector<std::u16string> lines_;
};

// Applies parameter lists to a URL. Keeps no state; both operations may run on any thread at once.
class UrlResolver {
 public:
  UrlResolver() = delete;

  // The longest URL the route's placeholders are filled into; see ResolveUrlParameters.
  static constexpr std::size_t kMaxResolvedUrl = 65536;

  // For each entry in order, replaces the first occurrence of ":" + its name (letter case ignored)
  // by the value for that name, inserted as it is. Once the URL is longer than kMaxResolvedUrl the
  // later entries are left out and the URL is returned as it is then, for the caller to refuse: a
  // value that holds its own placeholder is filled in again by every later entry of its name, so
  // that a block of a few kilobytes would make a URL of gigabytes.
  static std::u16string ResolveUrlParameters(std::u16string_view url,
                                             const ParameterList& parameters);
  // Appends "?" (or "&" when the URL already has a "?") and the entries joined by "&" and
  // percent-encoded; nothing when the list is empty.
  static std::u16string ResolveOptionalParameters(std::u16string_view url,
                                                  const ParameterList& parameters);
};

}  // namespace tessora
