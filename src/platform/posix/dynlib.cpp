// Shared libraries through dlopen.
#include "platform/dynlib.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <string_view>

#include "base/fault_injection.h"
#include "base/text.h"

namespace tessora::platform {

LibraryHandle LoadSharedLibrary(const std::u16string& fileName) {
  if (TakeFault(Fault::kLoadLibrary) != 0) return nullptr;
  return dlopen(TextToUtf8(fileName).c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* LibraryFunction(LibraryHandle library, const char* name) {
  return library == nullptr ? nullptr : dlsym(library, name);
}

void UnloadSharedLibrary(LibraryHandle library) {
  if (library != nullptr) dlclose(library);
}

std::u16string ModuleDirectory() {
  Dl_info info{};
  std::string path;
  if (dladdr(reinterpret_cast<void*>(&ModuleDirectory), &info) != 0 && info.dli_fname != nullptr &&
      std::string_view(info.dli_fname).find('/') != std::string_view::npos) {
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved) != nullptr) path = resolved;
  }
  if (path.empty()) {
    // The program itself: dladdr names it as it was started, possibly without a folder.
    char link[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", link, sizeof link - 1);
    if (n <= 0) return {};
    path.assign(link, static_cast<std::size_t>(n));
  }
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return {};
  return Utf8ToText(path.substr(0, slash == 0 ? 1 : slash));
}

bool ProcessIsExiting() {
  return false;
}

}  // namespace tessora::platform
