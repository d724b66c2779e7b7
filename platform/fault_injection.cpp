#include "platform/fault_injection.h"

#include <array>
#include <atomic>
#include <cstddef>

namespace platform::faults {
namespace {

constexpr std::size_t fault_kinds = 5;
std::array<std::atomic<int>, fault_kinds> armed{};

std::atomic<int> &slot(Fault fault) { return armed.at(static_cast<std::size_t>(fault)); }

} // namespace

void arm(Fault fault, int count) { slot(fault).store(count > 0 ? count : 0); }

int remaining(Fault fault) { return slot(fault).load(); }

void disarm_all() {
  for (auto &count : armed) {
    count.store(0);
  }
}

bool take(Fault fault) {
  std::atomic<int> &count = slot(fault);
  int left = count.load(std::memory_order_relaxed);
  while (left > 0) {
    if (count.compare_exchange_weak(left, left - 1)) {
      return true;
    }
  }
  return false;
}

int take_send_failure() {
  constexpr int interrupted = 10004;         // WSAEINTR
  constexpr int network_unreachable = 10051; // WSAENETUNREACH
  if (take(Fault::send_interrupt)) {
    return interrupted;
  }
  return take(Fault::send) ? network_unreachable : 0;
}

} // namespace platform::faults
