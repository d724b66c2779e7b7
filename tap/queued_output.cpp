#include "tap/queued_output.h"

#include "platform/console.h"

#include <algorithm>
#include <chrono>
#include <system_error>

QueuedOutput::QueuedOutput(std::size_t limit_bytes, WriteOut write_out,
                           std::function<std::string()> frame)
    : limit(limit_bytes), shared(std::make_shared<Shared>()) {
  // The thread keeps its share of the queue alive, should it outlive this
  // object in a write that never returns.
  thread = platform::start_thread([kept = shared, write_out = std::move(write_out),
                                   frame = std::move(frame)] { run(*kept, write_out, frame); });
}

QueuedOutput::~QueuedOutput() {
  if (thread.joinable()) {
    finish();
  }
}

bool QueuedOutput::push(const std::string &text) {
  const std::lock_guard<std::mutex> lock(shared->mutex);
  if (shared->pending.size() + text.size() > limit) {
    return false;
  }
  shared->pending += text;
  shared->changed.notify_one();
  return true;
}

bool QueuedOutput::finish(const std::string &last) {
  std::unique_lock<std::mutex> lock(shared->mutex);
  if (!thread.joinable()) {
    return shared->done; // finished before
  }
  shared->stopping = true;
  shared->last = last;
  shared->changed.notify_one();
  const bool done =
      shared->changed.wait_for(lock, std::chrono::seconds(1), [this] { return shared->done; });
  lock.unlock();
  if (!done) {
    // Stuck in a write: it cannot be joined.
    thread.detach();
    return false;
  }
  try {
    thread.join();
  } catch (const std::system_error &) {
    // Under qemu-i386 a join after any handled signal fails ("Resource
    // deadlock avoided"), whichever thread took it. Done, the thread
    // touches nothing of this object any more.
    thread.detach();
  }
  return true;
}

void QueuedOutput::run(Shared &shared, const WriteOut &write_out,
                       const std::function<std::string()> &frame) {
  const auto period = std::chrono::milliseconds(100);
  auto next_frame = std::chrono::steady_clock::now();
  for (;;) {
    std::unique_lock<std::mutex> lock(shared.mutex);
    const auto has_work = [&] { return !shared.pending.empty() || shared.stopping; };
    if (frame) {
      shared.changed.wait_until(lock, next_frame, has_work);
    } else {
      shared.changed.wait(lock, has_work);
    }
    std::string out;
    out.swap(shared.pending);
    const bool stopping = shared.stopping;
    if (stopping) {
      out += shared.last;
    }
    lock.unlock();
    if (frame && !stopping && std::chrono::steady_clock::now() >= next_frame) {
      out += frame();
      next_frame += period;
      next_frame = std::max(next_frame, std::chrono::steady_clock::now());
    }
    if (!out.empty()) {
      write_out(out);
    }
    if (stopping) {
      lock.lock();
      shared.done = true;
      shared.changed.notify_all();
      return;
    }
  }
}
