// The library's start-up and shutdown, run by the platform's load and unload entry points on the
// loading and the unloading thread.
#pragma once

namespace tessora {

// Runs when the library has been loaded and all its components have started; false makes the
// load fail.
bool LibraryStartup();
// Runs when the library is about to be unloaded, before its components shut down.
void LibraryShutdown();

}  // namespace tessora
