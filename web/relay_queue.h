// What the relay holds for one WebSocket client, and where its connection
// stands: the data messages and control frames waiting to be written, within
// one byte bound that counts what each really costs. No sockets here: the
// server asks what one write takes and says when it has ended.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

using RelayMessage = std::shared_ptr<const std::vector<unsigned char>>;

class RelayQueue {
public:
  using Clock = std::chrono::steady_clock;

  enum class State {
    handshake, // on the list, its 101 not yet written: messages wait
    open,
    closing, // a close frame is queued: no more data goes out
    closed,  // the last write has ended; only the end of the connection is awaited
  };

  // Bytes a queued message costs beyond its payload: its frame header, its
  // place in the queue and its share of the shared buffer's bookkeeping.
  static constexpr std::size_t message_overhead = 64;
  static constexpr std::size_t max_batch = 1024; // messages in one write

  // `stall_limit`: how long a write may take, and a closing connection linger.
  RelayQueue(std::size_t byte_limit, Clock::duration stall_limit);

  // The 101 has been written.
  void opened();
  // A datagram for the client: queued, dropped as it did not fit (the
  // server counts those drops), or refused as the connection is closing.
  enum class Push { queued, full, closing };
  Push push(const RelayMessage &message);
  // Answers a ping; only the latest unanswered one is kept, and it counts
  // against the bound like a message.
  void pong(const unsigned char *payload, std::size_t size);
  // Queues the close frame and drops the data still queued.
  void close(const unsigned char *payload, std::size_t size, Clock::time_point now);

  struct Batch {
    std::vector<unsigned char> control; // whole frames, before the messages
    std::vector<RelayMessage> messages;
    bool last = false; // the close frame is in it
  };
  // What the next write takes; false when there is nothing to write, or a
  // write is still in flight.
  bool take(Batch &batch, Clock::time_point now);
  // The write of the last batch ended; after an error nothing more is written.
  void written(bool ok, Clock::time_point now);

  // A write has gone on too long, or a closing connection lingers.
  bool stalled(Clock::time_point now) const;
  // A take() would hand out a batch.
  bool ready() const;
  State state() const { return state_; }
  std::size_t queued_bytes() const { return bytes; }

private:
  static std::size_t cost(std::size_t payload) { return payload + message_overhead; }
  void end(Clock::time_point now);

  std::size_t limit;
  Clock::duration stall_limit;
  State state_ = State::handshake;
  std::deque<RelayMessage> queue;
  std::size_t bytes = 0;                   // the queue's and the pending control frames' costs
  std::vector<unsigned char> pending_pong; // a whole frame, or empty
  std::vector<unsigned char> close_frame;  // a whole frame, or empty
  std::size_t in_flight = 0;               // messages of the write under way
  bool writing = false;
  bool last_in_flight = false; // the write under way carries the close frame
  Clock::time_point write_started;
  Clock::time_point ending_since;
};
