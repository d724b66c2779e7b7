// The platform seam must behave like Winsock where the transport depends on
// it; the same tests run against the real Winsock on Windows.
#include "platform/fault_injection.h"
#include "platform/platform.h"
#include "tests/support/host.h"
#include "udp/udp.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using platform::faults::Fault;

class StartupCount : public ::testing::Test {
protected:
  void SetUp() override {
    platform::faults::disarm_all();
    ASSERT_EQ(platform::startup_count(), 0) << "an earlier test leaked a start-up";
  }
  void TearDown() override { platform::faults::disarm_all(); }
};

TEST_F(StartupCount, EveryStartupNeedsItsOwnCleanup) {
  WSADATA data;
  ASSERT_EQ(platform::WSAStartup(0x0202, &data), 0);
  EXPECT_EQ(data.wVersion, 0x0202);
  ASSERT_EQ(platform::WSAStartup(0x0202, &data), 0);
  EXPECT_EQ(platform::startup_count(), 2);
  EXPECT_EQ(platform::WSACleanup(), 0);
  EXPECT_EQ(platform::WSACleanup(), 0);
  EXPECT_EQ(platform::startup_count(), 0);
  EXPECT_EQ(platform::WSACleanup(), SOCKET_ERROR);
  EXPECT_EQ(platform::WSAGetLastError(), WSANOTINITIALISED);
  EXPECT_EQ(platform::startup_count(), 0);
}

TEST_F(StartupCount, AHigherVersionSettlesOnTwoPointTwo) {
  WSADATA data;
  ASSERT_EQ(platform::WSAStartup(0x0303, &data), 0);
  EXPECT_EQ(data.wVersion, 0x0202);
  EXPECT_EQ(data.wHighVersion, 0x0202);
  EXPECT_EQ(platform::WSACleanup(), 0);
}

TEST_F(StartupCount, FailedStartupIsNotCounted) {
  platform::faults::arm(Fault::startup, 1);
  WSADATA data;
  EXPECT_NE(platform::WSAStartup(0x0202, &data), 0);
  EXPECT_EQ(platform::startup_count(), 0);
  EXPECT_EQ(platform::WSACleanup(), SOCKET_ERROR);
}

TEST_F(StartupCount, SocketCallsFailWhileNotStarted) {
  if (running_under_wine()) {
    GTEST_SKIP() << "Wine accepts socket calls before WSAStartup";
  }
  EXPECT_EQ(platform::socket(AF_INET, SOCK_DGRAM, 0), -1);
  EXPECT_EQ(platform::WSAGetLastError(), WSANOTINITIALISED);
  addrinfo *result = nullptr;
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  EXPECT_NE(platform::getaddrinfo("localhost", "7040", &hints, &result), 0);
  platform::freeaddrinfo(result);
}

TEST_F(StartupCount, IsSafeAcrossThreads) {
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < 500; ++i) {
        WSADATA data;
        if (platform::WSAStartup(0x0202, &data) == 0) {
          platform::WSACleanup();
        }
      }
    });
  }
  for (std::thread &thread : threads) {
    thread.join();
  }
  EXPECT_EQ(platform::startup_count(), 0);
  EXPECT_EQ(platform::WSACleanup(), SOCKET_ERROR);
}

TEST_F(StartupCount, SocketsOpenAndCloseWhileStarted) {
  WSADATA data;
  ASSERT_EQ(platform::WSAStartup(0x0202, &data), 0);
  const platform::SocketHandle handle = platform::socket(AF_INET, SOCK_DGRAM, 0);
  EXPECT_NE(handle, -1);
  EXPECT_EQ(platform::closesocket(handle), 0);
  EXPECT_EQ(platform::WSACleanup(), 0);
}

TEST(SocketAddress, LengthFollowsTheFamily) {
  struct Case {
    int family;
    int length;
  };
  const Case cases[] = {{0, 0}, {AF_INET, 16}, {AF_INET6, 28}, {AF_UNSPEC + 99, 128}};
  for (const Case &c : cases) {
    SocketAddress address;
    address.addr()->sa_family = static_cast<decltype(address.addr()->sa_family)>(c.family);
    EXPECT_EQ(address.actual_len(), c.length) << c.family;
    EXPECT_EQ(address.empty(), c.family == 0);
  }
  EXPECT_EQ(SocketAddress::max_len(), 128);
}

TEST(Sleep, WaitsAtLeastTheTimeAskedFor) {
  const auto start = std::chrono::steady_clock::now();
  platform::Sleep(30);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(29));
}

} // namespace
