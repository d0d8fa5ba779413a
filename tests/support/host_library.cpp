#include "support/host_library.h"

#include <cstdlib>
#include <exception>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>
#endif

namespace tessora::test {

namespace {

std::string ProgramDirectory() {
#if defined(_WIN32)
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string full(path, n);
  return full.substr(0, full.find_last_of("\\/"));
#else
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  std::string full(path, n > 0 ? static_cast<std::size_t>(n) : 0);
  return full.substr(0, full.find_last_of('/'));
#endif
}

template <class T>
void Resolve(const HostLibrary& library, T& function, const char* name) {
  function = reinterpret_cast<T>(library.Symbol(name));
}

}  // namespace

void FreeResultBuffer(char* buffer) {
  std::free(buffer);
}

std::string LibraryPath() {
#if defined(_WIN32)
  return ProgramDirectory() + "\\TessoraNet.dll";
#else
  return ProgramDirectory() + "/libTessoraNet.so";
#endif
}

HostLibrary::HostLibrary() {
#if defined(_WIN32)
  handle_ = reinterpret_cast<void*>(LoadLibraryA(LibraryPath().c_str()));
#else
  handle_ = dlopen(LibraryPath().c_str(), RTLD_NOW | RTLD_LOCAL);
#endif
  if (handle_ == nullptr) return;
  Resolve(*this, ConfigureService, "ConfigureService");
  Resolve(*this, ConfigureProxy, "ConfigureProxy");
  Resolve(*this, TessoraNet, "TessoraNet");
  Resolve(*this, TessoraNetGetInstanceData, "TessoraNetGetInstanceData");
  Resolve(*this, TessoraNetTokenExpired, "TessoraNetTokenExpired");
}

HostLibrary::~HostLibrary() {
  if (handle_ == nullptr) return;
#if defined(_WIN32)
  FreeLibrary(reinterpret_cast<HMODULE>(handle_));
#else
  dlclose(handle_);
#endif
}

void* HostLibrary::Symbol(const char* name) const {
  if (handle_ == nullptr) return nullptr;
#if defined(_WIN32)
  return reinterpret_cast<void*>(GetProcAddress(reinterpret_cast<HMODULE>(handle_), name));
#else
  return dlsym(handle_, name);
#endif
}

#if defined(_WIN32)

namespace {

// An exception registration record on the stack, as the i386 structured exception chain wants it,
// followed by what the handler needs to land back in CatchHostFailure.
struct CatchFrame {
  CatchFrame* Prev;
  void* Handler;
  void* JumpBuffer[5];
  char Message[1024];
};

CatchFrame* ChainHead() {
  CatchFrame* head;
  asm volatile("movl %%fs:0, %0" : "=r"(head));
  return head;
}

void SetChainHead(CatchFrame* head) {
  asm volatile("movl %0, %%fs:0" : : "r"(head) : "memory");
}

extern "C" EXCEPTION_DISPOSITION __cdecl CatchHandler(EXCEPTION_RECORD* record, void* establisher,
                                                      CONTEXT*, void*) {
  if ((record->ExceptionFlags & (EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND)) != 0 ||
      record->ExceptionCode != TESSORANET_FAILURE_CODE) {
    return ExceptionContinueSearch;
  }
  auto* frame = static_cast<CatchFrame*>(establisher);
  const char* message = record->NumberParameters >= 1
                            ? reinterpret_cast<const char*>(record->ExceptionInformation[0])
                            : "";
  lstrcpynA(frame->Message, message, sizeof frame->Message);
  // Unwind the frames registered above ours, then land in CatchHostFailure.
  RtlUnwind(establisher, nullptr, record, nullptr);
  __builtin_longjmp(frame->JumpBuffer, 1);
}

}  // namespace

std::optional<std::string> CatchHostFailure(const std::function<void()>& call) {
  CatchFrame frame{};
  frame.Prev = ChainHead();
  frame.Handler = reinterpret_cast<void*>(&CatchHandler);
  SetChainHead(&frame);
  if (__builtin_setjmp(frame.JumpBuffer) == 0) {
    call();
    SetChainHead(frame.Prev);
    return std::nullopt;
  }
  SetChainHead(frame.Prev);
  return std::string(frame.Message);
}

#else

std::optional<std::string> CatchHostFailure(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::exception& failure) {
    return std::string(failure.what());
  }
  return std::nullopt;
}

#endif

}  // namespace tessora::test
