// The tap's one way of telling its user something: a line on standard error.
#pragma once

#include "platform/console.h"

#include <string>

inline void say(const std::string &text) {
  const std::string line = "ring2osc-tap: " + text + "\n";
  platform::write_stderr(line.data(), line.size());
}
