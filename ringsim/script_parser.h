// The simulated ring's script format: one event per line,
//   KIND [FIELD=VALUE ...]
// with fields not named left at 0. Blank lines and lines starting with '#'
// hold no event.
#pragma once

#include "bridge/ring_sdk.h"

#include <string>

enum class ScriptLine {
  event,     // `event` holds the line's record
  nothing,   // blank or comment
  malformed, // `reason` says why; the line is to be skipped
};

ScriptLine parse_script_line(const std::string &line, RingEvent &event, std::string &reason);
