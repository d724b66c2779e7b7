// The simulated ring's demo: a deterministic stream that shows every data
// kind. Each 30 ms tick moves the ring smoothly (kinds 1, 2 and 9); the
// joystick, the buttons and gestures join now and then.
#pragma once

#include "bridge/ring_sdk.h"

#include <cstdint>

constexpr int demo_tick_ms = 30;
constexpr int demo_max_events_per_tick = 6;

// Fills `events` with the events of tick `tick` and returns how many there are.
int demo_tick_events(std::uint64_t tick, RingEvent (&events)[demo_max_events_per_tick]);
