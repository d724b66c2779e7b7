// The transport and the Winsock layer under it, on real loopback sockets.
#include "platform/platform.h"
#include "tests/support/faults.h"
#include "tests/support/udp_receiver.h"
#include "udp/udp.h"

#include <gtest/gtest.h>

namespace {

using namespace std::chrono_literals;
using faults::FaultPoint;

const unsigned char payload[] = {'h', 'i', 0, 0xFF};
const Datagram sent(payload, payload + sizeof payload);
constexpr int ipv4 = UdpTransport::family_ipv4;

std::uint16_t port_of(const SocketAddress &address) {
  return ntohs(reinterpret_cast<const sockaddr_in *>(address.addr())->sin_port);
}

class Transport : public ::testing::Test {
protected:
  void TearDown() override {
    faults::disarm_all();
    EXPECT_EQ(platform::startup_count(), 0) << "a transport did not clean up";
  }
};

TEST_F(Transport, FailuresAnswerFalseAndKeepTheFirstTextUntilTheNextOpen) {
  UdpTransport sok;
  EXPECT_TRUE(sok.local_address().empty() && sok.remote_address().empty());
  EXPECT_FALSE(sok.send(payload, sizeof payload));
  EXPECT_EQ(sok.error_text(), "not opened..");
  EXPECT_FALSE(sok.connect_to("no-such-host.invalid", 7040, ipv4));
  EXPECT_EQ(sok.error_text(), "");
  EXPECT_FALSE(sok.connect_to("localhost", -1, ipv4)); // the service "-1" names no port
  EXPECT_FALSE(sok.send(payload, sizeof payload));
  EXPECT_EQ(sok.error_text(), "not opened..");
  faults::arm(FaultPoint::connect, 1);
  EXPECT_FALSE(sok.connect_to("localhost", 7040, ipv4));
  EXPECT_FALSE(sok.send(payload, sizeof payload));
  EXPECT_EQ(sok.error_text(), "connect failed");
  // Selector 1 means IPv4 only, 2 IPv6 only.
  EXPECT_FALSE(sok.connect_to("::1", 7040, ipv4));
  EXPECT_FALSE(sok.connect_to("127.0.0.1", 7040, UdpTransport::family_ipv6));
  ASSERT_TRUE(sok.connect_to("localhost", 7040, ipv4));
  const auto *remote = reinterpret_cast<const sockaddr_in *>(sok.remote_address().addr());
  EXPECT_EQ(ntohl(remote->sin_addr.s_addr), INADDR_LOOPBACK);
  EXPECT_EQ(port_of(sok.remote_address()), 7040);
  EXPECT_EQ(sok.remote_address().actual_len(), 16);
}

TEST_F(Transport, OneDatagramPerSendRetryingOnlyInterruptedOnes) {
  UdpReceiver receiver(0);
  UdpTransport sok;
  ASSERT_TRUE(sok.connect_to("localhost", receiver.port(), ipv4));
  EXPECT_FALSE(sok.send(nullptr, 4));
  EXPECT_FALSE(sok.send(payload, 0));
  EXPECT_TRUE(sok.send(payload, sizeof payload));
  faults::arm(FaultPoint::send_interrupt, 3);
  EXPECT_TRUE(sok.send(payload, sizeof payload));
  faults::arm(FaultPoint::send_interrupt, 100);
  EXPECT_FALSE(sok.send(payload, sizeof payload));
  EXPECT_EQ(faults::remaining(FaultPoint::send_interrupt), 96) << "one call and three retries";
  faults::disarm_all();
  faults::arm(FaultPoint::send, 2);
  EXPECT_FALSE(sok.send(payload, sizeof payload));
  EXPECT_EQ(faults::remaining(FaultPoint::send), 1);
  EXPECT_TRUE(sok.is_ok());
  EXPECT_EQ(receiver.receive_all(2, 2s, 100ms), std::vector<Datagram>(2, sent));
}

TEST_F(Transport, BindModeThenASecondOpenThatClosesTheBoundSocket) {
  UdpReceiver receiver(0);
  UdpTransport first;
  UdpTransport second;
  ASSERT_TRUE(first.connect_to("", 0, ipv4));
  const std::uint16_t port = port_of(first.local_address());
  EXPECT_FALSE(first.send(payload, sizeof payload)) << "no destination yet";
  EXPECT_FALSE(second.connect_to("", port, ipv4));
  EXPECT_EQ(second.error_text(), "bind failed");
#ifndef _WIN32
  // A real failure keeps its own code: only an interrupted call is retried.
  EXPECT_EQ(platform::WSAGetLastError(), 10048); // WSAEADDRINUSE
#endif
  ASSERT_TRUE(first.connect_to("localhost", receiver.port(), ipv4));
  EXPECT_TRUE(first.send(payload, sizeof payload)); // once bound, by sendto
  EXPECT_TRUE(second.connect_to("", port, ipv4));
  EXPECT_EQ(receiver.receive_all(1, 2s, 100ms), std::vector<Datagram>{sent});
}

TEST_F(Transport, ASocketThatCannotBeMadeMovesTheWalkOn) {
  faults::arm(FaultPoint::socket, 1);
  UdpTransport sok;
  // The wildcard resolves to an IPv4 and an IPv6 entry.
  EXPECT_TRUE(sok.connect_to("", 0, UdpTransport::family_any));
  EXPECT_EQ(faults::remaining(FaultPoint::socket), 0);
#ifndef _WIN32
  EXPECT_EQ(platform::WSAGetLastError(), 10024) << "bind was tried on no socket";
#endif
}

TEST_F(Transport, AFailedStartupIsReportedAndNeverCleanedUp) {
  const UdpTransport other; // holds a start-up, as on another SDK thread
  faults::arm(FaultPoint::startup, 1);
  {
    UdpTransport sok;
    EXPECT_EQ(sok.error_text(), "winsock failed to initialise");
    EXPECT_FALSE(sok.send(payload, sizeof payload));
    EXPECT_EQ(sok.error_text(), "winsock failed to initialise");
  }
  EXPECT_EQ(platform::startup_count(), 1);
}

TEST(WinsockLayer, CountsStartupsAndRefusesCallsWhileNoneIsHeld) {
  WSADATA data;
  ASSERT_EQ(platform::WSAStartup(0x0202, &data), 0);
  ASSERT_EQ(platform::WSAStartup(0x0202, &data), 0);
  EXPECT_EQ(platform::WSACleanup(), 0);
  const platform::SocketHandle handle = platform::socket(AF_INET, SOCK_DGRAM, 0);
  EXPECT_EQ(platform::WSACleanup(), 0);
  EXPECT_EQ(platform::WSACleanup(), SOCKET_ERROR);
  EXPECT_EQ(platform::WSAGetLastError(), WSANOTINITIALISED);
#ifndef _WIN32 // Wine, unlike Windows, takes socket calls before WSAStartup
  EXPECT_EQ(platform::send(handle, payload, sizeof payload, 0), SOCKET_ERROR);
  EXPECT_EQ(platform::WSAGetLastError(), WSANOTINITIALISED);
  EXPECT_EQ(platform::socket(AF_INET, SOCK_DGRAM, 0), -1);
#endif
  platform::closesocket(handle);
  EXPECT_EQ(platform::startup_count(), 0);
}

} // namespace
