// What the monitor page asks the tap for: the counts the live view's header
// shows and, per address seen, its latest value (as the argument's bits, so
// that the page shows it exactly), count and range. A page opened in the
// middle of a performance starts from this.
#pragma once

#include "tap/tap_stats.h"

#include <cstdint>
#include <string>

struct StatusExtras {
  std::string listen;
  std::string record_path; // empty: not recording
};

std::string status_json(const TapStats &stats, const StatusExtras &extras, std::int64_t now_us);
