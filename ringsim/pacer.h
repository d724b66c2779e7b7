#pragma once

#include "platform/precise_sleep.h"
#include "ringsim/pacing.h"

#include <chrono>
#include <cstdint>

// Waits until each event is due on the schedule; the first goes at once.
class Pacer {
public:
  Pacer(std::chrono::microseconds interval, double speed)
      : pacing(interval.count(), speed), start(std::chrono::steady_clock::now()) {}

  // `at_us` is the event's script time, negative for none. True when that
  // time is before the previous event's.
  bool wait(std::int64_t at_us) {
    bool earlier = false;
    const std::int64_t due = pacing.due(at_us, earlier);
    if (due > elapsed_us()) {
      platform::sleep_until(start + std::chrono::microseconds(due));
    }
    pacing.woke(due, elapsed_us());
    return earlier;
  }

  std::int64_t next_pass() { return pacing.next_pass(); }

private:
  std::int64_t elapsed_us() const {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() -
                                                                 start)
        .count();
  }

  Pacing pacing;
  std::chrono::steady_clock::time_point start;
};
