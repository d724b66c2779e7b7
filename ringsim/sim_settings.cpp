#include "ringsim/sim_settings.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr long long max_threads = 64;
constexpr long long max_interval_us = 3'600'000'000; // an hour

// Reads an integer setting; anything unset or unusable gives `fallback`.
long long env_integer(const char *name, long long fallback, long long low, long long high) {
  const char *text = std::getenv(name);
  if (text == nullptr || *text == '\0') {
    return fallback;
  }
  char *end = nullptr;
  errno = 0;
  const long long value = std::strtoll(text, &end, 10);
  if (*end != '\0' || errno == ERANGE || value < low || value > high) {
    std::fprintf(stderr, "ringsim: ignoring %s=%s: not a whole number from %lld to %lld\n", name,
                 text, low, high);
    return fallback;
  }
  return value;
}

// Reads a decimal setting in the same way.
double env_real(const char *name, double fallback, double low, double high) {
  const char *text = std::getenv(name);
  if (text == nullptr || *text == '\0') {
    return fallback;
  }
  char *end = nullptr;
  const double value = std::strtod(text, &end);
  if (*end != '\0' || !(value >= low && value <= high)) {
    std::fprintf(stderr, "ringsim: ignoring %s=%s: not a number from %g to %g\n", name, text, low,
                 high);
    return fallback;
  }
  return value;
}

} // namespace

Settings read_settings() {
  Settings settings;
  if (const char *script = std::getenv("RINGSIM_EVENTS")) {
    settings.script = script;
  }
  if (const char *log = std::getenv("RINGSIM_LOG")) {
    settings.log_path = log;
  }
  if (const char *stamps = std::getenv("RINGSIM_STAMPS")) {
    settings.stamps_path = stamps;
  }
  settings.interval =
      std::chrono::microseconds(env_integer("RINGSIM_INTERVAL_US", 0, 0, max_interval_us));
  settings.speed = env_real("RINGSIM_SPEED", 1, 0.01, 100);
  settings.loop = env_integer("RINGSIM_LOOP", 0, 0, 1) == 1;
  settings.rings = static_cast<std::int32_t>(env_integer("RINGSIM_RINGS", 1, INT32_MIN, INT32_MAX));
  settings.threads = static_cast<int>(env_integer("RINGSIM_THREADS", 1, 1, max_threads));
  return settings;
}
