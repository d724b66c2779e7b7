// The per-event cycle in this process, on a machine that fails it: each
// failure loses its own event only, and the cycle never touches the heap.
#include "bridge/ring_event_handler.h"
#include "osc/osc_packet.h"
#include "platform/platform.h"
#include "tests/support/allocations.h"
#include "tests/support/faults.h"
#include "tests/support/udp_receiver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <new>

// An SDK that needs no heap either, so that what is counted is the bridge's.
extern "C" {
void VANTREL_CALL QorInitialize(RingEventCallback /*handler*/) {}
std::int32_t VANTREL_CALL QorNumRings(void) { return 1; }
const char *VANTREL_CALL QorGetRingName(std::int32_t /*ring_index*/) { return "ring0"; }
void VANTREL_CALL QorSubscribe(std::int32_t /*code*/, const char * /*ring_name*/) {}
}

namespace {

using namespace std::chrono_literals;
using faults::FaultPoint;

RingEvent event_of_kind(std::int32_t kind) {
  RingEvent event{};
  event.kind = kind;
  event.b_number = 3.0F;
  return event;
}

#ifdef _WIN32
constexpr bool winsock_is_process_wide = true;
#else
constexpr bool winsock_is_process_wide = false; // the receiver does not use this layer
#endif

const Datagram empty_bundle = {'#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 0, 0, 0, 0, 0, 0, 0, 1};

TEST(Handler, NoKindTouchesTheHeap) {
  UdpReceiver receiver(7040);
  for (const std::int32_t kind : {0, 1, 2, 3, 4, 9, 11, 5}) {
    const long before = allocations_on_this_thread();
    ring_event_handler(event_of_kind(kind));
    EXPECT_EQ(allocations_on_this_thread() - before, 0) << "kind " << kind;
  }
  EXPECT_EQ(receiver.receive_all(8, 2s, 100ms).size(), 8U);
}

TEST(Handler, EachFailureLosesOnlyItsOwnEvent) {
  UdpReceiver receiver(7040);
  ASSERT_TRUE(receiver.is_open()) << "port 7040 is taken";
  const std::pair<FaultPoint, int> cases[] = {
      {FaultPoint::startup, 1}, {FaultPoint::resolve, 1}, {FaultPoint::socket, 1},
      {FaultPoint::connect, 1}, {FaultPoint::send, 1},    {FaultPoint::send_interrupt, 4}};
  for (const auto &[point, count] : cases) {
    faults::arm(point, count);
    ring_event_handler(event_of_kind(12));
    EXPECT_EQ(faults::remaining(point), 0);
    ring_event_handler(event_of_kind(12));
    // On Windows the receiver's own start-up holds Winsock for a transport
    // whose start-up failed.
    const std::size_t lost = point == FaultPoint::startup && winsock_is_process_wide ? 0 : 1;
    EXPECT_EQ(receiver.receive_all(2 - lost, 2s, 100ms),
              std::vector<Datagram>(2 - lost, empty_bundle))
        << static_cast<int>(point);
    EXPECT_EQ(platform::startup_count(), 0);
  }
}

// Past its reserve a buffer grows on the heap, and running out of memory
// there leaves it as it was.
TEST(Handler, ABufferGrowsPastItsReserveByDoublingAndSurvivesAFailedGrowth) {
  OscBuffer buffer;
  buffer.append_zeroed(196)[0] = 0xAA;
  EXPECT_EQ(buffer.capacity(), 200U);
  fail_next_allocation();
  EXPECT_THROW(buffer.append_zeroed(5), std::bad_alloc);
  EXPECT_EQ(buffer.size(), 196U);
  unsigned char *added = buffer.append_zeroed(5);
  EXPECT_EQ(buffer.capacity(), 2U * (196 + 5));
  EXPECT_EQ(added, buffer.bytes() + 196);
  EXPECT_EQ(buffer.bytes()[0], 0xAA);
  EXPECT_EQ(std::count(buffer.bytes() + 1, buffer.bytes() + buffer.size(), 0), 203);
}

} // namespace
