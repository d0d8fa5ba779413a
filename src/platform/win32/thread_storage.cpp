// Windows per-thread storage: a TLS index; DllMain reports each thread that detaches.
#include "platform/thread_storage.h"

#include <windows.h>

namespace tessora::platform {

namespace {
DWORD g_index = TLS_OUT_OF_INDEXES;
ThreadEndCallback g_onThreadEnd = nullptr;
}  // namespace

void InitThreadStorage(ThreadEndCallback onThreadEnd) {
  g_onThreadEnd = onThreadEnd;
  if (g_index == TLS_OUT_OF_INDEXES) g_index = TlsAlloc();
}

void DoneThreadStorage() {
  if (g_index != TLS_OUT_OF_INDEXES) TlsFree(g_index);
  g_index = TLS_OUT_OF_INDEXES;
  g_onThreadEnd = nullptr;
}

void* GetThreadValue() {
  return g_index != TLS_OUT_OF_INDEXES ? TlsGetValue(g_index) : nullptr;
}

void SetThreadValue(void* value) {
  if (g_index != TLS_OUT_OF_INDEXES) TlsSetValue(g_index, value);
}

void NotifyThreadEnd() {
  void* value = GetThreadValue();
  if (value == nullptr) return;
  SetThreadValue(nullptr);
  if (g_onThreadEnd != nullptr) g_onThreadEnd(value);
}

}  // namespace tessora::platform
