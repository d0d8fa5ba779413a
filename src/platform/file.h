// Files with the sharing rules the library needs, and the system's error texts.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tessora::platform {

class File {
 public:
  // Opens a regular file for reading while other readers are allowed and writers refused (Windows
  // share mode; POSIX a shared flock taken without waiting). Raises a file-open failure
  // "Cannot open file "<full path>". <system message>", also for anything but a regular file (a
  // directory, a FIFO, a device), which is opened without waiting for a writer and never read.
  static std::unique_ptr<File> OpenRead(const std::u16string& path);
  // Opens an existing file for reading and writing at its end, or creates it when absent; others
  // may read it but not write it. Raises a file-open or file-create failure. The file is private
  // to the user when created (POSIX mode 0600), and a link in its place (a symbolic link, on
  // Windows any reparse point) is never followed: a local user who plants one cannot make the
  // library write elsewhere or create the link's target. Such a link fails the open.
  static std::unique_ptr<File> OpenAppend(const std::u16string& path);

  ~File();
  File(const File&) = delete;
  File& operator=(const File&) = delete;

  // The contents from the current position, up to `limit` bytes and one more: a result longer
  // than `limit` tells the caller the file holds more.
  std::string ReadAll(std::size_t limit);
  // Writes all bytes with one write call; false when the write failed or was short.
  bool Write(std::string_view bytes);
  // The file's size in bytes now; 0 when the system cannot tell.
  std::uint64_t Size() const;

  struct Handle;

 private:
  explicit File(std::unique_ptr<Handle> handle);
  std::unique_ptr<Handle> handle_;
};

// Renames the file `from` to `to`, replacing a file (or link, which is not followed) of that name.
// False when that failed: `from` is then unchanged.
bool RenameReplacing(const std::u16string& from, const std::u16string& to);

// A path expanded to a full path against the current directory.
std::u16string ExpandFileName(const std::u16string& path);
// The same file named so that a later change of the current directory does not move it: a
// relative path with the current directory before it. Unlike ExpandFileName, POSIX ".." segments
// stay for the system to resolve (after a symbolic link they lead elsewhere than a text rule).
std::u16string PathIndependentOfTheCurrentDirectory(const std::u16string& path);
// The system's text for an error number, without trailing blanks, line breaks and periods.
std::u16string SystemErrorMessage(int code);

// Removes trailing blanks, line breaks and periods from a system message.
std::u16string TrimSystemMessage(std::u16string message);

// Raises "Cannot open file ..." or "Cannot create file ..." for `path` and a system error number.
[[noreturn]] void RaiseFileError(bool create, const std::u16string& path, int code);
// Raises "Cannot open file "<full path>". It is not a regular file".
[[noreturn]] void RaiseNotARegularFile(const std::u16string& path);

}  // namespace tessora::platform
