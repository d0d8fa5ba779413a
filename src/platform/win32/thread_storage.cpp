// Windows per-thread storage: a TLS index; DllMain reports each thread that detaches.
//
// The system calls DllMain for a thread's detach and for the library's unload under the loader
// lock, one after the other: an end-of-thread callback never runs while the storage is given up,
// and none comes after it (TlsFree also clears the index's value in every thread). The end of the
// process is told by DllMain's reserved argument.
#include "platform/thread_storage.h"

#include <windows.h>

namespace tessora::platform {

namespace {
DWORD gIndex = TLS_OUT_OF_INDEXES;
ThreadEndCallback gOnThreadEnd = nullptr;
}  // namespace

void InitThreadStorage(ThreadEndCallback onThreadEnd) {
  gOnThreadEnd = onThreadEnd;
  if (gIndex == TLS_OUT_OF_INDEXES) gIndex = TlsAlloc();
}

void DoneThreadStorage() {
  if (gIndex != TLS_OUT_OF_INDEXES) TlsFree(gIndex);
  gIndex = TLS_OUT_OF_INDEXES;
  gOnThreadEnd = nullptr;
}

void* GetThreadValue() {
  return gIndex != TLS_OUT_OF_INDEXES ? TlsGetValue(gIndex) : nullptr;
}

void SetThreadValue(void* value) {
  if (gIndex != TLS_OUT_OF_INDEXES) TlsSetValue(gIndex, value);
}

void NotifyThreadEnd() {
  void* value = GetThreadValue();
  if (value == nullptr) return;
  SetThreadValue(nullptr);
  if (gOnThreadEnd != nullptr) gOnThreadEnd(value);
}

void WatchForExit() {}

bool ExitHasBegun() {
  return false;
}

}  // namespace tessora::platform
