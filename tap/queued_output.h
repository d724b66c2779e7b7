// Output on a thread of its own, so that a slow, paused or unread terminal,
// pipe or disk never holds up the datagrams: text waits in a bounded queue,
// and what does not fit is refused, for the caller to count. The thread hands
// everything queued so far to `write_out` at once; with `frame`, it also
// writes what `frame` returns ten times a second.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class QueuedOutput {
public:
  using WriteOut = std::function<void(const std::string &)>;

  QueuedOutput(std::size_t limit_bytes, WriteOut write_out,
               std::function<std::string()> frame = {});
  ~QueuedOutput();
  QueuedOutput(const QueuedOutput &) = delete;
  QueuedOutput &operator=(const QueuedOutput &) = delete;

  // Queues `text`; false when the queue has no room for it.
  bool push(const std::string &text);

  // Writes what is queued, then `last`, and ends the thread. False when the
  // output stays blocked past a second: the thread is then still there, and
  // the process must end without running destructors of what it uses.
  bool finish(const std::string &last = "");

private:
  struct Shared {
    std::mutex mutex;
    std::condition_variable changed;
    std::string pending;
    std::string last;
    bool stopping = false;
    bool done = false;
  };
  static void run(Shared &shared, const WriteOut &write_out,
                  const std::function<std::string()> &frame);

  std::size_t limit;
  std::shared_ptr<Shared> shared;
  std::thread thread;
};
