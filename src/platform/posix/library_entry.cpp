// Load and unload hooks of the shared object. The dynamic loader runs them on the thread that
// calls dlopen / dlclose (or exit), like DllMain's process attach and detach on Windows.
#include "platform/library_entry.h"

#include "platform/thread_storage.h"

namespace {

__attribute__((constructor)) void OnLoad() {
  // dlopen cannot be made to fail from here. After a failed start-up the library stays loaded and
  // each export fails in an orderly way when it needs what start-up could not set up.
  (void)tessora::LibraryStartup();
}

__attribute__((destructor)) void OnUnload() {
  // The same hook runs for dlclose and, after the exit handlers, for exit().
  tessora::LibraryShutdown(tessora::platform::ExitHasBegun() ? tessora::ShutdownCause::kProcessExit
                                                             : tessora::ShutdownCause::kUnload);
}

}  // namespace
