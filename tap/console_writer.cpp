#include "tap/console_writer.h"

#include "platform/console.h"

#include <algorithm>
#include <chrono>

ConsoleWriter::ConsoleWriter(std::function<std::string()> frame)
    : shared(std::make_shared<Shared>()), thread(run, shared, std::move(frame)) {}

ConsoleWriter::~ConsoleWriter() {
  if (thread.joinable()) {
    finish("");
  }
}

bool ConsoleWriter::push(const std::string &text) {
  const std::lock_guard<std::mutex> lock(shared->mutex);
  if (shared->pending.size() + text.size() > queue_limit) {
    return false;
  }
  shared->pending += text;
  shared->changed.notify_one();
  return true;
}

bool ConsoleWriter::finish(const std::string &last) {
  std::unique_lock<std::mutex> lock(shared->mutex);
  shared->stopping = true;
  shared->last = last;
  shared->changed.notify_one();
  const bool done =
      shared->changed.wait_for(lock, std::chrono::seconds(1), [this] { return shared->done; });
  lock.unlock();
  // Once done, the thread only returns, touching nothing of this object; and
  // a thread stuck in a write cannot be joined at all. (Joining after Ctrl+C
  // also fails under qemu-i386, which the x86 tests run on.)
  thread.detach();
  return done;
}

void ConsoleWriter::run(const std::shared_ptr<Shared> &shared,
                        const std::function<std::string()> &frame) {
  const auto period = std::chrono::milliseconds(100);
  auto next_frame = std::chrono::steady_clock::now();
  for (;;) {
    std::unique_lock<std::mutex> lock(shared->mutex);
    const auto has_work = [&] { return !shared->pending.empty() || shared->stopping; };
    if (frame) {
      shared->changed.wait_until(lock, next_frame, has_work);
    } else {
      shared->changed.wait(lock, has_work);
    }
    std::string out;
    out.swap(shared->pending);
    const bool stopping = shared->stopping;
    lock.unlock();
    if (frame && std::chrono::steady_clock::now() >= next_frame) {
      out += frame();
      next_frame += period;
      next_frame = std::max(next_frame, std::chrono::steady_clock::now());
    }
    if (stopping) {
      lock.lock();
      out += shared->last;
      lock.unlock();
    }
    if (!out.empty()) {
      platform::write_stdout(out.data(), out.size());
    }
    if (stopping) {
      lock.lock();
      shared->done = true;
      shared->changed.notify_all();
      return;
    }
  }
}
