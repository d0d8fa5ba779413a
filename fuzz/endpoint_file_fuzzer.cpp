// Fuzzes the endpoint file: the input bytes are the file. They become text by the file's rules
// (byte-order mark for UTF-8, UTF-16 LE or BE, else the ANSI code page; line breaks made CR LF; cut
// at the first NUL), the catalogue is built from the file as the library builds it, and names taken
// from the text are looked up.
//
// Checked on the way:
// - the text has no NUL, every CR is followed by LF and every LF preceded by CR, and a text that is
//   not empty ends with CR LF (unless it was cut at a NUL);
// - a failed build raises tessora::Error (anything else ends the fuzzer as a crash);
// - a catalogue holds exactly the members of the file's "ENDPOINTS" object as the JSON reader sees
//   them, each under its exact name with its route;
// - a look-up gives an operation with one of the four methods or fails with
//   "Problem in endpoint".
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/error.h"
#include "base/text.h"
#include "catalogue/catalogue.h"
#include "fuzz_target.h"
#include "json/json.h"

namespace {

using tessora::Config;
using tessora::Error;
using tessora::HttpMethod;
using tessora::JsonObject;

// Names looked up per input, at most.
constexpr std::size_t kMaxLookups = 64;

void Check(bool condition) {
  if (!condition) std::abort();
}

// The catalogue reads a file, so each input is written to one; in memory where the system has a
// file system there (a fresh name per process, so that parallel runs do not meet).
std::filesystem::path& FilePath() {
  static std::filesystem::path path = [] {
    std::error_code ignored;
    std::filesystem::path directory("/dev/shm");
    if (!std::filesystem::is_directory(directory, ignored)) {
      directory = std::filesystem::temp_directory_path();
    }
    std::random_device random;
    return directory / ("tessora-endpoint-fuzz-" + std::to_string(random()) + ".json");
  }();
  return path;
}

void RemoveFile() {
  std::error_code ignored;
  std::filesystem::remove(FilePath(), ignored);
}

// `cut`: the bytes hold a zero byte, so the text may have ended at a NUL, without a last line end.
void CheckText(std::u16string_view text, bool cut) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    Check(text[i] != u'\0');
    if (text[i] == u'\r') Check(i + 1 < text.size() && text[i + 1] == u'\n');
    if (text[i] == u'\n') Check(i > 0 && text[i - 1] == u'\r');
  }
  if (!text.empty() && !cut) Check(text.size() >= 2 && text.substr(text.size() - 2) == u"\r\n");
}

bool KnownMethod(HttpMethod method) {
  return static_cast<std::size_t>(method) < std::size(tessora::kMethods);
}

// A look-up either finds an operation or fails with the one message the caller ever learns.
void LookUp(const Config& config, const std::u16string& name) {
  try {
    const tessora::ConfigItem item = config.GetEndpoint(name);
    Check(KnownMethod(item.method));
  } catch (const Error& error) {
    Check(error.Message() == u"Problem in endpoint");
  }
}

// The texts between pairs of double quotes: member names and values of the file, escapes and all.
std::vector<std::u16string> QuotedTexts(std::u16string_view text) {
  std::vector<std::u16string> names;
  std::size_t pos = 0;
  while (names.size() < kMaxLookups) {
    const std::size_t open = text.find(u'"', pos);
    if (open == std::u16string_view::npos) break;
    const std::size_t close = text.find(u'"', open + 1);
    if (close == std::u16string_view::npos) break;
    names.emplace_back(text.substr(open + 1, close - open - 1));
    pos = close + 1;
  }
  return names;
}

// The catalogue against the JSON reader's view of the same text.
void CheckAgainstReader(const Config& config, std::u16string_view text) {
  JsonObject root;
  try {
    root = tessora::ParseJsonObject(text);
  } catch (const Error&) {
    std::abort();  // the catalogue was built from this very text
  }
  const JsonObject endpoints = root.GetObject(u"ENDPOINTS");
  if (endpoints.IsEmpty()) {
    Check(config.Count() == 0);
    return;
  }
  const auto members = endpoints.GetEnumerator();
  Check(config.Count() == members.size());
  for (const JsonObject::Member& member : members) {
    const tessora::ConfigItem item = config.GetEndpoint(member.Name());
    const JsonObject operation = member.AsObject();
    Check(item.endpoint ==
          (operation.IsEmpty() ? std::u16string() : operation.GetString(u"route")));
    Check(KnownMethod(item.method));
    // The same name in another ASCII letter case is another name (or a member of its own).
    const std::u16string upper = tessora::AsciiUpperCase(member.Name());
    if (upper != member.Name()) LookUp(config, upper);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  std::atexit(RemoveFile);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::u16string text = tessora::EndpointFileText(bytes);
  CheckText(text, bytes.find('\0') != std::string_view::npos);
  {
    std::ofstream file(FilePath(), std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    Check(file.good());
  }

  std::unique_ptr<Config> config;
  try {
    config = std::make_unique<Config>(FilePath().u16string());
  } catch (const Error&) {
    // A file the catalogue refuses; the JSON reader's errors, a missing "method" and the like.
    return 0;
  }
  CheckAgainstReader(*config, text);
  for (const std::u16string& name : QuotedTexts(text))
    LookUp(*config, name);
  LookUp(*config, u"");
  LookUp(*config, u"AUTHORIZE");
  return 0;
}
