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
  Resolve(*this, tessoraNetLastErrorKind, "TessoraNetLastErrorKind");
  Resolve(*this, tessoraNetLastHeader, "TessoraNetLastHeader");
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

std::string HostLibrary::LastHeader(const char* name) const {
  char* value = nullptr;
  const int found = tessoraNetLastHeader(name, &value);
  std::string text = value != nullptr ? value : "<null>";
  tessoraNetFree(value);
  if (found == 0) return text.empty() ? "<absent>" : "<absent but " + text + ">";
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
