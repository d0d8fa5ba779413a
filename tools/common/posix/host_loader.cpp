// POSIX: the library is loaded with dlopen, and a failure leaves an export as a C++ exception.
#include "host_loader.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <exception>

namespace tessora::host {

Library::Library(const std::string& path) {
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* message = dlerror();
    error_ = message != nullptr ? message : "cannot load " + path;
  }
}

Library::~Library() {
  if (handle_ != nullptr) dlclose(handle_);
}

void* Library::Symbol(const char* name) const {
  return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

std::string Library::FilePath() const {
  if (handle_ == nullptr) return {};
  // Any export of the library tells dladdr which object holds it.
  void* symbol = dlsym(handle_, "ConfigureService");
  Dl_info info{};
  if (symbol == nullptr || dladdr(symbol, &info) == 0 || info.dli_fname == nullptr) return {};
  char resolved[PATH_MAX];
  if (realpath(info.dli_fname, resolved) != nullptr) return resolved;
  return info.dli_fname;
}

std::string Library::ResourceVersion() const {
  return {};  // shared objects carry no version resource
}

std::string ProgramDirectory() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path);
  std::string full(path, n > 0 ? static_cast<std::size_t>(n) : 0);
  const std::size_t slash = full.find_last_of('/');
  return slash == std::string::npos ? std::string(".") : full.substr(0, slash);
}

std::string LibraryNextToProgram() {
  const std::string beside = ProgramDirectory() + "/libTessoraNet.so";
  // Installed, the program is in bin/ and the library (by its SONAME) in the library directory.
  const std::string installed =
      ProgramDirectory() + "/../" TESSORA_INSTALL_LIBDIR "/libTessoraNet.so." TESSORA_SOVERSION;
  if (access(beside.c_str(), F_OK) != 0 && access(installed.c_str(), F_OK) == 0) return installed;
  return beside;
}

std::optional<std::string> CatchHostFailure(const std::function<void()>& call) {
  try {
    call();
  } catch (const std::exception& failure) {
    return std::string(failure.what());
  } catch (...) {
    // The library only throws std::exception; anything else still must not end the host.
    return std::string("unknown failure (not a std::exception)");
  }
  return std::nullopt;
}

}  // namespace tessora::host
