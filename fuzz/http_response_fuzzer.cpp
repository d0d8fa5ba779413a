// Feeds arbitrary server bytes to the HTTP client's response reader through an in-memory channel
// (the input format is described in http_response_harness.h).
#include <cstddef>
#include <cstdint>

#include "fuzz_target.h"
#include "http_response_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  tessora::fuzz::RunServerBytes(data, size);
  return 0;
}
