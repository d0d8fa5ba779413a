#include "support/temp_dir.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <system_error>

namespace tessora::test {

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  const auto base = std::filesystem::temp_directory_path();
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0; attempt < 100; ++attempt) {
    std::ostringstream name;
    name << "tessora-test-" << stamp << "-" << counter++ << "-" << attempt;
    path_ = base / name.str();
    if (std::filesystem::create_directory(path_)) return;
  }
  throw std::runtime_error("cannot create a temporary directory");
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

ScopedCurrentDir::ScopedCurrentDir(const std::filesystem::path& dir)
    : previous_(std::filesystem::current_path()) {
  std::filesystem::current_path(dir);
}

ScopedCurrentDir::~ScopedCurrentDir() {
  std::error_code ignored;
  std::filesystem::current_path(previous_, ignored);
}

std::string ReadFileBytes(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream data;
  data << in.rdbuf();
  return data.str();
}

void WriteFileBytes(const std::filesystem::path& file, const std::string& bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace tessora::test
