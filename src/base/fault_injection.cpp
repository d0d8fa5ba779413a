#include "base/fault_injection.h"

#include <array>
#include <atomic>
#include <mutex>

namespace tessora::platform {

namespace {

struct Pending {
  int ErrorCode = 0;
  int Count = 0;
};

struct FaultTable {
  std::mutex Lock;
  std::array<Pending, static_cast<int>(Fault::Count_)> Faults{};
  std::atomic<bool> Any{false};  // lets the normal path skip the lock
};

FaultTable& Table() {
  static FaultTable table;
  return table;
}

}  // namespace

void InjectFault(Fault fault, int errorCode, int count) {
  FaultTable& t = Table();
  std::lock_guard<std::mutex> guard(t.Lock);
  t.Faults[static_cast<int>(fault)] = {errorCode, count};
  t.Any = true;
}

void ClearFaults() {
  FaultTable& t = Table();
  std::lock_guard<std::mutex> guard(t.Lock);
  t.Faults.fill({});
  t.Any = false;
}

int TakeFault(Fault fault) {
  FaultTable& t = Table();
  if (!t.Any) return 0;
  std::lock_guard<std::mutex> guard(t.Lock);
  Pending& p = t.Faults[static_cast<int>(fault)];
  if (p.Count <= 0) return 0;
  --p.Count;
  return p.ErrorCode;
}

}  // namespace tessora::platform
