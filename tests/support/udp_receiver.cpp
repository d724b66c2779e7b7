#include "tests/support/udp_receiver.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
using NativeSocket = SOCKET;
constexpr NativeSocket no_socket = INVALID_SOCKET;
void close_native(NativeSocket s) { closesocket(s); }
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
using NativeSocket = int;
constexpr NativeSocket no_socket = -1;
void close_native(NativeSocket s) { close(s); }
#endif

#include <cstring>

namespace {

constexpr std::size_t largest_datagram = 65536;

NativeSocket native(std::intptr_t handle) { return static_cast<NativeSocket>(handle); }

bool wait_readable(NativeSocket s, std::chrono::milliseconds timeout) {
#ifdef _WIN32
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval limit{};
  limit.tv_sec = static_cast<long>(timeout.count() / 1000);
  limit.tv_usec = static_cast<long>((timeout.count() % 1000) * 1000);
  return select(0, &readable, nullptr, nullptr, &limit) == 1;
#else
  pollfd entry{};
  entry.fd = s;
  entry.events = POLLIN;
  return poll(&entry, 1, static_cast<int>(timeout.count())) == 1;
#endif
}

} // namespace

UdpReceiver::UdpReceiver(std::uint16_t port) {
#ifdef _WIN32
  WSADATA data;
  WSAStartup(0x0202, &data);
#endif
  const NativeSocket s = ::socket(AF_INET, SOCK_DGRAM, 0);
  if (s == no_socket) {
    return;
  }
  handle = static_cast<std::intptr_t>(s);
  // A large buffer so that bursts wait for the test instead of being dropped.
  // Linux caps SO_RCVBUF at a system limit that root may exceed.
  const int buffer_size = 8 * 1024 * 1024;
  setsockopt(s, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char *>(&buffer_size),
             sizeof buffer_size);
#ifdef SO_RCVBUFFORCE
  setsockopt(s, SOL_SOCKET, SO_RCVBUFFORCE, &buffer_size, sizeof buffer_size);
#endif
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(s, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
    return;
  }
  sockaddr_in bound{};
  socklen_t length = sizeof bound;
  getsockname(s, reinterpret_cast<sockaddr *>(&bound), &length);
  bound_port = ntohs(bound.sin_port);
  open = true;
}

UdpReceiver::~UdpReceiver() {
  if (handle != -1) {
    close_native(native(handle));
  }
#ifdef _WIN32
  WSACleanup();
#endif
}

bool UdpReceiver::receive(Datagram &datagram, std::chrono::milliseconds timeout) {
  if (!open || !wait_readable(native(handle), timeout)) {
    return false;
  }
  datagram.resize(largest_datagram);
  const auto received = ::recv(native(handle), reinterpret_cast<char *>(datagram.data()),
                               static_cast<int>(datagram.size()), 0);
  if (received < 0) {
    datagram.clear();
    return false;
  }
  datagram.resize(static_cast<std::size_t>(received));
  return true;
}

std::vector<Datagram> UdpReceiver::receive_all(std::chrono::milliseconds quiet) {
  std::vector<Datagram> all;
  Datagram datagram;
  while (receive(datagram, quiet)) {
    all.push_back(datagram);
  }
  return all;
}
