// The transport against real sockets on loopback.
#include "platform/fault_injection.h"
#include "tests/support/host.h"
#include "tests/support/udp_receiver.h"
#include "udp/udp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace {

using namespace std::chrono_literals;
using platform::faults::Fault;

const unsigned char payload[] = {'h', 'e', 'l', 'l', 'o', 0, 0xFF};

class UdpTransportTest : public ::testing::Test {
protected:
  void SetUp() override { platform::faults::disarm_all(); }
  void TearDown() override {
    platform::faults::disarm_all();
    EXPECT_EQ(platform::startup_count(), 0) << "a transport did not clean up";
  }
};

// A port on which nothing listens right now.
std::uint16_t free_port() { return UdpReceiver(0).port(); }

TEST_F(UdpTransportTest, SendsOneDatagramOverAConnectedSocket) {
  UdpReceiver receiver(0);
  ASSERT_TRUE(receiver.is_open());
  UdpTransport sok;
  ASSERT_TRUE(sok.connect_to("localhost", receiver.port(), UdpTransport::family_ipv4));
  EXPECT_TRUE(sok.is_open());
  EXPECT_FALSE(sok.is_bound());
  EXPECT_EQ(sok.remote_address().family(), AF_INET);
  EXPECT_EQ(sok.remote_address().actual_len(), 16);
  ASSERT_TRUE(sok.send(payload, sizeof payload));
  ASSERT_TRUE(sok.send(payload, 3));
  Datagram datagram;
  ASSERT_TRUE(receiver.receive(datagram, 2000ms));
  EXPECT_EQ(datagram, Datagram(payload, payload + sizeof payload));
  ASSERT_TRUE(receiver.receive(datagram, 2000ms));
  EXPECT_EQ(datagram, Datagram(payload, payload + 3));
  EXPECT_TRUE(sok.is_ok());
}

TEST_F(UdpTransportTest, SendSucceedsWhenNobodyListens) {
  UdpTransport sok;
  ASSERT_TRUE(sok.connect_to("localhost", free_port(), UdpTransport::family_ipv4));
  EXPECT_TRUE(sok.send(payload, sizeof payload));
  EXPECT_TRUE(sok.is_ok());
}

TEST_F(UdpTransportTest, UnresolvableHostStoresNoTextButSendsNothing) {
  UdpTransport sok;
  EXPECT_FALSE(sok.connect_to("no-such-host.invalid", 7040, UdpTransport::family_ipv4));
  EXPECT_EQ(sok.error_text(), "");
  EXPECT_FALSE(sok.is_open());
  EXPECT_FALSE(sok.send(payload, sizeof payload));
  EXPECT_EQ(sok.error_text(), "not opened..");
}

TEST_F(UdpTransportTest, SendBeforeOpeningIsRefused) {
  UdpTransport sok;
  EXPECT_FALSE(sok.send(payload, sizeof payload));
  EXPECT_EQ(sok.error_text(), "not opened..");
}

TEST_F(UdpTransportTest, ConnectFailureIsTheTextThatStays) {
  platform::faults::arm(Fault::connect, 100);
  UdpTransport sok;
  EXPECT_FALSE(sok.connect_to("localhost", 7040, UdpTransport::family_ipv4));
  EXPECT_EQ(sok.error_text(), "connect failed");
  EXPECT_FALSE(sok.send(payload, sizeof payload));
  EXPECT_EQ(sok.error_text(), "connect failed");
}

TEST_F(UdpTransportTest, EmptyPayloadsSendNothingAndStoreNothing) {
  UdpReceiver receiver(0);
  UdpTransport sok;
  ASSERT_TRUE(sok.connect_to("localhost", receiver.port(), UdpTransport::family_ipv4));
  EXPECT_FALSE(sok.send(nullptr, 4));
  EXPECT_FALSE(sok.send(payload, 0));
  EXPECT_TRUE(sok.is_ok());
  Datagram datagram;
  EXPECT_FALSE(receiver.receive(datagram, 200ms));
}

TEST_F(UdpTransportTest, SecondConnectClosesTheFirstAndForgetsTheError) {
  UdpReceiver first(0);
  UdpReceiver second(0);
  UdpTransport sok;
  EXPECT_FALSE(sok.send(payload, sizeof payload));
  EXPECT_EQ(sok.error_text(), "not opened..");
  ASSERT_TRUE(sok.connect_to("localhost", first.port(), UdpTransport::family_ipv4));
  EXPECT_TRUE(sok.is_ok());
  ASSERT_TRUE(sok.connect_to("localhost", second.port(), UdpTransport::family_ipv4));
  ASSERT_TRUE(sok.send(payload, sizeof payload));
  Datagram datagram;
  EXPECT_TRUE(second.receive(datagram, 2000ms));
  EXPECT_FALSE(first.receive(datagram, 200ms));
}

TEST_F(UdpTransportTest, PortIsFormattedAsSignedDecimal) {
  UdpReceiver receiver(0);
  UdpTransport sok;
  ASSERT_TRUE(sok.connect_to("localhost", receiver.port(), UdpTransport::family_ipv4));
  const auto *remote = reinterpret_cast<const sockaddr_in *>(sok.remote_address().addr());
  EXPECT_EQ(ntohs(remote->sin_port), receiver.port());
  // A negative port reaches the resolver as "-1", which no resolver maps to a
  // port; nothing opens and nothing is stored.
  EXPECT_FALSE(sok.connect_to("localhost", -1, UdpTransport::family_ipv4));
  EXPECT_EQ(sok.error_text(), "");
}

TEST_F(UdpTransportTest, EmptyHostBindsAndCannotSendWithoutADestination) {
  UdpTransport sok;
  ASSERT_TRUE(sok.connect_to("", 0, UdpTransport::family_ipv4));
  EXPECT_TRUE(sok.is_bound());
  EXPECT_EQ(sok.local_address().family(), AF_INET);
  const auto *local = reinterpret_cast<const sockaddr_in *>(sok.local_address().addr());
  EXPECT_NE(ntohs(local->sin_port), 0);
  EXPECT_TRUE(sok.remote_address().empty());
  EXPECT_FALSE(sok.send(payload, sizeof payload));
  EXPECT_TRUE(sok.is_ok());
}

TEST_F(UdpTransportTest, BindingATakenPortFails) {
  UdpTransport first;
  ASSERT_TRUE(first.connect_to("", 0, UdpTransport::family_ipv4));
  const auto *local = reinterpret_cast<const sockaddr_in *>(first.local_address().addr());
  UdpTransport second;
  EXPECT_FALSE(second.connect_to("", ntohs(local->sin_port), UdpTransport::family_ipv4));
  EXPECT_EQ(second.error_text(), "bind failed");
  EXPECT_FALSE(second.is_open());
}

TEST_F(UdpTransportTest, OnceBoundSendsGoToTheConnectedAddress) {
  UdpReceiver receiver(0);
  UdpTransport sok;
  ASSERT_TRUE(sok.connect_to("", 0, UdpTransport::family_ipv4));
  ASSERT_TRUE(sok.connect_to("localhost", receiver.port(), UdpTransport::family_ipv4));
  EXPECT_TRUE(sok.is_bound());
  ASSERT_TRUE(sok.send(payload, sizeof payload));
  Datagram datagram;
  EXPECT_TRUE(receiver.receive(datagram, 2000ms));
}

TEST_F(UdpTransportTest, InterruptedSendsAreRetriedABoundedNumberOfTimes) {
  UdpReceiver receiver(0);
  UdpTransport sok;
  ASSERT_TRUE(sok.connect_to("localhost", receiver.port(), UdpTransport::family_ipv4));
  platform::faults::arm(Fault::send_interrupt, 2);
  EXPECT_TRUE(sok.send(payload, sizeof payload));
  platform::faults::arm(Fault::send_interrupt, 100);
  EXPECT_FALSE(sok.send(payload, sizeof payload));
  EXPECT_EQ(platform::faults::remaining(Fault::send_interrupt), 96) << "one call and three retries";
  EXPECT_TRUE(sok.is_ok());
  const std::vector<Datagram> arrived = receiver.receive_all(300ms);
  EXPECT_EQ(arrived.size(), 1U);
}

TEST_F(UdpTransportTest, OtherSendFailuresAreNotRetriedAndLeaveTheSocketUsable) {
  UdpReceiver receiver(0);
  UdpTransport sok;
  ASSERT_TRUE(sok.connect_to("localhost", receiver.port(), UdpTransport::family_ipv4));
  platform::faults::arm(Fault::send, 2);
  EXPECT_FALSE(sok.send(payload, sizeof payload));
  EXPECT_EQ(platform::faults::remaining(Fault::send), 1);
  EXPECT_TRUE(sok.is_ok());
  platform::faults::disarm_all();
  EXPECT_TRUE(sok.send(payload, sizeof payload));
  EXPECT_EQ(receiver.receive_all(300ms).size(), 1U);
}

TEST_F(UdpTransportTest, FailedStartupIsReportedAndNeverCleanedUp) {
  const auto other = std::make_unique<UdpTransport>(); // holds the count, as on another thread
  ASSERT_EQ(platform::startup_count(), 1);
  {
    platform::faults::arm(Fault::startup, 1);
    UdpTransport sok;
    EXPECT_EQ(sok.error_text(), "winsock failed to initialise");
    EXPECT_FALSE(sok.send(payload, sizeof payload));
    EXPECT_EQ(sok.error_text(), "winsock failed to initialise");
  }
  EXPECT_EQ(platform::startup_count(), 1) << "the failed transport lowered another's count";
}

TEST_F(UdpTransportTest, AfterAFailedStartupAnOpenFailsOnItsOwn) {
  if (running_under_wine()) {
    GTEST_SKIP() << "Wine accepts socket calls before WSAStartup";
  }
  platform::faults::arm(Fault::startup, 1);
  UdpTransport sok;
  EXPECT_FALSE(sok.connect_to("localhost", 7040, UdpTransport::family_ipv4));
  EXPECT_FALSE(sok.send(payload, sizeof payload));
  EXPECT_EQ(sok.error_text(), "not opened..");
}

TEST_F(UdpTransportTest, DestroyingAnUnopenedTransportStillCleansUp) {
  {
    UdpTransport sok;
    EXPECT_EQ(platform::startup_count(), 1);
  }
  EXPECT_EQ(platform::startup_count(), 0);
}

} // namespace
