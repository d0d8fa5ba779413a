// Windows per-thread storage: a TLS index; DllMain reports each thread that detaches.
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

}  // namespace tessora::platform
