// The simulated ring's schedule: events go out one interval apart on an
// absolute clock, so a late wake-up does not slow the whole stream down.
#pragma once

// When the event after one due at `due` is due, now that it is `now`: one
// interval later, unless delivery has fallen more than an interval behind (a
// debugger, a suspended laptop). Then the schedule restarts from now rather
// than catching up in a burst; no event is skipped either way.
template <typename TimePoint, typename Duration>
TimePoint next_due(TimePoint due, TimePoint now, Duration interval) {
  return (now - due > interval ? now : due) + interval;
}
