// What the relay holds for one client, in process: the byte bound and what
// counts against it, control frames before data, what a close clears, and
// when a client counts as stalled.
#include "web/relay_queue.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace std::chrono_literals;
using Clock = RelayQueue::Clock;

RelayMessage message(std::size_t size) {
  return std::make_shared<const std::vector<unsigned char>>(size, 0x2A);
}

std::vector<unsigned char> bytes(std::initializer_list<int> list) {
  return {list.begin(), list.end()};
}

} // namespace

TEST(RelayQueue, EveryMessageCostsItsBookkeepingSoEmptyDatagramsFillTheBoundToo) {
  const struct {
    std::size_t payload;
    std::size_t fit; // messages in a bound of 64 KiB
  } rows[] = {{0, 1024}, {64, 512}, {960, 64}, {65536 - 64, 1}, {65536, 0}};
  for (const auto &row : rows) {
    RelayQueue queue(65536, 5s);
    queue.opened();
    std::size_t taken = 0;
    RelayQueue::Push pushed = RelayQueue::Push::queued;
    while (taken < 5000 &&
           (pushed = queue.push(message(row.payload))) == RelayQueue::Push::queued) {
      ++taken;
    }
    EXPECT_EQ(taken, row.fit) << row.payload << " bytes";
    EXPECT_EQ(pushed, taken < 5000 ? RelayQueue::Push::full : RelayQueue::Push::queued);
  }
}

TEST(RelayQueue, OnlyTheLatestPongIsKeptItGoesBeforeDataAndCountsAgainstTheBound) {
  RelayQueue queue(1024, 5s);
  queue.opened();
  ASSERT_EQ(queue.push(message(3)), RelayQueue::Push::queued);
  for (int i = 0; i < 100000; ++i) {
    queue.pong(reinterpret_cast<const unsigned char *>("abc"), 3);
  }
  queue.pong(reinterpret_cast<const unsigned char *>("z"), 1);
  EXPECT_EQ(queue.queued_bytes(), 134U); // 3 bytes and the pong's frame of 3, each with 64 more
  RelayQueue::Batch batch;
  const Clock::time_point now = Clock::now();
  ASSERT_TRUE(queue.take(batch, now));
  EXPECT_EQ(batch.control, bytes({0x8A, 1, 'z'}));
  EXPECT_EQ(batch.messages.size(), 1U);
  EXPECT_FALSE(batch.last);
  EXPECT_FALSE(queue.take(batch, now)) << "one write at a time";
  queue.written(true, now);
  EXPECT_EQ(queue.queued_bytes(), 0U);
  EXPECT_FALSE(queue.ready());
  // A full queue leaves no room for a pong either.
  while (queue.push(message(100)) == RelayQueue::Push::queued) {
  }
  const std::size_t full = queue.queued_bytes();
  queue.pong(reinterpret_cast<const unsigned char *>("abc"), 3);
  EXPECT_EQ(queue.queued_bytes(), full);
}

TEST(RelayQueue, NothingIsWrittenBeforeThe101AndNothingIsLostAcrossIt) {
  RelayQueue queue(4096, 5s);
  ASSERT_EQ(queue.push(message(10)), RelayQueue::Push::queued);
  EXPECT_FALSE(queue.ready());
  queue.opened();
  RelayQueue::Batch batch;
  ASSERT_TRUE(queue.take(batch, Clock::now()));
  EXPECT_EQ(batch.messages.size(), 1U);
  EXPECT_TRUE(batch.control.empty());
}

TEST(RelayQueue, ACloseDropsWhatIsQueuedButNotWhatIsBeingWrittenAndEndsAfterItsWrite) {
  RelayQueue queue(1 << 20, 5s);
  queue.opened();
  for (int i = 0; i < 1500; ++i) {
    queue.push(message(1));
  }
  RelayQueue::Batch batch;
  const Clock::time_point start = Clock::now();
  ASSERT_TRUE(queue.take(batch, start));
  EXPECT_EQ(batch.messages.size(), 1024U);
  queue.close(bytes({0x03, 0xF1}).data(), 2, start);
  EXPECT_EQ(queue.push(message(1)), RelayQueue::Push::closing)
      << "a closing client's datagrams are not its drops";
  queue.written(true, start);
  ASSERT_TRUE(queue.take(batch, start));
  EXPECT_EQ(batch.control, bytes({0x88, 2, 0x03, 0xF1}));
  EXPECT_TRUE(batch.messages.empty());
  EXPECT_TRUE(batch.last);
  queue.written(true, start);
  EXPECT_EQ(queue.state(), RelayQueue::State::closed);
  EXPECT_EQ(queue.queued_bytes(), 0U);
}

TEST(RelayQueue, AWriteThatLastsAndAClosedClientThatLingersAreStalled) {
  const Clock::time_point t0 = Clock::now();
  const struct {
    const char *what;
    bool close;    // the close frame queued and written
    bool write_ok; // how the one write ends
    bool finish;   // the write ends at all
    bool stalled_after_6s;
  } rows[] = {
      {"writing for 6 s", false, true, false, true},
      {"open, idle", false, true, true, false},
      {"closed, socket still open", true, true, true, true},
      {"write failed", false, false, true, true},
  };
  for (const auto &row : rows) {
    RelayQueue queue(4096, 5s);
    queue.opened();
    queue.push(message(1));
    if (row.close) {
      queue.close(nullptr, 0, t0);
    }
    RelayQueue::Batch batch;
    ASSERT_TRUE(queue.take(batch, t0));
    if (row.finish) {
      queue.written(row.write_ok, t0);
    }
    EXPECT_FALSE(queue.stalled(t0 + 4s)) << row.what;
    EXPECT_EQ(queue.stalled(t0 + 6s), row.stalled_after_6s) << row.what;
  }
}
