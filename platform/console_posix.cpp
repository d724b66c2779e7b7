#ifndef _WIN32

#include "platform/console.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <pthread.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace platform {
namespace {

// Set in a signal handler and read from other threads: only a lock-free
// atomic is safe in both places.
std::atomic<bool> stop_flag{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the stop flag must be lock-free");

extern "C" void on_stop_signal(int /*signal*/) { stop_flag = true; }

bool write_all(int descriptor, const char *bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(descriptor, bytes, size);
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return false;
    }
    bytes += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

} // namespace

void watch_for_stop() {
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a blocked receive returns at once and sees the flag.
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  // A reader that goes away shows as a failed write, not a dead process.
  std::signal(SIGPIPE, SIG_IGN);
}

bool stop_requested() { return stop_flag; }

std::thread start_thread(std::function<void()> body) {
  sigset_t stop_signals;
  sigset_t before;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  // A new thread inherits the mask of the thread that starts it; the mask
  // is put back even when the thread cannot start.
  pthread_sigmask(SIG_BLOCK, &stop_signals, &before);
  struct Restore {
    const sigset_t &mask;
    ~Restore() { pthread_sigmask(SIG_SETMASK, &mask, nullptr); }
  } restore{before};
  return std::thread(std::move(body));
}

bool stdout_is_terminal() { return ::isatty(STDOUT_FILENO) == 1; }

bool prepare_terminal() { return true; }

void restore_terminal() {}

TerminalSize terminal_size() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
    return {80, 24};
  }
  return {size.ws_col, size.ws_row};
}

bool write_stdout(const char *bytes, std::size_t size) {
  return write_all(STDOUT_FILENO, bytes, size);
}

bool write_stderr(const char *bytes, std::size_t size) {
  return write_all(STDERR_FILENO, bytes, size);
}

} // namespace platform

#endif
