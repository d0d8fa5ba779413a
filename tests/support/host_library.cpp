#include "support/host_library.h"

#include <cstdlib>

namespace tessora::test {

namespace {

template <class T>
void Resolve(const HostLibrary& library, T& function, const char* name) {
  function = reinterpret_cast<T>(library.Symbol(name));
}

}  // namespace

void FreeResultBuffer(char* buffer) {
  std::free(buffer);
}

std::string LibraryPath() {
  return host::LibraryNextToProgram();
}

HostLibrary::HostLibrary() : library_(LibraryPath()) {
  if (!Loaded()) return;
  Resolve(*this, configureService, "ConfigureService");
  Resolve(*this, configureProxy, "ConfigureProxy");
  Resolve(*this, tessoraNet, "TessoraNet");
  Resolve(*this, tessoraNetGetInstanceData, "TessoraNetGetInstanceData");
  Resolve(*this, tessoraNetTokenExpired, "TessoraNetTokenExpired");
  Resolve(*this, tessoraNetFree, "TessoraNetFree");
  Resolve(*this, tessoraNetTry, "TessoraNetTry");
  Resolve(*this, tessoraNetLastStatus, "TessoraNetLastStatus");
  Resolve(*this, tessoraNetLastError, "TessoraNetLastError");
  Resolve(*this, tessoraNetVersion, "TessoraNetVersion");
  Resolve(*this, tessoraNetSetOption, "TessoraNetSetOption");
  Resolve(*this, tessoraNetGetOption, "TessoraNetGetOption");
}

std::string HostLibrary::LastError() const {
  char* reason = nullptr;
  tessoraNetLastError(&reason);
  std::string text = reason != nullptr ? reason : "<null>";
  tessoraNetFree(reason);
  return text;
}

HostLibrary::~HostLibrary() = default;

void* HostLibrary::Symbol(const char* name) const {
  return library_.Symbol(name);
}

std::optional<std::string> CatchHostFailure(const std::function<void()>& call) {
  return host::CatchHostFailure(call);
}

}  // namespace tessora::test
