// Windows files: CreateFileW with share modes, GetFullPathNameW and FormatMessageW.
#include "platform/file.h"

// clang-format off
#include <windows.h>
#include <sddl.h>
// clang-format on

#include <algorithm>
#include <string>
#include <vector>

#include "base/fault_injection.h"

namespace tessora::platform {

struct File::Handle {
  HANDLE h = INVALID_HANDLE_VALUE;
  ~Handle() {
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
  }
};

namespace {

const wchar_t* Wide(const std::u16string& text) {
  return reinterpret_cast<const wchar_t*>(text.c_str());
}

bool FileExists(const std::u16string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(path));
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Whether an open handle is a reparse point (a symbolic link, a junction, a mount point): opened
// with FILE_FLAG_OPEN_REPARSE_POINT, the handle is the link itself, not what it points to.
bool IsReparsePoint(HANDLE handle) {
  if (TakeFault(Fault::kLinkedFile) != 0) return true;
  BY_HANDLE_FILE_INFORMATION information{};
  return GetFileInformationByHandle(handle, &information) != 0 &&
         (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// The security of a file only the user the process runs as may use (with SYSTEM and the
// Administrators, who can anyway), not the folder's, which may let every local user read it: the
// log holds credentials and tokens. Empty when it cannot be made; the file then takes the
// folder's, as any file the process creates.
class PrivateFileSecurity {
 public:
  PrivateFileSecurity() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> user(size);
    wchar_t* sid = nullptr;
    if (size != 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
        ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid)) {
      // Protected (P): nothing inherited from the folder. FA: all access.
      const std::wstring sddl = L"D:P(A;;FA;;;" + std::wstring(sid) + L")(A;;FA;;;SY)(A;;FA;;;BA)";
      LocalFree(sid);
      if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                               &descriptor_, nullptr)) {
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = descriptor_;
        attributes_.bInheritHandle = FALSE;
      }
    }
    CloseHandle(token);
  }
  ~PrivateFileSecurity() {
    if (descriptor_ != nullptr) LocalFree(descriptor_);
  }
  PrivateFileSecurity(const PrivateFileSecurity&) = delete;
  PrivateFileSecurity& operator=(const PrivateFileSecurity&) = delete;

  SECURITY_ATTRIBUTES* Attributes() { return descriptor_ != nullptr ? &attributes_ : nullptr; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_{};
};

}  // namespace

File::File(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
File::~File() = default;

std::unique_ptr<File> File::OpenRead(const std::u16string& path) {
  if (const int fault = TakeFault(Fault::kFileOpen)) RaiseFileError(false, path, fault);
  HANDLE h = CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) RaiseFileError(false, path, static_cast<int>(GetLastError()));
  auto handle = std::make_unique<Handle>();
  handle->h = h;
  // A pipe ("\\.\pipe\...") or a device ("CON", "NUL") is no file to read.
  if (GetFileType(h) != FILE_TYPE_DISK) RaiseNotARegularFile(path);
  return std::unique_ptr<File>(new File(std::move(handle)));
}

std::unique_ptr<File> File::OpenAppend(const std::u16string& path) {
  HANDLE h = INVALID_HANDLE_VALUE;
  if (FileExists(path)) {
    if (const int fault = TakeFault(Fault::kFileOpen)) RaiseFileError(false, path, fault);
    h = CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) RaiseFileError(false, path, static_cast<int>(GetLastError()));
    if (IsReparsePoint(h)) {
      CloseHandle(h);
      RaiseFileError(false, path, ERROR_CANT_ACCESS_FILE);
    }
    // Nor into a file with another name as well: a hard link that a local user made in the place
    // of the log to a file of this user's would have the records appended to that file.
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileInformationByHandle(h, &information) && information.nNumberOfLinks > 1) {
      CloseHandle(h);
      RaiseFileError(false, path, ERROR_ACCESS_DENIED);
    }
    // SetFilePointerEx: SetFilePointer without the high part fails for a file of 4 GiB or more
    // and leaves the position at the start, where the records would overwrite the file.
    if (!SetFilePointerEx(h, LARGE_INTEGER{}, nullptr, FILE_END)) {
      const auto error = static_cast<int>(GetLastError());
      CloseHandle(h);
      RaiseFileError(false, path, error);
    }
  } else {
    if (const int fault = TakeFault(Fault::kFileCreate)) RaiseFileError(true, path, fault);
    // CREATE_NEW: a link planted meanwhile (even a dangling one) is not followed to its target.
    PrivateFileSecurity security;
    h = CreateFileW(Wide(path), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                    security.Attributes(), CREATE_NEW,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) RaiseFileError(true, path, static_cast<int>(GetLastError()));
  }
  auto handle = std::make_unique<Handle>();
  handle->h = h;
  return std::unique_ptr<File>(new File(std::move(handle)));
}

std::string File::ReadAll(std::size_t limit) {
  std::string data;
  char buffer[65536];
  DWORD n = 0;
  while (data.size() <= limit) {
    const auto want = static_cast<DWORD>(std::min(sizeof buffer, limit + 1 - data.size()));
    if (!ReadFile(handle_->h, buffer, want, &n, nullptr) || n == 0) break;
    data.append(buffer, n);
  }
  return data;
}

bool File::Write(std::string_view bytes) {
  // WriteFile counts in DWORD: a record longer than that (64-bit hosts) goes in slices.
  constexpr std::size_t kSlice = 1u << 30;
  for (std::size_t at = 0; at < bytes.size();) {
    const auto want = static_cast<DWORD>(std::min(kSlice, bytes.size() - at));
    DWORD written = 0;
    if (!WriteFile(handle_->h, bytes.data() + at, want, &written, nullptr) || written != want) {
      return false;
    }
    at += want;
  }
  return true;
}

std::uint64_t File::Size() const {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle_->h, &size) || size.QuadPart < 0) return 0;
  return static_cast<std::uint64_t>(size.QuadPart);
}

bool RenameReplacing(const std::u16string& from, const std::u16string& to) {
  // A reparse point of the new name is replaced itself, not followed.
  return MoveFileExW(Wide(from), Wide(to), MOVEFILE_REPLACE_EXISTING) != 0;
}

std::u16string ExpandFileName(const std::u16string& path) {
  const DWORD n = GetFullPathNameW(Wide(path), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::vector<wchar_t> buffer(n);
  const DWORD written = GetFullPathNameW(Wide(path), n, buffer.data(), nullptr);
  if (written == 0 || written >= n) return path;
  return std::u16string(reinterpret_cast<const char16_t*>(buffer.data()), written);
}

std::u16string PathIndependentOfTheCurrentDirectory(const std::u16string& path) {
  // Windows itself resolves ".." by the text of the path.
  return ExpandFileName(path);
}

std::u16string SystemErrorMessage(int code) {
  wchar_t buffer[512];
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
      nullptr, static_cast<DWORD>(code), 0, buffer, 512, nullptr);
  return TrimSystemMessage(std::u16string(reinterpret_cast<const char16_t*>(buffer), n));
}

}  // namespace tessora::platform
