// The entry points of a libFuzzer target. The fuzzing build links libFuzzer's driver; the replay
// build (fuzz/replay_main.cpp) runs the same target on its corpus without the fuzzing engine, as a
// regression test in the normal stages.
#pragma once

#include <cstddef>
#include <cstdint>

extern "C" {
// Runs one input; a finding aborts (or is reported by a sanitizer).
int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);
// Optional: set-up once per process.
int LLVMFuzzerInitialize(int* argc, char*** argv);
// Optional: a structure-aware mutation of `data` (at most `maxSize` bytes) in place; returns the
// new size.
std::size_t LLVMFuzzerCustomMutator(std::uint8_t* data, std::size_t size, std::size_t maxSize,
                                    unsigned int seed);
// libFuzzer's own mutation, for custom mutators that fall back to it.
std::size_t LLVMFuzzerMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize);
}
