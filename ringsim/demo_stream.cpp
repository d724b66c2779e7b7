#include "ringsim/demo_stream.h"

#include "ring/ring_vocabulary.h"

#include <cmath>

namespace {

// Periods in ticks; the phases put the first of each kind within 2 seconds.
constexpr std::uint64_t joystick_period = 10;
constexpr std::uint64_t button_period = 50;
constexpr std::uint64_t gesture_period = 100;
constexpr int button_count = 10;
constexpr int gesture_count = 6;

RingEvent make(std::int32_t kind) {
  RingEvent event{};
  event.kind = kind;
  return event;
}

} // namespace

int demo_tick_events(std::uint64_t tick, RingEvent (&events)[demo_max_events_per_tick]) {
  const double t = static_cast<double>(tick) * demo_tick_ms / 1000.0;
  int count = 0;

  RingEvent acceleration = make(event_kind::acceleration);
  acceleration.x = static_cast<float>(std::sin(t * 1.3));
  acceleration.y = static_cast<float>(std::cos(t * 0.7));
  acceleration.z = static_cast<float>(-1.0 + 0.2 * std::sin(t * 2.1));
  events[count++] = acceleration;

  RingEvent rotation = make(event_kind::rotation);
  rotation.r_r = static_cast<float>(45.0 * std::sin(t * 0.5));
  rotation.r_p = static_cast<float>(30.0 * std::sin(t * 0.8 + 1.0));
  rotation.r_y = static_cast<float>(std::fmod(t * 20.0, 360.0) - 180.0);
  events[count++] = rotation;

  RingEvent gyroscope = make(event_kind::gyroscope);
  gyroscope.x = static_cast<float>(1.3 * std::cos(t * 1.3));
  gyroscope.y = static_cast<float>(-0.7 * std::sin(t * 0.7));
  gyroscope.z = static_cast<float>(0.42 * std::cos(t * 2.1));
  events[count++] = gyroscope;

  if (tick % joystick_period == 5) {
    RingEvent joystick = make(event_kind::joystick);
    joystick.j_x = static_cast<std::int32_t>(std::lround(100.0 * std::sin(t)));
    joystick.j_y = static_cast<std::int32_t>(std::lround(100.0 * std::cos(t)));
    joystick.j_t = static_cast<std::int32_t>((tick / joystick_period) % 2);
    events[count++] = joystick;
  }

  // A press, then its release 15 ticks later, cycling through the buttons.
  const std::uint64_t button_phase = tick % button_period;
  if (button_phase == 20 || button_phase == 35) {
    RingEvent button = make(event_kind::button);
    button.b_number = static_cast<float>((tick / button_period) % button_count);
    button.b_value = button_phase == 20 ? 1 : 0;
    events[count++] = button;
  }

  if (tick % gesture_period == 60) {
    RingEvent gesture = make(event_kind::gesture);
    gesture.gest_value = static_cast<std::int32_t>(1 + (tick / gesture_period) % gesture_count);
    events[count++] = gesture;
  }
  return count;
}
