// POSIX per-thread storage: a pthread key whose destructor reports the end of a thread. A key, not
// a C++ thread_local, so that nothing of ours runs at thread exit after the library is unloaded.
#include "platform/thread_storage.h"

#include <pthread.h>

namespace tessora::platform {

namespace {
pthread_key_t g_key;
bool g_keyCreated = false;
ThreadEndCallback g_onThreadEnd = nullptr;

extern "C" void OnPosixThreadEnd(void* value) {
  if (value != nullptr && g_onThreadEnd != nullptr) g_onThreadEnd(value);
}
}  // namespace

void InitThreadStorage(ThreadEndCallback onThreadEnd) {
  g_onThreadEnd = onThreadEnd;
  if (!g_keyCreated) g_keyCreated = pthread_key_create(&g_key, OnPosixThreadEnd) == 0;
}

void DoneThreadStorage() {
  if (g_keyCreated) pthread_key_delete(g_key);
  g_keyCreated = false;
  g_onThreadEnd = nullptr;
}

void* GetThreadValue() {
  return g_keyCreated ? pthread_getspecific(g_key) : nullptr;
}

void SetThreadValue(void* value) {
  if (g_keyCreated) pthread_setspecific(g_key, value);
}

// POSIX threads report their end through the key's destructor.
void NotifyThreadEnd() {}

}  // namespace tessora::platform
