// The endpoint catalogue and the process-wide instance.
#include "catalogue/catalogue.h"

#include <atomic>
#include <memory>
#include <mutex>

#include "base/error.h"
#include "base/text.h"
#include "json/json.h"
#include "platform/file.h"

#if defined(__SANITIZE_ADDRESS__)
#define TESSORA_LEAK_CHECKER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSORA_LEAK_CHECKER 1
#endif
#endif
#if defined(TESSORA_LEAK_CHECKER)
#include <sanitizer/lsan_interface.h>
#endif

namespace tessora {

namespace {

std::atomic<int> g_loadFileRuns{0};

}  // namespace

TTessoraConfigLookup::TTessoraConfigLookup()
    : lookup_{{u"GET", THttpMethod::kGet},
              {u"POST", THttpMethod::kPost},
              {u"PUT", THttpMethod::kPut},
              {u"DELETE", THttpMethod::kDelete}} {}

THttpMethod TTessoraConfigLookup::GetMethodString(std::u16string_view Index) const {
  const auto found = lookup_.find(AsciiUpperCase(Index));
  if (found == lookup_.end()) Raise(ErrorKind::ListError, u"Item not found");
  return found->second;
}

TTessoraConfig::TTessoraConfig(std::u16string fileName) : fileName_(std::move(fileName)) {
  LoadFile();
}

void TTessoraConfig::LoadFile() {
  g_loadFileRuns.fetch_add(1, std::memory_order_relaxed);
  std::u16string text;
  {
    // Others may read the file meanwhile; a writer is refused (and refuses us).
    const std::unique_ptr<platform::File> file = platform::File::OpenRead(fileName_);
    text = EndpointFileText(file->ReadAll());
  }
  TJsonObject root = ParseJsonObject(text);
  // An absent "ENDPOINTS" reads as an object without members: an empty catalogue.
  const TJsonObject endpoints = root.GetObject(u"ENDPOINTS");
  if (endpoints.IsEmpty()) return;
  for (const TJsonObject::Member& member : endpoints.GetEnumerator()) {
    TTessoraConfigItem item;
    // A member written without a value gives no object; it reads as one with neither "route" nor
    // "method", so it fails as a missing method does.
    const TJsonObject operation = member.AsObject();
    if (!operation.IsEmpty()) item.EndPoint = operation.GetString(u"route");
    const TJsonObject again = member.AsObject();
    const std::u16string method = again.IsEmpty() ? std::u16string() : again.GetString(u"method");
    item.Method = tessoraConfigLookup_.GetMethodString(method);
    // Names the reader holds differ in more than ASCII letter case, so none is stored twice.
    endPointsConfig_.insert_or_assign(member.Name(), std::move(item));
  }
}

TTessoraConfigItem TTessoraConfig::GetEndPoint(const std::u16string& Index) const {
  try {
    return endPointsConfig_.at(Index);
  } catch (...) {
    // Whatever went wrong (an unknown name above all), the caller learns only this.
    Raise(u"Problem in endpoint");
  }
}

namespace {

// Built at most once; read without a lock once set. The mutex only serialises first calls, so a
// failed build lets the next caller try again.
std::atomic<TTessoraConfig*> Config{nullptr};
std::mutex g_configMutex;  // set up when the library loads, before any call

}  // namespace

TTessoraConfig& TessoraConfig(const std::u16string& FileName) {
  if (TTessoraConfig* config = Config.load(std::memory_order_acquire)) return *config;
  const std::lock_guard<std::mutex> lock(g_configMutex);
  if (TTessoraConfig* config = Config.load(std::memory_order_acquire)) return *config;
  // Deliberately never released: it lives until the library unloads. A leak checker that looks
  // after the library has been unloaded would otherwise report it.
  auto* config = new TTessoraConfig(FileName);
#if defined(TESSORA_LEAK_CHECKER)
  __lsan_ignore_object(config);
#endif
  Config.store(config, std::memory_order_release);
  return *config;
}

void ResetConfigForTesting() {
  const std::lock_guard<std::mutex> lock(g_configMutex);
  delete Config.exchange(nullptr, std::memory_order_acq_rel);
  g_loadFileRuns.store(0, std::memory_order_relaxed);
}

int LoadFileRunsForTesting() {
  return g_loadFileRuns.load(std::memory_order_relaxed);
}

}  // namespace tessora
