// POSIX files. Windows share modes become advisory flock locks taken without waiting: a reader
// that lets others read takes a shared lock, the log (others may read, nobody else may write) an
// exclusive one.
#include "platform/file.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <signal.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "base/fault_injection.h"
#include "base/text.h"
#include "platform/codepage.h"

namespace tessora::platform {

struct File::Handle {
  int fd = -1;
  ~Handle() {
    if (fd >= 0) close(fd);
  }
};

namespace {

std::string NativePath(const std::u16string& path) {
  return TextToAnsi(path);
}

// Opens and locks; on failure returns -1 with errno set.
int OpenLocked(const std::string& path, int flags, int lockMode, mode_t mode = 0666) {
  const int fd = open(path.c_str(), flags | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  if (flock(fd, lockMode | LOCK_NB) != 0) {
    const int saved = errno;
    close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

}  // namespace

File::File(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
File::~File() = default;

std::unique_ptr<File> File::OpenRead(const std::u16string& path) {
  if (const int fault = TakeFault(Fault::kFileOpen)) RaiseFileError(false, path, fault);
  // Without blocking: opening a FIFO would otherwise wait for a writer, for ever. What is not a
  // regular file is refused before anything is read (a directory reads nothing, /dev/zero never
  // ends).
  const int fd = open(NativePath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) RaiseFileError(false, path, errno);
  auto handle = std::make_unique<Handle>();
  handle->fd = fd;
  struct stat st {};
  if (fstat(fd, &st) != 0) RaiseFileError(false, path, errno);
  if (S_ISDIR(st.st_mode)) RaiseFileError(false, path, EISDIR);
  if (!S_ISREG(st.st_mode)) RaiseNotARegularFile(path);
  if (flock(fd, LOCK_SH | LOCK_NB) != 0) RaiseFileError(false, path, errno);
  return std::unique_ptr<File>(new File(std::move(handle)));
}

std::unique_ptr<File> File::OpenAppend(const std::u16string& path) {
  const std::string native = NativePath(path);
  struct stat st {};
  // lstat: a link, dangling or not, counts as there, and is then refused by O_NOFOLLOW.
  const bool exists = lstat(native.c_str(), &st) == 0;
  auto handle = std::make_unique<Handle>();
  if (exists) {
    if (const int fault = TakeFault(Fault::kFileOpen)) RaiseFileError(false, path, fault);
    if (TakeFault(Fault::kLinkedFile) != 0) RaiseFileError(false, path, ELOOP);
    // Without blocking: a FIFO planted in the file's place would hold the open (and later every
    // write) for as long as nobody reads it.
    handle->fd = OpenLocked(native, O_RDWR | O_APPEND | O_NOFOLLOW | O_NONBLOCK, LOCK_EX);
    if (handle->fd < 0) RaiseFileError(false, path, errno);
    // Records hold credentials and tokens: they go only into a regular file of this user's. A
    // file another local user left in the place of the log (in a directory others may write)
    // would hand that user whatever the library records.
    struct stat found {};
    if (fstat(handle->fd, &found) != 0) RaiseFileError(false, path, errno);
    if (!S_ISREG(found.st_mode)) RaiseNotARegularFile(path);
    if (found.st_uid != geteuid()) RaiseFileError(false, path, EACCES);
    // Nor into a file with another name as well: a hard link that a local user made in the place
    // of the log to a file of this user's (a start-up script, a file others may read) would have
    // the records appended to that file.
    if (found.st_nlink != 1) RaiseFileError(false, path, EACCES);
    fcntl(handle->fd, F_SETFL, fcntl(handle->fd, F_GETFL) & ~O_NONBLOCK);
  } else {
    if (const int fault = TakeFault(Fault::kFileCreate)) RaiseFileError(true, path, fault);
    // O_EXCL: a link planted after the look above is not followed either.
    handle->fd =
        OpenLocked(native, O_RDWR | O_APPEND | O_CREAT | O_EXCL | O_NOFOLLOW, LOCK_EX, 0600);
    if (handle->fd < 0) RaiseFileError(true, path, errno);
  }
  return std::unique_ptr<File>(new File(std::move(handle)));
}

std::string File::ReadAll(std::size_t limit) {
  std::string data;
  char buffer[65536];
  while (data.size() <= limit) {
    const std::size_t want = std::min(sizeof buffer, limit + 1 - data.size());
    const ssize_t n = read(handle_->fd, buffer, want);
    if (n > 0) {
      data.append(buffer, static_cast<std::size_t>(n));
    } else if (n == 0 || errno != EINTR) {
      break;
    }
  }
  return data;
}

bool File::Write(std::string_view bytes) {
  // A write beyond the process's file size limit (ulimit -f) raises SIGXFSZ, whose default action
  // ends the host. Held back during the write, it leaves the write failing with EFBIG instead, a
  // failure like a full disk's; the signal the write raised is then taken back. A host that holds
  // the signal back itself keeps it as the write left it.
  sigset_t fileSizeSignal;
  sigemptyset(&fileSizeSignal);
  sigaddset(&fileSizeSignal, SIGXFSZ);
  sigset_t previous;
  const bool heldHere = pthread_sigmask(SIG_BLOCK, &fileSizeSignal, &previous) == 0 &&
                        sigismember(&previous, SIGXFSZ) == 0;
  const ssize_t n = write(handle_->fd, bytes.data(), bytes.size());
  const int writeError = errno;
  if (heldHere) {
    if (n < 0 && writeError == EFBIG) {
      const timespec noWait{};
      sigtimedwait(&fileSizeSignal, nullptr, &noWait);
    }
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
  }
  return n >= 0 && static_cast<std::size_t>(n) == bytes.size();
}

std::uint64_t File::Size() const {
  struct stat st {};
  if (fstat(handle_->fd, &st) != 0 || st.st_size < 0) return 0;
  return static_cast<std::uint64_t>(st.st_size);
}

bool RenameReplacing(const std::u16string& from, const std::u16string& to) {
  // rename replaces a link of the new name itself, never what it points to.
  return rename(NativePath(from).c_str(), NativePath(to).c_str()) == 0;
}

std::u16string ExpandFileName(const std::u16string& path) {
  std::u16string full;
  if (path.empty() || path[0] != u'/') {
    std::vector<char> cwd(PATH_MAX);
    if (getcwd(cwd.data(), cwd.size()) != nullptr) full = AnsiToText(cwd.data());
    full += u'/';
  }
  full += path;
  // Remove "." and ".." segments and repeated separators, as the Windows expansion does.
  std::vector<std::u16string> segments;
  std::size_t start = 0;
  while (start <= full.size()) {
    std::size_t end = full.find(u'/', start);
    if (end == std::u16string::npos) end = full.size();
    std::u16string segment = full.substr(start, end - start);
    if (segment == u"..") {
      if (!segments.empty()) segments.pop_back();
    } else if (!segment.empty() && segment != u".") {
      segments.push_back(std::move(segment));
    }
    start = end + 1;
  }
  std::u16string result;
  for (const std::u16string& segment : segments)
    result += u'/' + segment;
  if (result.empty() || full.back() == u'/') result += u'/';
  return result;
}

std::u16string PathIndependentOfTheCurrentDirectory(const std::u16string& path) {
  if (!path.empty() && path[0] == u'/') return path;
  std::vector<char> cwd(PATH_MAX);
  if (getcwd(cwd.data(), cwd.size()) == nullptr) return path;
  std::u16string full = AnsiToText(cwd.data());
  // A directory whose name the code page cannot carry back unchanged: the path as given.
  if (TextToAnsi(full) != cwd.data()) return path;
  if (full.back() != u'/') full += u'/';
  return full + path;
}

std::u16string SystemErrorMessage(int code) {
  char buffer[256];
  // The GNU strerror_r returns a pointer to the message, which may or may not be `buffer`.
  const char* text = strerror_r(code, buffer, sizeof buffer);
  return TrimSystemMessage(AnsiToText(text));
}

}  // namespace tessora::platform
