#include "tests/support/udp_receiver.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#define poll WSAPoll
constexpr int private_socket = 0;
#else
#include <arpa/inet.h>
#include <poll.h>
#include <unistd.h>
#define closesocket close
// Not handed down to the programs a test starts, which may outlive it (wineserver).
constexpr int private_socket = SOCK_CLOEXEC;
#endif

UdpReceiver::UdpReceiver(std::uint16_t port) {
#ifdef _WIN32
  WSADATA data;
  WSAStartup(0x0202, &data);
#endif
  const auto s = ::socket(AF_INET, SOCK_DGRAM | private_socket, 0);
  handle = static_cast<std::intptr_t>(s);
  // A large buffer so that bursts wait for the test instead of being dropped;
  // Linux caps SO_RCVBUF at a system limit that root may exceed.
  const int buffer_size = 8 * 1024 * 1024;
  for (const int option : {SO_RCVBUF,
#ifdef SO_RCVBUFFORCE
                           SO_RCVBUFFORCE
#endif
       }) {
    setsockopt(s, SOL_SOCKET, option, reinterpret_cast<const char *>(&buffer_size),
               sizeof buffer_size);
  }
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(s, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0 &&
      getsockname(s, reinterpret_cast<sockaddr *>(&address), &length) == 0) {
    bound_port = ntohs(address.sin_port);
  }
}

UdpReceiver::~UdpReceiver() {
  closesocket(static_cast<decltype(::socket(0, 0, 0))>(handle));
#ifdef _WIN32
  WSACleanup();
#endif
}

bool UdpReceiver::receive(Datagram &datagram, std::chrono::milliseconds timeout) {
  pollfd entry{};
  entry.fd = static_cast<decltype(entry.fd)>(handle);
  entry.events = POLLIN;
  if (!is_open() || poll(&entry, 1, static_cast<int>(timeout.count())) != 1) {
    return false;
  }
  datagram.resize(65536);
  sockaddr_in from{};
  socklen_t from_length = sizeof from;
  const auto received = ::recvfrom(entry.fd, reinterpret_cast<char *>(datagram.data()), 65536, 0,
                                   reinterpret_cast<sockaddr *>(&from), &from_length);
  sender = ntohs(from.sin_port);
  datagram.resize(received > 0 ? static_cast<std::size_t>(received) : 0);
  return received >= 0;
}

bool UdpReceiver::send_to(std::uint16_t port, const Datagram &datagram) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const auto sent =
      ::sendto(static_cast<decltype(::socket(0, 0, 0))>(handle),
               reinterpret_cast<const char *>(datagram.data()), static_cast<int>(datagram.size()),
               0, reinterpret_cast<const sockaddr *>(&address), sizeof address);
  return sent == static_cast<long long>(datagram.size());
}

std::vector<Datagram> UdpReceiver::receive_all(std::size_t count, std::chrono::milliseconds first,
                                               std::chrono::milliseconds quiet) {
  std::vector<Datagram> all;
  Datagram datagram;
  while (receive(datagram, all.size() < count ? first : quiet)) {
    all.push_back(datagram);
  }
  return all;
}
