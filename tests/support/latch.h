// A count-down latch for tests that start threads: each thread counts down, and the test waits
// until all have.
#pragma once

#include <condition_variable>
#include <mutex>

namespace tessora::test {

// Counts down to zero; waiters wake when it gets there.
class Latch {
 public:
  explicit Latch(int count) : count_(count) {}
  void CountDown() {
    std::lock_guard<std::mutex> guard(lock_);
    if (--count_ == 0) zero_.notify_all();
  }
  void Wait() {
    std::unique_lock<std::mutex> guard(lock_);
    zero_.wait(guard, [this] { return count_ <= 0; });
  }

 private:
  std::mutex lock_;
  std::condition_variable zero_;
  int count_;
};

}  // namespace tessora::test
