// POSIX per-thread storage: a pthread key whose destructor reports the end of a thread. A key, not
// a C++ thread_local, so that nothing of ours runs at thread exit after the library is unloaded.
#include "platform/thread_storage.h"

#include <pthread.h>

namespace tessora::platform {

namespace {
pthread_key_t gKey;
bool gKeyCreated = false;
ThreadEndCallback gOnThreadEnd = nullptr;

extern "C" void OnPosixThreadEnd(void* value) {
  if (value != nullptr && gOnThreadEnd != nullptr) gOnThreadEnd(value);
}
}  // namespace

void InitThreadStorage(ThreadEndCallback onThreadEnd) {
  gOnThreadEnd = onThreadEnd;
  if (!gKeyCreated) gKeyCreated = pthread_key_create(&gKey, OnPosixThreadEnd) == 0;
}

void DoneThreadStorage() {
  if (gKeyCreated) pthread_key_delete(gKey);
  gKeyCreated = false;
  gOnThreadEnd = nullptr;
}

void* GetThreadValue() {
  return gKeyCreated ? pthread_getspecific(gKey) : nullptr;
}

void SetThreadValue(void* value) {
  if (gKeyCreated) pthread_setspecific(gKey, value);
}

// POSIX threads report their end through the key's destructor.
void NotifyThreadEnd() {}

}  // namespace tessora::platform
