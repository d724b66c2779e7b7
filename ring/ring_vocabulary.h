// What the bridge, the simulated ring and the tap all mean by an event's kind
// and by the bridge's destination.
#pragma once

#include <cstdint>

namespace event_kind {
constexpr std::int32_t button = 0;
constexpr std::int32_t acceleration = 1;
constexpr std::int32_t rotation = 2;
constexpr std::int32_t joystick = 3;
constexpr std::int32_t gesture = 4;
constexpr std::int32_t gyroscope = 9;
// A ring is there: the bridge subscribes ring 0 and sends an empty bundle.
constexpr std::int32_t ring_connected = 11;
// Not the SDK's: a script's line for an empty bundle that subscribes nothing.
constexpr std::int32_t empty = -1;

// What a kind with messages is, in a word ("rotation"); "" for others.
constexpr const char *name(std::int32_t kind) {
  return kind == button         ? "button"
         : kind == acceleration ? "acceleration"
         : kind == rotation     ? "rotation"
         : kind == joystick     ? "joystick"
         : kind == gesture      ? "gesture"
         : kind == gyroscope    ? "gyroscope"
                                : "";
}
} // namespace event_kind

// Where the bridge sends every event's bundle, and so where the tap listens.
constexpr const char *bridge_host = "localhost";
constexpr std::int32_t bridge_port = 7040;
