// Speed of the JSON reader: a large object with many members (~1 MB, as a big endpoint file or
// response might be) and a typical token response (~200 bytes) read as the token capture does.
#include <benchmark/benchmark.h>

#include <string>

#include "base/text.h"
#include "json/json.h"

namespace {

using tessora::IntToText;

// About 1 MB (a million code units): 5300 endpoint-like members, each an object of mixed values.
std::u16string LargeObject() {
  std::u16string text = u"{";
  for (int i = 0; i < 5300; ++i) {
    const std::u16string n = IntToText(i);
    text += u"\"OPERATION_NUMBER_" + n + u"\": {\"route\": \"/v2/checkout/orders/:id/items/" + n +
            u"\", \"method\": \"POST\", \"amount\": " + n + u".25, \"count\": " + n +
            u", \"active\": true, \"created\": \"2024-03-05T10:00:00\", \"note\": null},\n";
  }
  return text + u"}";
}

// About a million code units of flat members: many names in one object.
std::u16string FlatObject() {
  std::u16string text = u"{";
  for (int i = 0; i < 50000; ++i)
    text += u"\"member" + IntToText(i) + u"\": " + IntToText(i) + u",";
  return text + u"}";
}

constexpr std::u16string_view kTokenResponse =
    uR"({"scope":"https://uri.tessora.net/services/payments","access_token":"A21AAFEpH4PsADK7qS)"
    uR"(S7pSRsgzfENtu-Q1ysgEDVDESseMHBYXVJYE8ovjj68elIDy8nF26Aw","token_type":"Bearer",)"
    uR"("app_id":"APP-80W284485P519543T","expires_in":31668})";

void Parse(benchmark::State& state, std::u16string_view text) {
  for (auto _ : state) {
    tessora::JsonObject root = tessora::ParseJsonObject(text);
    benchmark::DoNotOptimize(root);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(text.size() * sizeof(char16_t)));
  state.counters["code units"] = static_cast<double>(text.size());
}

void BmParseLargeObject(benchmark::State& state) {
  Parse(state, LargeObject());
}
BENCHMARK(BmParseLargeObject)->Unit(benchmark::kMillisecond);

void BmParseFlatObject(benchmark::State& state) {
  Parse(state, FlatObject());
}
BENCHMARK(BmParseFlatObject)->Unit(benchmark::kMillisecond);

// The token capture: parse, then read the three members.
void BmTokenResponse(benchmark::State& state) {
  for (auto _ : state) {
    const tessora::JsonObject root = tessora::ParseJsonObject(kTokenResponse);
    benchmark::DoNotOptimize(root.GetString(u"access_token"));
    benchmark::DoNotOptimize(root.GetString(u"token_type"));
    benchmark::DoNotOptimize(root.GetInteger(u"expires_in"));
  }
  state.counters["code units"] = static_cast<double>(kTokenResponse.size());
}
BENCHMARK(BmTokenResponse)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
