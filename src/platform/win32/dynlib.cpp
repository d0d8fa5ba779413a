// Shared libraries through LoadLibraryW, with the system's error box for a missing or broken file
// suppressed while loading.
#include "platform/dynlib.h"

#include <windows.h>

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
    module = LoadLibraryW(name.c_str());
    setThreadErrorMode(previous, nullptr);
  } else {
    const UINT previous = SetErrorMode(quiet);
    module = LoadLibraryW(name.c_str());
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
