// The endpoint catalogue: loading a file of 10,000 operations, and looking operations up; also the
// URL resolver on a typical call.
#include <benchmark/benchmark.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/text.h"
#include "catalogue/catalogue.h"
#include "platform/codepage.h"

namespace {

using namespace tessora;

constexpr int kOperations = 10000;

std::string OperationName(int i) {
  return "OPERATION_" + std::to_string(i);
}

// A realistic endpoint file: one operation per line group, varied methods and routes.
class EndpointFile {
 public:
  EndpointFile() {
    platform::InitAnsiCodePage();
    // A name of its own, so that runs side by side do not share the file.
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("tessora-bench-" + std::to_string(stamp) + ".json");
    static const char* const kMethods[] = {"GET", "POST", "put", "Delete"};
    std::string json = "{\n  \"ENDPOINTS\": {\n";
    for (int i = 0; i < kOperations; ++i) {
      json += "    \"" + OperationName(i) + "\": {\n      \"route\": \"/api/v2/resources/" +
              std::to_string(i) + "/items/:id\",\n      \"method\": \"" + kMethods[i % 4] +
              "\"\n    }" + (i + 1 < kOperations ? ",\n" : "\n");
    }
    json += "  }\n}\n";
    std::ofstream(path_, std::ios::binary) << json;
    bytes_ = json.size();
  }
  ~EndpointFile() {
    std::error_code ignored;
    std::filesystem::remove(path_, ignored);
  }
  std::u16string Path() const { return path_.u16string(); }
  std::size_t Bytes() const { return bytes_; }

 private:
  std::filesystem::path path_;
  std::size_t bytes_ = 0;
};

const EndpointFile& File() {
  static const EndpointFile kFile;
  return kFile;
}

void BmLoadEndpointFile(benchmark::State& state) {
  const std::u16string path = File().Path();
  for (auto _ : state) {
    Config config(path);
    benchmark::DoNotOptimize(config.Count());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * File().Bytes()));
  state.counters["operations"] = kOperations;
}
BENCHMARK(BmLoadEndpointFile)->Unit(benchmark::kMillisecond);

// The decoding share of a load: bytes to text with line breaks normalised.
void BmEndpointFileText(benchmark::State& state) {
  std::string json;
  {
    std::ifstream in(std::filesystem::path(File().Path()), std::ios::binary);
    json.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  for (auto _ : state)
    benchmark::DoNotOptimize(EndpointFileText(json));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * json.size()));
}
BENCHMARK(BmEndpointFileText)->Unit(benchmark::kMillisecond);

void BmGetEndPoint(benchmark::State& state) {
  const Config config(File().Path());
  std::vector<std::u16string> names;
  for (int i = 0; i < kOperations; i += 7)
    names.push_back(AsciiToText(OperationName(i)));
  std::size_t next = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(config.GetEndpoint(names[next]));
    next = next + 1 == names.size() ? 0 : next + 1;
  }
}
BENCHMARK(BmGetEndPoint);

void BmGetEndPointUnknown(benchmark::State& state) {
  const Config config(File().Path());
  const std::u16string name = u"operation_1";
  for (auto _ : state) {
    try {
      config.GetEndpoint(name);
    } catch (const std::exception& error) {
      benchmark::DoNotOptimize(&error);
    }
  }
}
BENCHMARK(BmGetEndPointUnknown);

void BmResolveUrl(benchmark::State& state) {
  const std::u16string url =
      u"https://sandbox.api.tessora.net/api/v2/customers/:customer/items/:id";
  const ParameterList route(u"customer=C-1029\r\nid=77813");
  const ParameterList query(u"limit=50\r\noffset=100\r\nname=Ana Maria\r\nnote=caf\u00E9");
  for (auto _ : state) {
    benchmark::DoNotOptimize(UrlResolver::ResolveOptionalParameters(
        UrlResolver::ResolveUrlParameters(url, route), query));
  }
}
BENCHMARK(BmResolveUrl);

}  // namespace

BENCHMARK_MAIN();
