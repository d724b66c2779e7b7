// The tap's text for what it receives: exact values, plain message lines and
// the simulated ring's script lines, which replay the same bytes.
#pragma once

#include "tap/bridge_messages.h"

#include <cstdint>
#include <string>

// A float as the shortest decimal that reads back to the same float ("-0",
// "inf", "1e-45"); every NaN as "bits:HHHHHHHH", its exact bit pattern.
std::string exact_float_text(std::uint32_t bits);
// An argument of type 'i' or 'f' given as its 32 bits.
std::string argument_text(char type, std::uint32_t bits);
// Seconds with microseconds: "12.000250".
std::string seconds_text(std::int64_t microseconds);

// One line per message, "SECONDS ADDRESS TYPE VALUE\n"; none for an empty bundle.
std::string plain_lines(std::int64_t microseconds, const BridgeEvent &e);
// The script line that plays `e` again, without its line end: "1 x=0.5 y=0 z=-1".
std::string script_line(const BridgeEvent &e);
// The bytes as upper-case hex pairs without spaces.
std::string hex_text(const unsigned char *bytes, std::size_t size);
