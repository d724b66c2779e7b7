#ifndef _WIN32

#include "platform/precise_sleep.h"

#include <thread>

namespace platform {

void sleep_until(std::chrono::steady_clock::time_point deadline) {
  std::this_thread::sleep_until(deadline);
}

} // namespace platform

#endif
