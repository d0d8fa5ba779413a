// Replays a fuzz target's corpus without the fuzzing engine: every file named on the command line,
// or found in a directory named there, goes through LLVMFuzzerTestOneInput once, in name order. A
// target with a custom mutator also runs a few mutations of every file (with a simple stand-in for
// libFuzzer's own mutation), so that the mutator is exercised too. A finding aborts the program, as
// it would abort the fuzzer.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// The target's entry points (fuzz_target.h); the optional ones are weak, so a target may leave
// them out.
extern "C" {
int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
__attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);
__attribute__((weak)) std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size,
                                                          std::size_t maxSize, unsigned int seed);
std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);
}

namespace {

constexpr int kMutationsPerInput = 32;
constexpr std::size_t kMaxMutatedSize = 65536;

std::uint32_t gMutateState = 0x9E3779B9u;

std::uint32_t NextRandom() {
  // xorshift32: the replay must be the same on every run.
  gMutateState ^= gMutateState << 13;
  gMutateState ^= gMutateState >> 17;
  gMutateState ^= gMutateState << 5;
  return gMutateState;
}

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void RunOne(const std::vector<std::uint8_t>& input) {
  // A copy of its own, so that reads past the end are caught by AddressSanitizer.
  const std::vector<std::uint8_t> copy(input);
  LLVMFuzzerTestOneInput(copy.data(), copy.size());
}

void RunMutations(const std::vector<std::uint8_t>& input) {
  for (int i = 0; i < kMutationsPerInput; ++i) {
    std::vector<std::uint8_t> buffer(input);
    const std::size_t maxSize = std::max(kMaxMutatedSize, buffer.size());
    buffer.resize(maxSize);
    const std::size_t size =
        LLVMFuzzerCustomMutator(buffer.data(), input.size(), maxSize, NextRandom());
    buffer.resize(std::min(size, maxSize));
    RunOne(buffer);
  }
}

}  // namespace

// A stand-in for libFuzzer's mutation: one byte changed, inserted or removed.
extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize) {
  const std::uint32_t choice = NextRandom();
  if (size == 0) {
    if (maxSize == 0) return 0;
    data[0] = static_cast<std::uint8_t>(choice >> 8);
    return 1;
  }
  const std::size_t at = (choice >> 8) % size;
  switch (choice % 3) {
    case 0:
      data[at] = static_cast<std::uint8_t>(data[at] ^ (1u << ((choice >> 4) % 8)));
      return size;
    case 1:
      if (size >= maxSize) return size;
      std::copy_backward(data + at, data + size, data + size + 1);
      data[at] = static_cast<std::uint8_t>(choice >> 16);
      return size + 1;
    default:
      std::copy(data + at + 1, data + size, data + at);
      return size - 1;
  }
}

int main(int argc, char** argv) {
  if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::filesystem::path> files;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path path(argv[i]);
    if (std::filesystem::is_directory(path)) {
      for (const auto& entry : std::filesystem::directory_iterator(path)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
    } else {
      files.push_back(path);
    }
  }
  std::sort(files.begin(), files.end());
  if (files.empty()) {
    std::fprintf(stderr, "no inputs to replay\n");
    return 1;
  }
  for (const std::filesystem::path& file : files) {
    const std::vector<std::uint8_t> input = ReadFile(file);
    RunOne(input);
    if (LLVMFuzzerCustomMutator != nullptr) RunMutations(input);
  }
  std::printf("replayed %zu inputs%s\n", files.size(),
              LLVMFuzzerCustomMutator != nullptr ? " and their mutations" : "");
  return 0;
}
