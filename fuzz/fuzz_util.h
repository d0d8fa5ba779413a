// Small helpers shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace tessora::fuzz {

// A broken promise is a finding: the fuzzer names the promise's line, stops and keeps the input.
inline void Check(bool condition, const char* file = __builtin_FILE(),
                  int line = __builtin_LINE()) {
  if (condition) return;
  std::fprintf(stderr, "broken promise at %s:%d\n", file, line);
  std::abort();
}

// Whether the known findings (behaviour of the library that a target reports but tolerates until it
// changes; each target lists its own) fail too: TESSORA_FUZZ_STRICT=1 in the environment.
inline bool Strict() {
  static const bool kStrict = [] {
    const char* value = std::getenv("TESSORA_FUZZ_STRICT");
    return value != nullptr && std::string_view(value) == "1";
  }();
  return kStrict;
}

// The input cut at every `separator` byte into at most `count` fields; the last field keeps the
// rest, separators and all. Missing fields are empty.
inline std::vector<std::string> SplitFields(std::string_view bytes, char separator,
                                            std::size_t count) {
  std::vector<std::string> fields;
  while (fields.size() + 1 < count) {
    const std::size_t at = bytes.find(separator);
    if (at == std::string_view::npos) break;
    fields.emplace_back(bytes.substr(0, at));
    bytes.remove_prefix(at + 1);
  }
  fields.emplace_back(bytes);
  fields.resize(count);
  return fields;
}

}  // namespace tessora::fuzz
