// The simulated ring's script format, read and written in one place: one
// event per line,
//   [@SECONDS] KIND [FIELD=VALUE ...]
// with fields not named left at 0, and SECONDS the time since the script
// started at which the event is due. Blank lines and lines starting with '#'
// hold no event. The simulated ring plays scripts; the tap records the
// bridge's datagrams as scripts that replay the same bytes.
#pragma once

#include "bridge/ring_sdk.h"

#include <cstdint>
#include <string>

enum class ScriptLine {
  event,     // `event` holds the line's record
  nothing,   // blank or comment
  malformed, // `reason` says why; the line is to be skipped
};

// `at_us`, when given, gets the line's time in microseconds, or -1 for none.
ScriptLine parse_script_line(const std::string &line, RingEvent &event, std::string &reason,
                             std::int64_t *at_us = nullptr);

// The line, without time or line end, that plays `event` again as the bridge
// sent it: its kind and the fields of the messages the bridge sends for it
// ("1 x=0.5 y=0 z=-1", "0 b_number=3 b_value=1"; "-1" for an empty bundle).
std::string script_line(const RingEvent &event);

// A float as the shortest decimal that reads back to the same float ("-0",
// "inf", "1e-45"); every NaN as "bits:HHHHHHHH", its exact bit pattern.
std::string exact_float_text(std::uint32_t bits);
// An argument of type 'i' or 'f' given as its 32 bits.
std::string argument_text(char type, std::uint32_t bits);
