// The simulated ring's schedule. Every event is due at an absolute point
// measured from one start, so late wake-ups are caught up and nothing
// drifts. Times are microseconds: script time as the script gives it, real
// time since playing started.
#pragma once

#include <cmath>
#include <cstdint>

class Pacing {
public:
  // Delivery this far behind is a stall (a debugger, a suspended laptop), not
  // a late wake-up: the rest of the schedule moves instead of racing to catch up.
  static constexpr std::int64_t stall_us = 250000;

  // `speed` divides every wait: 2 plays twice as fast.
  Pacing(std::int64_t interval_us, double speed) : interval_us(interval_us), speed(speed) {}

  // The real time at which the next event is due. `at_us` is its script time,
  // or negative for none: one interval after the event before, the first at
  // once. A time before the previous event's is taken as the previous one's,
  // and `earlier` says so.
  std::int64_t due(std::int64_t at_us, bool &earlier) {
    earlier = at_us >= 0 && previous >= 0 && at_us < previous;
    std::int64_t at = at_us >= 0 ? at_us : previous + interval_us;
    if (previous < 0 && at_us < 0) {
      at = 0;
    }
    previous = earlier ? previous : at;
    return shift + std::llround(static_cast<double>(pass_start + previous) / speed);
  }

  // The wait for an event due at `due_us` ended at `now_us`.
  void woke(std::int64_t due_us, std::int64_t now_us) {
    if (now_us - due_us >= stall_us) {
      shift += now_us - due_us;
    }
  }

  // The script starts again from the top: its times now count from the last
  // event's time plus one interval. Returns how long the pass lasted in
  // script time; 0: played again, it would flood the bridge.
  std::int64_t next_pass() {
    const std::int64_t lasted = (previous < 0 ? 0 : previous) + interval_us;
    pass_start += lasted;
    previous = -1;
    return lasted;
  }

private:
  std::int64_t interval_us;
  double speed;
  std::int64_t pass_start = 0; // script time at which this pass began
  std::int64_t previous = -1;  // script time of this pass's last event; -1: none yet
  std::int64_t shift = 0;      // real time that stalls added
};
