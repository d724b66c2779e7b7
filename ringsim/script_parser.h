// The simulated ring's script format: one event per line,
//   [@SECONDS] KIND [FIELD=VALUE ...]
// with fields not named left at 0, and SECONDS the time since the script
// started at which the event is due. Blank lines and lines starting with '#'
// hold no event.
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
