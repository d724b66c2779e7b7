// The simulated ring's settings, read from the environment once at start
// (docs/ringsim.md has the whole table). A value it cannot use is said on
// standard error and its default taken.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

struct Settings {
  std::string script; // empty: demo
  std::chrono::microseconds interval{0};
  double speed = 1;
  bool loop = false;
  std::int32_t rings = 1;
  int threads = 1;
  std::string log_path;
  std::string stamps_path;
};

Settings read_settings();
