#include "net/receive_deadline.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>

#include "platform/clock.h"

namespace tessora {

namespace {

// The scopes in force, one per handshake under a deadline, each on its thread's stack; linked
// under the lock. Plain pointers and a counter: nothing here has a destructor to run at exit while
// another thread may still be in a handshake.
std::mutex gScopesLock;
ReceiveDeadlineScope* gScopes = nullptr;
std::atomic<int> gScopeCount{0};

}  // namespace

ReceiveDeadlineScope::ReceiveDeadlineScope(platform::SocketHandle socket, DateTime deadline,
                                           int socketTimeoutMs)
    : socket_(socket), deadline_(deadline), socketTimeoutMs_(socketTimeoutMs) {
  const std::lock_guard<std::mutex> guard(gScopesLock);
  next_ = gScopes;
  gScopes = this;
  gScopeCount.fetch_add(1, std::memory_order_relaxed);
}

ReceiveDeadlineScope::~ReceiveDeadlineScope() {
  const std::lock_guard<std::mutex> guard(gScopesLock);
  for (ReceiveDeadlineScope** link = &gScopes; *link != nullptr; link = &(*link)->next_) {
    if (*link == this) {
      *link = next_;
      break;
    }
  }
  gScopeCount.fetch_sub(1, std::memory_order_relaxed);
}

int MillisecondsUntil(DateTime deadline) {
  const double left = std::ceil((deadline - platform::NowSteady()) * kMillisecondsInADay);
  return left <= 0.0 ? 0 : static_cast<int>(std::min(left, 2147483647.0));
}

bool WaitToReceive(platform::SocketHandle socket) {
  // Most receives are not a handshake's under a deadline: no lock for them.
  if (gScopeCount.load(std::memory_order_relaxed) == 0) return true;
  ReceiveDeadlineScope* bound = nullptr;
  {
    const std::lock_guard<std::mutex> guard(gScopesLock);
    for (ReceiveDeadlineScope* scope = gScopes; scope != nullptr; scope = scope->next_) {
      if (scope->socket_ == socket) {
        bound = scope;
        break;
      }
    }
  }
  // The scope lives on this thread's stack until its handshake has returned.
  if (bound == nullptr) return true;
  const int left = MillisecondsUntil(bound->deadline_);
  if (left > bound->socketTimeoutMs_) return true;
  if (left > 0 && platform::WaitReadable(socket, left)) return true;
  bound->passed_ = true;
  return false;
}

}  // namespace tessora
