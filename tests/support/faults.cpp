#include "tests/support/faults.h"

#include <array>
#include <atomic>

namespace {

std::array<std::atomic<int>, 6> armed{};

std::atomic<int> &slot(faults::FaultPoint point) {
  return armed.at(static_cast<std::size_t>(point));
}

} // namespace

void faults::arm(FaultPoint point, int count) { slot(point).store(count); }
int faults::remaining(FaultPoint point) { return slot(point).load(); }
void faults::disarm_all() {
  for (auto &count : armed) {
    count.store(0);
  }
}

bool platform::fault_armed(FaultPoint point) {
  std::atomic<int> &count = slot(point);
  int left = count.load();
  while (left > 0 && !count.compare_exchange_weak(left, left - 1)) {
  }
  return left > 0;
}
