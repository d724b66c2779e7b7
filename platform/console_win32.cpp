#ifdef _WIN32

#include "platform/console.h"

#include <atomic>
#include <windows.h>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace platform {
namespace {

std::atomic<bool> stop_flag{false};

// What prepare_terminal changed, to be put back.
struct SavedConsole {
  bool saved = false;
  DWORD mode = 0;
  UINT code_page = 0;
};
SavedConsole saved_console;

BOOL WINAPI on_console_event(DWORD event) {
  stop_flag = true;
  if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
    // Windows ends the process when this returns: give the main loop time to
    // restore the console and print its summary.
    ::Sleep(1500);
  }
  return TRUE;
}

bool write_all(DWORD which, const char *bytes, std::size_t size) {
  const HANDLE handle = ::GetStdHandle(which);
  while (size > 0) {
    DWORD written = 0;
    const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
    if (!::WriteFile(handle, bytes, chunk, &written, nullptr) || written == 0) {
      return false;
    }
    bytes += written;
    size -= written;
  }
  return true;
}

} // namespace

void watch_for_stop() { ::SetConsoleCtrlHandler(on_console_event, TRUE); }

bool stop_requested() { return stop_flag; }

std::thread start_thread(std::function<void()> body) { return std::thread(std::move(body)); }

bool stdout_is_terminal() {
  DWORD mode = 0;
  return ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

bool prepare_terminal() {
  const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (!::GetConsoleMode(out, &mode)) {
    return false;
  }
  saved_console = {true, mode, ::GetConsoleOutputCP()};
  ::SetConsoleOutputCP(CP_UTF8);
  return ::SetConsoleMode(out, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}

void restore_terminal() {
  if (saved_console.saved) {
    ::SetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), saved_console.mode);
    ::SetConsoleOutputCP(saved_console.code_page);
    saved_console.saved = false;
  }
}

TerminalSize terminal_size() {
  CONSOLE_SCREEN_BUFFER_INFO info;
  if (!::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info)) {
    return {80, 24};
  }
  return {info.srWindow.Right - info.srWindow.Left + 1,
          info.srWindow.Bottom - info.srWindow.Top + 1};
}

bool write_stdout(const char *bytes, std::size_t size) {
  return write_all(STD_OUTPUT_HANDLE, bytes, size);
}

bool write_stderr(const char *bytes, std::size_t size) {
  return write_all(STD_ERROR_HANDLE, bytes, size);
}

} // namespace platform

#endif
