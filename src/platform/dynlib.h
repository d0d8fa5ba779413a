// Shared libraries loaded at run time by file name.
#pragma once

#include <string>

namespace tessora::platform {

using LibraryHandle = void*;

// Loads a shared library by file name; the platform's standard search order applies when the name
// has no directory, on Windows without the current directory (a library loaded already by that
// name is the one taken). The system's error box for a missing file is suppressed. nullptr on
// failure (also when a Fault::kLoadLibrary is pending).
LibraryHandle LoadSharedLibrary(const std::u16string& fileName);
// The address of an exported function, or nullptr.
void* LibraryFunction(LibraryHandle library, const char* name);
void UnloadSharedLibrary(LibraryHandle library);

// The folder of the module that holds this code (the shared library itself, or the program it is
// linked into), without a trailing separator; empty when it cannot be told.
std::u16string ModuleDirectory();

// Whether the process is ending (Windows: unloading during process exit, when the libraries loaded
// at run time may already have shut down and must not be called or unloaded any more).
bool ProcessIsExiting();

}  // namespace tessora::platform
