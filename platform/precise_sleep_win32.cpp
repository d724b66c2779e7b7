#ifdef _WIN32

#include "platform/precise_sleep.h"

#include <thread>
#include <windows.h>

#include <mmsystem.h>

// Windows 10 1803 and later; older headers lack the name.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

namespace platform {
namespace {

// One high-resolution timer per thread, or none where the system refuses
// one; then the system tick is raised to a millisecond for the process.
class ThreadTimer {
public:
  ThreadTimer()
      : handle(::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                        TIMER_ALL_ACCESS)) {
    if (handle == nullptr) {
      static const bool raised = ::timeBeginPeriod(1) == TIMERR_NOERROR;
      static_cast<void>(raised);
    }
  }
  ~ThreadTimer() {
    if (handle != nullptr) {
      ::CloseHandle(handle);
    }
  }
  ThreadTimer(const ThreadTimer &) = delete;
  ThreadTimer &operator=(const ThreadTimer &) = delete;

  HANDLE handle;
};

} // namespace

void sleep_until(std::chrono::steady_clock::time_point deadline) {
  thread_local ThreadTimer timer;
  for (auto now = std::chrono::steady_clock::now(); now < deadline;
       now = std::chrono::steady_clock::now()) {
    if (timer.handle == nullptr) {
      std::this_thread::sleep_until(deadline);
      continue;
    }
    // Relative due times are negative, in 100 ns units.
    LARGE_INTEGER due;
    due.QuadPart =
        -std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now).count() / 100;
    if (due.QuadPart == 0 || !::SetWaitableTimer(timer.handle, &due, 0, nullptr, nullptr, FALSE)) {
      std::this_thread::yield();
      continue;
    }
    ::WaitForSingleObject(timer.handle, INFINITE);
  }
}

} // namespace platform

#endif
