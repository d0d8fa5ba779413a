#include "support/file_hold.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace tessora::test {

FileHold::FileHold(const std::filesystem::path& file) {
#if defined(_WIN32)
  HANDLE h = CreateFileW(file.wstring().c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  held_ = h != INVALID_HANDLE_VALUE;
  handle_ = reinterpret_cast<long long>(h);
#else
  const int fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  held_ = fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0;
  handle_ = fd;
#endif
}

FileHold::~FileHold() {
#if defined(_WIN32)
  if (handle_ != reinterpret_cast<long long>(INVALID_HANDLE_VALUE)) {
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
  }
#else
  if (handle_ >= 0) close(static_cast<int>(handle_));
#endif
}

}  // namespace tessora::test
