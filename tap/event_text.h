// The tap's text for what it receives: times, plain message lines and bytes;
// exact values and script lines are the script format's.
#pragma once

#include "tap/bridge_messages.h"

#include <cstdint>
#include <string>

// Seconds with microseconds: "12.000250".
std::string seconds_text(std::int64_t microseconds);

// One line per message, "SECONDS ADDRESS TYPE VALUE\n"; none for an empty bundle.
std::string plain_lines(std::int64_t microseconds, const BridgeEvent &e);
// The bytes as upper-case hex pairs without spaces.
std::string hex_text(const unsigned char *bytes, std::size_t size);
