// POSIX per-thread storage: a pthread key whose destructor reports the end of a thread. A key, not
// a C++ thread_local, so that nothing of ours runs at thread exit after the library is unloaded.
//
// A thread ends on its own schedule, and the host may unload the library meanwhile (a host that
// waits for a signal from its threads, or Python's Thread.join(), returns before the thread's
// key destructors have run). So the destructor counts itself while it runs, and the unload first
// deletes the key (the C library then starts no further destructor of ours) and then waits until
// none is running any more. The count is kept under a mutex whose unlock is the destructor's last
// act: once the unload can take the mutex, the thread is leaving our code.
//
// exit() runs the library's unload entry point too (after the exit handlers), while other threads
// may still be inside a call. A handler of ours, registered at the first call, tells the entry
// point that the process is ending. It is registered with __cxa_atexit and this shared object's
// handle, which ties it to the object: exit() runs it before the entry point, and an unload
// (dlclose) runs it only after the entry point, with the object's static destructors. (Not
// atexit(): a sanitizer's run-time may take that for itself and register the handler for the
// whole process, to run at exit after the library is gone.) It is registered at a call, not at
// load, because a library that the program links is loaded before the C library registers its
// own exit work: a handler registered then would run only after the entry point.
#include "platform/thread_storage.h"

#include <pthread.h>

#include <atomic>

// The C++ ABI's registration of exit handlers, and the handle of this shared object (the program,
// where the code is linked into one).
// NOLINTBEGIN(readability-identifier-naming)
extern "C" int __cxa_atexit(void (*handler)(void*), void* argument, void* dsoHandle);
extern "C" void* __dso_handle;
// NOLINTEND(readability-identifier-naming)

namespace tessora::platform {

namespace {
pthread_key_t gKey;
std::atomic<bool> gKeyCreated{false};
ThreadEndCallback gOnThreadEnd = nullptr;  // guarded by gEndLock

// The end-of-thread callbacks: whether one may start, and how many are running.
pthread_mutex_t gEndLock = PTHREAD_MUTEX_INITIALIZER;
pthread_cond_t gEndsDone = PTHREAD_COND_INITIALIZER;
bool gEndsAllowed = false;
int gEndsRunning = 0;

std::atomic<bool> gExitWatched{false};
std::atomic<bool> gExitBegun{false};

// With gEndLock held.
void StopThreadEnds() {
  gEndsAllowed = false;
  while (gEndsRunning > 0)
    pthread_cond_wait(&gEndsDone, &gEndLock);
}

extern "C" void OnPosixThreadEnd(void* value) {
  pthread_mutex_lock(&gEndLock);
  const ThreadEndCallback callback = gEndsAllowed ? gOnThreadEnd : nullptr;
  if (callback != nullptr) ++gEndsRunning;
  pthread_mutex_unlock(&gEndLock);
  if (callback == nullptr) return;  // the library is unloading, or the process ending
  callback(value);
  pthread_mutex_lock(&gEndLock);
  if (--gEndsRunning == 0) pthread_cond_broadcast(&gEndsDone);
  // Last, so that the compiler can make it a jump: the unload goes on once the mutex is free, and
  // the unlock then returns straight to the C library.
  pthread_mutex_unlock(&gEndLock);
}

extern "C" void OnExit(void*) {
  gExitBegun = true;
  pthread_mutex_lock(&gEndLock);
  StopThreadEnds();
  pthread_mutex_unlock(&gEndLock);
}
}  // namespace

void InitThreadStorage(ThreadEndCallback onThreadEnd) {
  pthread_mutex_lock(&gEndLock);
  gOnThreadEnd = onThreadEnd;
  if (!gKeyCreated && pthread_key_create(&gKey, OnPosixThreadEnd) == 0) gKeyCreated = true;
  gEndsAllowed = gKeyCreated && !gExitBegun;
  pthread_mutex_unlock(&gEndLock);
}

void DoneThreadStorage() {
  pthread_mutex_lock(&gEndLock);
  // The key first: the C library then starts no destructor of ours, and no thread finds a value.
  if (gKeyCreated.exchange(false)) pthread_key_delete(gKey);
  StopThreadEnds();
  gOnThreadEnd = nullptr;
  pthread_mutex_unlock(&gEndLock);
}

void* GetThreadValue() {
  return gKeyCreated ? pthread_getspecific(gKey) : nullptr;
}

void SetThreadValue(void* value) {
  if (gKeyCreated) pthread_setspecific(gKey, value);
}

// POSIX threads report their end through the key's destructor.
void NotifyThreadEnd() {}

void WatchForExit() {
  if (gExitWatched.load(std::memory_order_acquire)) return;
  if (!gExitWatched.exchange(true)) __cxa_atexit(&OnExit, nullptr, &__dso_handle);
}

bool ExitHasBegun() {
  return gExitBegun;
}

}  // namespace tessora::platform
