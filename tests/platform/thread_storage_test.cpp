#include "platform/thread_storage.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace tessora::platform {
namespace {

// POSIX only: on Windows the system runs a thread's detach and the library's unload one after the
// other under its loader lock, and DllMain's argument tells the end of the process.
#if !defined(_WIN32)

// The state of one end-of-thread callback that the test holds up.
struct HeldEnd {
  std::mutex lock;
  std::condition_variable changed;
  bool entered = false;
  bool mayFinish = false;
  bool finished = false;
  int calls = 0;
};
HeldEnd gEnd;

void HoldThreadEnd(void*) {
  std::unique_lock<std::mutex> guard(gEnd.lock);
  ++gEnd.calls;
  gEnd.entered = true;
  gEnd.changed.notify_all();
  gEnd.changed.wait(guard, [] { return gEnd.mayFinish; });
  gEnd.finished = true;
}

int gValue = 0;

// A host that unloads the library while a thread's end-of-thread clean-up is still running: the
// unload must not go on (and take the clean-up's code away) before the clean-up has finished.
TEST(ThreadStorage, DoneWaitsForTheEndOfThreadCallbacksThatAreRunning) {
  {
    // (The state of an earlier run of this test, in the same process, goes.)
    std::lock_guard<std::mutex> guard(gEnd.lock);
    gEnd.entered = gEnd.mayFinish = gEnd.finished = false;
    gEnd.calls = 0;
  }
  InitThreadStorage(&HoldThreadEnd);
  std::thread ending([] { SetThreadValue(&gValue); });
  {
    std::unique_lock<std::mutex> guard(gEnd.lock);
    gEnd.changed.wait(guard, [] { return gEnd.entered; });
  }
  bool finishedWhenDone = false;
  bool done = false;
  std::thread unloading([&] {
    DoneThreadStorage();
    std::lock_guard<std::mutex> guard(gEnd.lock);
    finishedWhenDone = gEnd.finished;
    done = true;
    gEnd.changed.notify_all();
  });
  {
    // Given time to return early (it must not); the outcome does not depend on how long.
    std::unique_lock<std::mutex> guard(gEnd.lock);
    gEnd.changed.wait_for(guard, std::chrono::milliseconds(300), [&] { return done; });
    gEnd.mayFinish = true;
    gEnd.changed.notify_all();
  }
  unloading.join();
  ending.join();
  EXPECT_TRUE(finishedWhenDone);
  EXPECT_EQ(gEnd.calls, 1);
}

int gCalls = 0;
void CountThreadEnd(void*) {
  ++gCalls;
}

TEST(ThreadStorage, NoCallbackStartsOnceTheStorageIsGivenUp) {
  gCalls = 0;
  InitThreadStorage(&CountThreadEnd);
  std::mutex lock;
  std::condition_variable changed;
  bool valueSet = false;
  bool given = false;
  std::thread thread([&] {
    SetThreadValue(&gValue);
    std::unique_lock<std::mutex> guard(lock);
    valueSet = true;
    changed.notify_all();
    changed.wait(guard, [&] { return given; });
    EXPECT_EQ(GetThreadValue(), nullptr);
  });
  {
    std::unique_lock<std::mutex> guard(lock);
    changed.wait(guard, [&] { return valueSet; });
  }
  DoneThreadStorage();
  {
    std::lock_guard<std::mutex> guard(lock);
    given = true;
    changed.notify_all();
  }
  thread.join();
  EXPECT_EQ(gCalls, 0);
}

// A handler registered before the watch runs after the library's, as the unload entry point does
// at exit.
TEST(ThreadStorageDeathTest, ExitHasBegunOnceExitRunsItsHandlers) {
  EXPECT_EXIT(
      {
        std::atexit([] { std::_Exit(ExitHasBegun() ? 42 : 1); });
        WatchForExit();
        if (ExitHasBegun()) std::_Exit(2);
        std::exit(0);
      },
      ::testing::ExitedWithCode(42), "");
}

#endif

}  // namespace
}  // namespace tessora::platform
