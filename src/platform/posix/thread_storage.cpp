// POSIX per-thread storage: a pthread key whose destructor reports the end of a thread. A key, not
// a C++ thread_local, so that nothing of ours runs at thread exit after the library is unloaded.
//
// A thread ends on its own schedule, and the host may unload the library meanwhile (a host that
// waits for a signal from its threads, or Python's Thread.join(), returns before the thread's
// key destructors have run). So the unload first deletes the key (the C library then starts no
// further destructor of ours) and then waits until every destructor of ours that has begun has
// also returned, before the library's code may go:
//   - the destructor counts itself, under a mutex, as it begins;
//   - it reports its return through a second key, the "finished" key, whose value it sets to a
//     semaphore and whose destructor is sem_post itself: the C library posts the semaphore once
//     our destructor has returned (in the same round of key destructors when the finished key
//     comes after ours, as keys made one after the other do, otherwise in the next round), so
//     that no instruction of ours runs after the post;
//   - the unload takes one post for every destructor counted. It waits at most kEndWaitLimitMs in
//     all: a clean-up closes a connection, which its send time-out bounds, and a post that never
//     comes (glibc runs at most four rounds of key destructors) must not hang the host.
// What remains: a thread whose key destructors the C library has begun to run, having read ours
// before the key was deleted, but which has not yet counted itself when the unload has taken its
// last post, enters or leaves code that is gone. It takes a few instructions; the thread must be
// suspended just there for the whole of the unload.
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
#include <semaphore.h>
#include <time.h>

#include <atomic>
#include <cerrno>

// The C++ ABI's registration of exit handlers, and the handle of this shared object (the program,
// where the code is linked into one).
// NOLINTBEGIN(readability-identifier-naming)
extern "C" int __cxa_atexit(void (*handler)(void*), void* argument, void* dsoHandle);
extern "C" void* __dso_handle;
// NOLINTEND(readability-identifier-naming)

namespace tessora::platform {

namespace {

constexpr long kEndWaitLimitMs = 60000;

pthread_key_t gKey;
std::atomic<bool> gKeyCreated{false};

// The end-of-thread callbacks, under gEndLock: the callback, whether it may start, whether the
// finished key exists, and how many destructors have begun whose post has not been taken.
pthread_mutex_t gEndLock = PTHREAD_MUTEX_INITIALIZER;
ThreadEndCallback gOnThreadEnd = nullptr;
bool gEndsAllowed = false;
pthread_key_t gFinishedKey;
bool gFinishedKeyCreated = false;
int gEndsBegun = 0;
bool gFinishedMade = false;
sem_t gEndsFinished;

std::atomic<bool> gExitWatched{false};
std::atomic<bool> gExitBegun{false};

using SemPost = int (*)(sem_t*);
using KeyDestructor = void (*)(void*);

// With gEndLock held: no callback starts any more, and every destructor that has begun has
// returned (or the wait limit has passed). The lock is let go while waiting.
void StopThreadEnds() {
  gEndsAllowed = false;
  timespec deadline{};
  clock_gettime(CLOCK_REALTIME, &deadline);
  deadline.tv_sec += kEndWaitLimitMs / 1000;
  while (gEndsBegun > 0) {
    --gEndsBegun;
    pthread_mutex_unlock(&gEndLock);
    int result = 0;
    do {
      result = sem_timedwait(&gEndsFinished, &deadline);
    } while (result != 0 && errno == EINTR);
    pthread_mutex_lock(&gEndLock);
    if (result != 0) gEndsBegun = 0;  // the limit has passed: go on without the rest
  }
}

extern "C" void OnPosixThreadEnd(void* value) {
  pthread_mutex_lock(&gEndLock);
  ThreadEndCallback callback = nullptr;
  if (gFinishedKeyCreated && pthread_setspecific(gFinishedKey, &gEndsFinished) == 0) {
    ++gEndsBegun;
    // (Not once the library is unloading, or the process ending: then only counted, so that the
    // unload waits until this thread has left.)
    if (gEndsAllowed) callback = gOnThreadEnd;
  }
  pthread_mutex_unlock(&gEndLock);
  if (callback != nullptr) callback(value);
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
  if (!gFinishedMade) gFinishedMade = sem_init(&gEndsFinished, 0, 0) == 0;
  gOnThreadEnd = onThreadEnd;
  // Ours first, then the finished key: made one after the other, the finished key normally has
  // the higher number, and glibc runs key destructors in the order of their numbers.
  if (!gKeyCreated && gFinishedMade && pthread_key_create(&gKey, OnPosixThreadEnd) == 0) {
    // sem_post as a destructor: the C library calls it with the value, the semaphore. (Cast
    // through void (*)(), which stands for any function type.)
    const auto post = reinterpret_cast<KeyDestructor>(
        reinterpret_cast<void (*)()>(static_cast<SemPost>(&sem_post)));
    if (pthread_key_create(&gFinishedKey, post) == 0) {
      gFinishedKeyCreated = true;
      gKeyCreated = true;
    } else {
      pthread_key_delete(gKey);
    }
  }
  gEndsAllowed = gKeyCreated && !gExitBegun;
  pthread_mutex_unlock(&gEndLock);
}

void DoneThreadStorage() {
  pthread_mutex_lock(&gEndLock);
  // The key first: the C library then starts no destructor of ours, and no thread finds a value.
  if (gKeyCreated.exchange(false)) pthread_key_delete(gKey);
  StopThreadEnds();
  if (gFinishedKeyCreated) pthread_key_delete(gFinishedKey);
  gFinishedKeyCreated = false;
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
