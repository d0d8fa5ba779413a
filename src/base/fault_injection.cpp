#include "base/fault_injection.h"

#include <array>
#include <atomic>
#include <mutex>

namespace tessora::platform {

namespace {

struct Pending {
  int errorCode = 0;
  int count = 0;
};

struct FaultTable {
  std::mutex lock;
  std::array<Pending, static_cast<int>(Fault::kCount)> faults{};
  std::atomic<bool> any{false};  // lets the normal path skip the lock
};

FaultTable& Table() {
  static FaultTable table;
  return table;
}

}  // namespace

void InjectFault(Fault fault, int errorCode, int count) {
  FaultTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  t.faults[static_cast<int>(fault)] = {errorCode, count};
  t.any = true;
}

void ClearFaults() {
  FaultTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  t.faults.fill({});
  t.any = false;
}

int TakeFault(Fault fault) {
  FaultTable& t = Table();
  if (!t.any) return 0;
  std::lock_guard<std::mutex> guard(t.lock);
  Pending& p = t.faults[static_cast<int>(fault)];
  if (p.count <= 0) return 0;
  --p.count;
  return p.errorCode;
}

}  // namespace tessora::platform
