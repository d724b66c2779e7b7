// The per-event cycle against a recording stand-in of the ring SDK and a
// real receiver on port 7040.
#include "bridge/ring_event_handler.h"
#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "tests/support/allocation_failure.h"
#include "tests/support/osc_decoder.h"
#include "tests/support/recording_sdk.h"
#include "tests/support/udp_receiver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using platform::faults::Fault;

const Datagram empty_bundle = {0x23, 0x62, 0x75, 0x6E, 0x64, 0x6C, 0x65, 0x00,
                               0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01};

const std::vector<std::string> full_subscription = {"QorNumRings",
                                                    "QorGetRingName 0",
                                                    "QorSubscribe 2 ring-zero",
                                                    "QorGetRingName 0",
                                                    "QorSubscribe 3 ring-zero",
                                                    "QorGetRingName 0",
                                                    "QorSubscribe 4 ring-zero",
                                                    "QorGetRingName 0",
                                                    "QorSubscribe 1 ring-zero",
                                                    "QorGetRingName 0",
                                                    "QorSubscribe 10 ring-zero",
                                                    "QorGetRingName 0",
                                                    "QorSubscribe 5 ring-zero",
                                                    "QorGetRingName 0",
                                                    "QorSubscribe 6 ring-zero"};

#ifdef _WIN32
constexpr bool winsock_is_process_wide = true;
#else
constexpr bool winsock_is_process_wide = false; // the receiver uses BSD sockets directly
#endif

RingEvent event_of_kind(std::int32_t kind) {
  RingEvent event{};
  event.kind = kind;
  return event;
}

class HandlerTest : public ::testing::Test {
protected:
  void SetUp() override {
    platform::faults::disarm_all();
    reset_recording_sdk(1);
    ASSERT_TRUE(receiver->is_open()) << "port 7040 is taken";
  }
  void TearDown() override {
    platform::faults::disarm_all();
    EXPECT_EQ(platform::startup_count(), 0) << "an event left the socket library started";
  }

  std::unique_ptr<UdpReceiver> receiver = std::make_unique<UdpReceiver>(7040);
};

TEST_F(HandlerTest, SubscribesRingZeroUnderSevenCodesThenSends) {
  for (const std::int32_t rings : {1, 5}) {
    reset_recording_sdk(rings);
    ring_event_handler(event_of_kind(11));
    EXPECT_EQ(recorded_sdk_calls(), full_subscription) << rings << " rings";
    Datagram datagram;
    ASSERT_TRUE(receiver->receive(datagram, 2000ms));
    EXPECT_EQ(datagram, empty_bundle);
  }
}

TEST_F(HandlerTest, WithoutRingsSubscribesNothingButStillSends) {
  for (const std::int32_t rings : {0, -1, INT32_MIN}) {
    reset_recording_sdk(rings);
    ring_event_handler(event_of_kind(11));
    EXPECT_EQ(recorded_sdk_calls(), std::vector<std::string>{"QorNumRings"}) << rings;
    Datagram datagram;
    ASSERT_TRUE(receiver->receive(datagram, 2000ms));
    EXPECT_EQ(datagram, empty_bundle);
  }
}

TEST_F(HandlerTest, EverySubscribeEventSubscribesAgain) {
  ring_event_handler(event_of_kind(11));
  ring_event_handler(event_of_kind(11));
  std::vector<std::string> twice = full_subscription;
  twice.insert(twice.end(), full_subscription.begin(), full_subscription.end());
  EXPECT_EQ(recorded_sdk_calls(), twice);
  EXPECT_EQ(receiver->receive_all(300ms).size(), 2U);
}

TEST_F(HandlerTest, UnmappedKindsSendTheEmptyBundleAndCallNothing) {
  for (const std::int32_t kind : {5, 6, 7, 8, 10, 12, 1000, -1, INT32_MIN, INT32_MAX}) {
    RingEvent event = event_of_kind(kind);
    event.x = 1.0F;
    event.b_number = 3.0F;
    event.gest_value = 7;
    ring_event_handler(event);
    Datagram datagram;
    ASSERT_TRUE(receiver->receive(datagram, 2000ms)) << kind;
    EXPECT_EQ(datagram, empty_bundle) << kind;
  }
  EXPECT_TRUE(recorded_sdk_calls().empty());
}

TEST_F(HandlerTest, FailuresLoseOnlyTheirOwnEvent) {
  const Fault faults[] = {Fault::startup, Fault::resolve, Fault::connect, Fault::send,
                          Fault::send_interrupt};
  for (const Fault fault : faults) {
    platform::faults::arm(fault, fault == Fault::send_interrupt ? 4 : 1);
    RingEvent event = event_of_kind(11);
    ring_event_handler(event);
    Datagram datagram;
    // On Windows the receiver's own start-up is process-wide, so a transport
    // whose start-up failed can still send there.
    if (fault != Fault::startup || !winsock_is_process_wide) {
      EXPECT_FALSE(receiver->receive(datagram, 200ms)) << static_cast<int>(fault);
    }
    receiver->receive_all(100ms);
    ring_event_handler(event_of_kind(5));
    ASSERT_TRUE(receiver->receive(datagram, 2000ms)) << static_cast<int>(fault);
    EXPECT_EQ(datagram, empty_bundle);
    EXPECT_EQ(platform::startup_count(), 0);
  }
}

TEST_F(HandlerTest, NoListenerIsNotAnError) {
  receiver.reset();
  // Nothing listens on 7040 now: every event is handled the same way.
  for (int i = 0; i < 3; ++i) {
    ring_event_handler(event_of_kind(11));
  }
  EXPECT_EQ(recorded_sdk_calls().size(), 3 * full_subscription.size());
  receiver = std::make_unique<UdpReceiver>(7040);
  ASSERT_TRUE(receiver->is_open());
  ring_event_handler(event_of_kind(5));
  Datagram datagram;
  ASSERT_TRUE(receiver->receive(datagram, 2000ms));
  EXPECT_EQ(datagram, empty_bundle);
}

TEST_F(HandlerTest, AllocationFailureDropsTheEventAndNothingElse) {
  // Fail each allocation the cycle makes in turn, until one runs clean.
  RingEvent event = event_of_kind(1);
  event.x = 1.0F;
  int failing = 1;
  for (;; ++failing) {
    arm_allocation_failure(failing);
    ring_event_handler(event);
    const bool failed = allocation_failure_happened();
    disarm_allocation_failure();
    EXPECT_EQ(platform::startup_count(), 0) << "allocation " << failing;
    const std::vector<Datagram> arrived = receiver->receive_all(100ms);
    if (!failed) {
      ASSERT_EQ(arrived.size(), 1U);
      break;
    }
    EXPECT_TRUE(arrived.empty()) << "allocation " << failing;
    ring_event_handler(event);
    Datagram datagram;
    ASSERT_TRUE(receiver->receive(datagram, 2000ms)) << "event after allocation " << failing;
    EXPECT_TRUE(decode_bundle(datagram).valid);
  }
  EXPECT_GT(failing, 1) << "the cycle made no allocation at all";
}

// Under AddressSanitizer this is also the leak check: ten thousand cycles of
// every kind, and the process must end with nothing left allocated.
TEST_F(HandlerTest, TenThousandEventsAllArriveWhole) {
  const std::int32_t kinds[] = {0, 1, 2, 3, 4, 9, 11, 5};
  constexpr int events = 10000;
  int arrived = 0;
  Datagram datagram;
  for (int i = 0; i < events; ++i) {
    RingEvent event = event_of_kind(kinds[i % 8]);
    event.b_number = static_cast<float>(i % 10);
    ring_event_handler(event);
    // Receive as we go so that the socket buffer never overflows.
    while (receiver->receive(datagram, i + 1 == events ? 2000ms : 0ms)) {
      ASSERT_TRUE(decode_bundle(datagram).valid);
      if (++arrived == events) {
        break;
      }
    }
  }
  EXPECT_EQ(arrived, events);
}

TEST_F(HandlerTest, EventsFromSeveralThreadsAllArrive) {
  constexpr std::size_t threads = 4;
  constexpr std::size_t events_each = 200;
  std::vector<std::thread> senders;
  for (std::size_t t = 0; t < threads; ++t) {
    senders.emplace_back([] {
      for (std::size_t i = 0; i < events_each; ++i) {
        ring_event_handler(event_of_kind(i % 10 == 0 ? 11 : 12));
      }
    });
  }
  for (std::thread &sender : senders) {
    sender.join();
  }
  const std::vector<Datagram> arrived = receiver->receive_all(500ms);
  EXPECT_EQ(arrived.size(), threads * events_each);
  for (const Datagram &datagram : arrived) {
    ASSERT_EQ(datagram, empty_bundle);
  }
  EXPECT_EQ(recorded_sdk_calls().size(), threads * (events_each / 10) * full_subscription.size());
}

} // namespace
