// Standard output on a thread of its own, so that a slow, paused or unread
// terminal or pipe never holds up the datagrams: lines wait in a bounded
// queue, and what does not fit is refused, for the caller to count. In view
// mode the thread draws a frame a tenth of a second apart instead.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class ConsoleWriter {
public:
  static constexpr std::size_t queue_limit = std::size_t{1} << 20; // bytes

  // With `frame`, the thread writes what it returns ten times a second.
  explicit ConsoleWriter(std::function<std::string()> frame = {});
  ~ConsoleWriter();
  ConsoleWriter(const ConsoleWriter &) = delete;
  ConsoleWriter &operator=(const ConsoleWriter &) = delete;

  // Queues `text`; false when the queue has no room for it.
  bool push(const std::string &text);

  // Writes what is queued, then `last`, and lets the thread end. False when
  // the output stays blocked past a second: the thread is then still there,
  // and the process must end without running destructors of what it uses.
  bool finish(const std::string &last);

private:
  struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::string pending;
    std::string last;
    bool stopping = false;
    bool done = false;
  };
  static void run(const std::shared_ptr<Shared> &shared, const std::function<std::string()> &frame);

  std::shared_ptr<Shared> shared;
  std::thread thread;
};
