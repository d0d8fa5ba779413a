// One pointer per thread, with a callback when a thread that holds a value ends.
#pragma once

namespace tessora::platform {

using ThreadEndCallback = void (*)(void* value);

// Sets the storage up when the library loads. `onThreadEnd` runs on a thread that ends while its
// value is set (not for the thread that unloads the library, which cleans up itself).
void InitThreadStorage(ThreadEndCallback onThreadEnd);
// Gives the storage up when the library unloads; values still held by other threads are dropped.
void DoneThreadStorage();

void* GetThreadValue();
void SetThreadValue(void* value);

// Called by the Windows entry point when a thread detaches.
void NotifyThreadEnd();

}  // namespace tessora::platform
