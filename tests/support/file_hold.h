// Holds a file open for writing the way another process that loaded the library would: others may
// read it, nobody else may write it.
#pragma once

#include <filesystem>

namespace tessora::test {

class FileHold {
 public:
  explicit FileHold(const std::filesystem::path& file);
  ~FileHold();
  FileHold(const FileHold&) = delete;
  FileHold& operator=(const FileHold&) = delete;
  bool Held() const { return held_; }

 private:
  bool held_ = false;
  long long handle_ = -1;
};

}  // namespace tessora::test
