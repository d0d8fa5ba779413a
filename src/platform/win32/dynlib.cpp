// Shared libraries through LoadLibraryW / LoadLibraryExW, with the system's error box for a missing
// or broken file suppressed while loading; a name without a folder is looked for in the system's
// order, but never in the current directory.
#include "platform/dynlib.h"

#include <windows.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "base/fault_injection.h"

namespace tessora::platform {

namespace {

using SetThreadErrorModeFunction = BOOL(WINAPI*)(DWORD, LPDWORD);

// SetThreadErrorMode (Windows 7 and later) changes only this thread; SetErrorMode the process.
SetThreadErrorModeFunction FindSetThreadErrorMode() {
  static const SetThreadErrorModeFunction kFunction = [] {
    HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
    FARPROC found = kernel == nullptr ? nullptr : GetProcAddress(kernel, "SetThreadErrorMode");
    return reinterpret_cast<SetThreadErrorModeFunction>(reinterpret_cast<void*>(found));
  }();
  return kFunction;
}

// A folder the system's search may take a library from: one named in full, not one that depends
// on the current directory or drive ("bin", ".\\x", "\\x").
bool IsAbsoluteFolder(const std::wstring& folder) {
  if (folder.size() >= 3 && folder[1] == L':' && (folder[2] == L'\\' || folder[2] == L'/')) {
    return true;
  }
  return folder.size() >= 2 && (folder[0] == L'\\' || folder[0] == L'/') &&
         (folder[1] == L'\\' || folder[1] == L'/');
}

// The text a system function writes into a buffer: `get` returns the length written or, when the
// buffer is too small, the length it needs (GetModuleFileNameW returns the buffer's size then);
// empty when it fails.
template <class Get>
std::wstring TextFrom(Get get) {
  std::wstring text(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 8; ++attempt) {
    const DWORD n = get(text.data(), static_cast<DWORD>(text.size()));
    if (n == 0) return {};
    if (n < text.size()) {
      text.resize(n);
      return text;
    }
    text.resize(std::max(static_cast<std::size_t>(n) + 1, text.size() * 2));
  }
  return {};
}

// The folders the system searches for a library named without a folder, in its order, but
// without the current directory: the program's folder, the one the host set with
// SetDllDirectory, the system folders, the Windows folder, then the absolute folders of PATH.
std::vector<std::wstring> SearchFolders() {
  std::vector<std::wstring> folders;
  std::wstring program = TextFrom(
      [](wchar_t* buffer, DWORD size) { return GetModuleFileNameW(nullptr, buffer, size); });
  const std::size_t slash = program.find_last_of(L"\\/");
  if (slash != std::wstring::npos) folders.push_back(program.substr(0, slash));
  folders.push_back(
      TextFrom([](wchar_t* buffer, DWORD size) { return GetDllDirectoryW(size, buffer); }));
  folders.push_back(
      TextFrom([](wchar_t* buffer, DWORD size) { return GetSystemDirectoryW(buffer, size); }));
  const std::wstring windows =
      TextFrom([](wchar_t* buffer, DWORD size) { return GetWindowsDirectoryW(buffer, size); });
  if (!windows.empty()) folders.push_back(windows + L"\\System");
  folders.push_back(windows);
  const std::wstring path = TextFrom(
      [](wchar_t* buffer, DWORD size) { return GetEnvironmentVariableW(L"PATH", buffer, size); });
  for (std::size_t start = 0; start <= path.size();) {
    std::size_t end = path.find(L';', start);
    if (end == std::wstring::npos) end = path.size();
    folders.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  std::vector<std::wstring> absolute;
  for (std::wstring& folder : folders) {
    if (IsAbsoluteFolder(folder)) absolute.push_back(std::move(folder));
  }
  return absolute;
}

// Loads a library by its full path. Its own imports are looked for in its folder, the program's
// folder, the system folder and the host's AddDllDirectory folders, never in the current
// directory; a system without these search flags (Windows 7 without update KB2533623) refuses
// them, and the imports are then looked for as the standard search does, from the library's
// folder.
HMODULE LoadFullPath(const std::wstring& path) {
  constexpr DWORD kSearch = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_DEFAULT_DIRS;
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, kSearch);
  if (module == nullptr && GetLastError() == ERROR_INVALID_PARAMETER) {
    module = LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  }
  return module;
}

// A library named without a folder, as the system's standard search finds it, except in the
// current directory: that is whatever folder a host's file dialog last moved to, and a DLL of
// the name planted there would run inside the host. One loaded already is the one the system
// hands out, wherever it came from (taken with a reference of its own at once, so that another
// thread's unload cannot slip in between).
HMODULE LoadByName(std::wstring name) {
  if (name.find(L'.') == std::wstring::npos) name += L".dll";  // as LoadLibrary adds it
  HMODULE module = nullptr;
  if (GetModuleHandleExW(0, name.c_str(), &module)) return module;
  for (const std::wstring& folder : SearchFolders()) {
    std::wstring path = folder;
    if (path.back() != L'\\' && path.back() != L'/') path.push_back(L'\\');
    path += name;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      continue;
    }
    module = LoadFullPath(path);
    // A file that is no library for this process (the other width) does not end the search, as
    // it does not the system's; any other failure does, with its own error.
    if (module != nullptr || GetLastError() != ERROR_BAD_EXE_FORMAT) return module;
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

HMODULE Load(const std::wstring& name) {
  if (name.find_first_of(L"\\/:") == std::wstring::npos) return LoadByName(name);
  return IsAbsoluteFolder(name) ? LoadFullPath(name) : LoadLibraryW(name.c_str());
}

}  // namespace

LibraryHandle LoadSharedLibrary(const std::u16string& fileName) {
  if (const int fault = TakeFault(Fault::kLoadLibrary)) {
    SetLastError(static_cast<DWORD>(fault));
    return nullptr;
  }
  const std::wstring name(fileName.begin(), fileName.end());
  const DWORD quiet = SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX;
  HMODULE module;
  if (SetThreadErrorModeFunction setThreadErrorMode = FindSetThreadErrorMode()) {
    DWORD previous = 0;
    setThreadErrorMode(quiet, &previous);
    module = Load(name);
    setThreadErrorMode(previous, nullptr);
  } else {
    const UINT previous = SetErrorMode(quiet);
    module = Load(name);
    SetErrorMode(previous);
  }
  return reinterpret_cast<LibraryHandle>(module);
}

void* LibraryFunction(LibraryHandle library, const char* name) {
  if (library == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void UnloadSharedLibrary(LibraryHandle library) {
  if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

std::u16string ModuleDirectory() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&ModuleDirectory), &module)) {
    return {};
  }
  // A path longer than the buffer comes back cut short: try again with a larger one.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return {};
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    if (path.size() >= 32768) return {};
    path.resize(path.size() * 2);
  }
  const std::size_t slash = path.find_last_of(L"\\/");
  if (slash == std::wstring::npos) return {};
  return std::u16string(path.begin(), path.begin() + static_cast<std::ptrdiff_t>(slash));
}

bool ProcessIsExiting() {
  using ShutdownInProgressFunction = BOOLEAN(WINAPI*)();
  static const ShutdownInProgressFunction kFunction = [] {
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    FARPROC found = ntdll == nullptr ? nullptr : GetProcAddress(ntdll, "RtlDllShutdownInProgress");
    return reinterpret_cast<ShutdownInProgressFunction>(reinterpret_cast<void*>(found));
  }();
  return kFunction != nullptr && kFunction() != 0;
}

}  // namespace tessora::platform
