// Shared libraries through dlopen.
#include "platform/dynlib.h"

#include <dlfcn.h>

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

bool ProcessIsExiting() {
  return false;
}

}  // namespace tessora::platform
