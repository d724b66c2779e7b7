// Waiting for a point on the steady clock to well under a millisecond, for
// the simulated ring's timed events. Windows rounds ordinary sleeps up to its
// 15.6 ms system tick unless asked otherwise.
#pragma once

#include <chrono>

namespace platform {

void sleep_until(std::chrono::steady_clock::time_point deadline);

} // namespace platform
