// The endpoint catalogue and the process-wide instance.
#include "catalogue/catalogue.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "base/error.h"
#include "base/leak_checker.h"
#include "base/text.h"
#include "json/json.h"
#include "platform/file.h"

namespace tessora {

namespace {

std::atomic<int> gLoadFileRuns{0};
std::atomic<std::uint64_t> gReads{0};

}  // namespace

ConfigLookup::ConfigLookup() {
  for (const MethodRow& row : kMethods)
    lookup_.emplace(row.name, row.method);
}

HttpMethod ConfigLookup::MethodNamed(std::u16string_view name) const {
  const auto found = lookup_.find(AsciiUpperCase(name));
  if (found == lookup_.end()) Raise(ErrorKind::kListError, u"Item not found");
  return found->second;
}

Config::Config(std::u16string fileName) : fileName_(std::move(fileName)) {
  LoadFile();
}

void Config::LoadFile() {
  gLoadFileRuns.fetch_add(1, std::memory_order_relaxed);
  readNumber_ = gReads.fetch_add(1, std::memory_order_relaxed) + 1;
  std::u16string text;
  {
    // Others may read the file meanwhile; a writer is refused (and refuses us).
    const std::unique_ptr<platform::File> file = platform::File::OpenRead(fileName_);
    const std::string bytes = file->ReadAll(kMaxEndpointFileBytes);
    if (bytes.size() > kMaxEndpointFileBytes) {
      Raise(u"The endpoint file \"" + platform::ExpandFileName(fileName_) +
            u"\" is larger than 16 MiB, the most it may hold.");
    }
    text = EndpointFileText(bytes);
  }
  JsonObject root = ParseJsonObject(text);
  ReadSettings(root);
  // An absent "ENDPOINTS" reads as an object without members: an empty catalogue.
  const JsonObject endpoints = root.GetObject(u"ENDPOINTS");
  if (endpoints.IsEmpty()) return;
  for (const JsonObject::Member& member : endpoints.GetEnumerator()) {
    ConfigItem item;
    // A member written without a value gives no object; it reads as one with neither "route" nor
    // "method", so it fails as a missing method does.
    const JsonObject operation = member.AsObject();
    if (!operation.IsEmpty()) item.endpoint = operation.GetString(u"route");
    const JsonObject again = member.AsObject();
    const std::u16string method = again.IsEmpty() ? std::u16string() : again.GetString(u"method");
    item.method = configLookup_.MethodNamed(method);
    // Names the reader holds differ in more than ASCII letter case, so none is stored twice.
    endpoints_.insert_or_assign(member.Name(), std::move(item));
  }
}

void Config::ReadSettings(JsonObject& root) {
  JsonObject settings;
  try {
    settings = root.GetObject(u"SETTINGS");
  } catch (const Error&) {
    return;  // not an object: no settings, and the operations still count
  }
  if (settings.IsEmpty()) return;
  for (const JsonObject::Member& member : settings.GetEnumerator()) {
    if (settings_.size() >= kMaxFileSettings) break;
    std::u16string value;
    if (member.Kind() == DataType::kString) {
      value = settings.GetString(member.Name());
    } else if (member.Kind() == DataType::kInteger) {
      value = IntToText(settings.GetInteger(member.Name()));
    } else {
      continue;
    }
    settings_.emplace_back(member.Name(), std::move(value));
  }
}

ConfigItem Config::GetEndpoint(const std::u16string& operation) const {
  try {
    return endpoints_.at(operation);
  } catch (...) {
    // Whatever went wrong (an unknown name above all), the caller learns only this.
    Raise(u"Problem in endpoint");
  }
}

namespace {

// Built at most once; read without a lock once set. The mutex only serialises first calls, so a
// failed build lets the next caller try again. The handle itself is never destroyed (it is read
// without a lock); the catalogue lives until the library unloads.
std::atomic<std::shared_ptr<const Config>*> gConfig{nullptr};
std::mutex gConfigMutex;  // set up when the library loads, before any call

}  // namespace

std::shared_ptr<const Config> SharedConfig(const std::u16string& fileName) {
  if (const auto* config = gConfig.load(std::memory_order_acquire)) return *config;
  const std::lock_guard<std::mutex> lock(gConfigMutex);
  if (const auto* config = gConfig.load(std::memory_order_acquire)) return *config;
  auto built = std::make_shared<const Config>(fileName);
  // A file without operations is not kept: it serves this call only.
  if (built->Count() == 0) return built;
  // Deliberately never released: it lives until the library unloads. A leak checker that looks
  // after the library has been unloaded would otherwise report it.
  auto* config = new std::shared_ptr<const Config>(std::move(built));
#if defined(TESSORA_LEAK_CHECKER)
  __lsan_ignore_object(config);
#endif
  gConfig.store(config, std::memory_order_release);
  return *config;
}

void ResetConfigForTesting() {
  const std::lock_guard<std::mutex> lock(gConfigMutex);
  delete gConfig.exchange(nullptr, std::memory_order_acq_rel);
  gLoadFileRuns.store(0, std::memory_order_relaxed);
}

int LoadFileRunsForTesting() {
  return gLoadFileRuns.load(std::memory_order_relaxed);
}

}  // namespace tessora
