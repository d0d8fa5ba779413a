// The library's start-up and shutdown, run by the platform's load and unload entry points on the
// loading and the unloading thread.
//
// The one call that runs upward: the entry points (src/platform/<os>/library_entry.cpp, part of
// the shared library only) call these two functions, which src/api/lifecycle.cpp defines. The
// operating system calls the platform layer when the library loads and unloads, and the platform
// layer hands that on to the library as a whole; it includes nothing from above to do so, and no
// other platform code calls upward.
#pragma once

namespace tessora {

// Why the library shuts down.
enum class ShutdownCause {
  // The host unloads it (dlclose, FreeLibrary): everything the library holds for any thread goes.
  kUnload,
  // The process ends: other threads may still be inside a call, and on Windows they have been
  // stopped wherever they were; only the ending thread's own client and log are released.
  kProcessExit,
};

// Runs when the library has been loaded and all its components have started; false makes the
// load fail.
bool LibraryStartup();
// Runs when the library is about to be unloaded, before its components shut down.
void LibraryShutdown(ShutdownCause cause = ShutdownCause::kUnload);

}  // namespace tessora
