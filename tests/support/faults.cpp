#include "tests/support/faults.h"

#include <array>
#include <atomic>

namespace {

std::array<std::atomic<int>, static_cast<int>(platform::FaultPoint::count)> armed{};

} // namespace

void faults::arm(FaultPoint point, int count) { armed.at(static_cast<int>(point)) = count; }
int faults::remaining(FaultPoint point) { return armed.at(static_cast<int>(point)); }
void faults::disarm_all() {
  for (std::atomic<int> &count : armed) {
    count = 0;
  }
}

// Counts down, never below zero, whichever threads ask.
bool platform::fault_armed(FaultPoint point) {
  std::atomic<int> &count = armed.at(static_cast<int>(point));
  int left = count;
  while (left > 0 && !count.compare_exchange_weak(left, left - 1)) {
  }
  return left > 0;
}
