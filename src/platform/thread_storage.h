// One pointer per thread, with a callback when a thread that holds a value ends, and what the
// library needs to tell an unload from the end of the process.
#pragma once

namespace tessora::platform {

using ThreadEndCallback = void (*)(void* value);

// Sets the storage up when the library loads. `onThreadEnd` runs on a thread that ends while its
// value is set (not for the thread that unloads the library, which cleans up itself).
void InitThreadStorage(ThreadEndCallback onThreadEnd);
// Gives the storage up when the library unloads. Afterwards no thread sees its value any more and
// no `onThreadEnd` starts; callbacks that had begun have returned when this returns, so that the
// library's code and data may go. Values still held by other threads are dropped: the caller
// releases what they refer to.
//
// POSIX: the one case this cannot cover is a thread whose end the C library has already begun to
// process, having picked the key's destructor before the key was deleted, but which has not yet
// entered it by the time the unload is done; that takes a few instructions, during which the
// thread must be suspended for the whole unload to meet it. The wait is bounded (see
// posix/thread_storage.cpp).
void DoneThreadStorage();

void* GetThreadValue();
void SetThreadValue(void* value);

// Called by the Windows entry point when a thread detaches.
void NotifyThreadEnd();

// Makes ExitHasBegun() reliable; the library calls it at every call (the first one does the
// work). POSIX: registers a handler that exit() runs before the library's unload entry point;
// it has to be registered once the program runs, see posix/thread_storage.cpp. Windows: nothing
// (the entry point is told).
void WatchForExit();
// Whether the process has begun to end through exit() (POSIX). Other threads may then still be
// inside a call of the library, and the TLS library may already have cleaned up: nothing may be
// released on their behalf. From then on no `onThreadEnd` starts. Windows: false; DllMain's
// reserved argument tells the end of the process.
bool ExitHasBegun();

}  // namespace tessora::platform
