// The console as a command-line tool sees it: being asked to stop, whether
// standard output is a terminal and how large it is, and unbuffered writes
// that a program can make from any thread.
#pragma once

#include <cstddef>
#include <functional>
#include <thread>

namespace platform {

// From now on Ctrl+C and termination requests (SIGINT and SIGTERM; on
// Windows the console's Ctrl+C, Ctrl+Break and close events) only set the
// flag that stop_requested() reads.
void watch_for_stop();
bool stop_requested();
// A thread that never takes those signals, so that they reach the main
// thread, whose blocking calls they cut short.
std::thread start_thread(std::function<void()> body);

bool stdout_is_terminal();
// Lets the terminal take escape sequences and UTF-8 text; false when it
// cannot (an old Windows console). restore_terminal() puts back what it
// changed.
bool prepare_terminal();
void restore_terminal();
struct TerminalSize {
  int columns;
  int rows;
};
// 80x24 when the size cannot be had.
TerminalSize terminal_size();

// Whole writes to standard output or error, bypassing C's buffers; false when
// the bytes could not all be written.
bool write_stdout(const char *bytes, std::size_t size);
bool write_stderr(const char *bytes, std::size_t size);

} // namespace platform
