#include "web/relay_queue.h"

#include "web/websocket_frames.h"

#include <algorithm>

namespace {

std::vector<unsigned char> control_frame(int opcode, const unsigned char *payload,
                                         std::size_t size) {
  std::vector<unsigned char> frame;
  append_frame_header(frame, opcode, size);
  frame.insert(frame.end(), payload, payload + size);
  return frame;
}

} // namespace

RelayQueue::RelayQueue(std::size_t byte_limit, Clock::duration stall_limit)
    : limit(byte_limit), stall_limit(stall_limit) {}

void RelayQueue::opened() {
  if (state_ == State::handshake) {
    state_ = State::open;
  }
}

RelayQueue::Push RelayQueue::push(const RelayMessage &message) {
  if (state_ == State::closing || state_ == State::closed) {
    return Push::closing;
  }
  if (bytes + cost(message->size()) > limit) {
    return Push::full;
  }
  queue.push_back(message);
  bytes += cost(message->size());
  return Push::queued;
}

void RelayQueue::pong(const unsigned char *payload, std::size_t size) {
  if (state_ == State::closing || state_ == State::closed) {
    return;
  }
  if (!pending_pong.empty()) {
    bytes -= cost(pending_pong.size());
    pending_pong.clear();
  }
  std::vector<unsigned char> frame = control_frame(ws_pong, payload, size);
  if (bytes + cost(frame.size()) <= limit) {
    bytes += cost(frame.size());
    pending_pong = std::move(frame);
  }
}

void RelayQueue::close(const unsigned char *payload, std::size_t size, Clock::time_point now) {
  if (state_ == State::closing || state_ == State::closed) {
    return;
  }
  // Only what a write has under way stays; it is taken out when written.
  while (queue.size() > in_flight) {
    bytes -= cost(queue.back()->size());
    queue.pop_back();
  }
  close_frame = control_frame(ws_close, payload, size);
  state_ = State::closing;
  ending_since = now;
}

bool RelayQueue::take(Batch &batch, Clock::time_point now) {
  if (!ready()) {
    return false;
  }
  batch.control.clear();
  batch.messages.clear();
  batch.control.swap(pending_pong);
  if (!batch.control.empty()) {
    bytes -= cost(batch.control.size());
  }
  batch.last = !close_frame.empty();
  batch.control.insert(batch.control.end(), close_frame.begin(), close_frame.end());
  close_frame.clear();
  if (state_ == State::open) {
    in_flight = std::min(queue.size(), max_batch);
    batch.messages.assign(queue.begin(), queue.begin() + static_cast<std::ptrdiff_t>(in_flight));
  }
  last_in_flight = batch.last;
  writing = true;
  write_started = now;
  return true;
}

void RelayQueue::written(bool ok, Clock::time_point now) {
  writing = false;
  for (; in_flight > 0; --in_flight) {
    bytes -= cost(queue.front()->size());
    queue.pop_front();
  }
  if (!ok || last_in_flight) {
    end(now);
  }
}

bool RelayQueue::stalled(Clock::time_point now) const {
  const bool ending = state_ == State::closing || state_ == State::closed;
  return (writing && now - write_started > stall_limit) ||
         (ending && now - ending_since > stall_limit);
}

bool RelayQueue::ready() const {
  if (writing || state_ == State::handshake || state_ == State::closed) {
    return false;
  }
  return !pending_pong.empty() || !close_frame.empty() || (state_ == State::open && !queue.empty());
}

void RelayQueue::end(Clock::time_point now) {
  if (state_ != State::closing) {
    ending_since = now;
  }
  state_ = State::closed;
  queue.clear();
  pending_pong.clear();
  close_frame.clear();
  bytes = 0;
}
