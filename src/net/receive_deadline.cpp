#include "net/receive_deadline.h"

#include <algorithm>
#include <cmath>

#include "platform/clock.h"

namespace tessora {

namespace {

struct ReceiveDeadline {
  bool active = false;
  DateTime deadline = 0.0;
  int socketTimeoutMs = 0;
  bool passed = false;
};

thread_local ReceiveDeadline tDeadline;

}  // namespace

ReceiveDeadlineScope::ReceiveDeadlineScope(DateTime deadline, int socketTimeoutMs) {
  tDeadline = ReceiveDeadline{true, deadline, socketTimeoutMs, false};
}

ReceiveDeadlineScope::~ReceiveDeadlineScope() {
  tDeadline = ReceiveDeadline{};
}

bool ReceiveDeadlineScope::Passed() const {
  return tDeadline.passed;
}

int MillisecondsUntil(DateTime deadline) {
  const double left = std::ceil((deadline - platform::NowSteady()) * kMillisecondsInADay);
  return left <= 0.0 ? 0 : static_cast<int>(std::min(left, 2147483647.0));
}

bool WaitToReceive(platform::SocketHandle socket) {
  ReceiveDeadline& bound = tDeadline;
  if (!bound.active) return true;
  const int left = MillisecondsUntil(bound.deadline);
  if (left > bound.socketTimeoutMs) return true;
  if (left > 0 && platform::WaitReadable(socket, left)) return true;
  bound.passed = true;
  return false;
}

}  // namespace tessora
