#include "udp/udp_listener.h"

#include <cstring>

namespace {

constexpr std::uint32_t receive_timeout_ms = 100;
// Room for bursts while the tap is busy with a datagram.
constexpr int receive_buffer_bytes = 4 * 1024 * 1024;

} // namespace

UdpListener::~UdpListener() {
  if (handle != -1) {
    platform::closesocket(handle);
  }
}

UdpListener::Bound UdpListener::bind_to(const std::string &host, std::int32_t port,
                                        std::string &error) {
  const std::string where = host + ":" + std::to_string(port);
  addrinfo *result = nullptr;
  if (!winsock.started() || lookup_datagram_address(host.c_str(), std::to_string(port).c_str(),
                                                    AF_INET, true, &result) != 0) {
    error = "cannot resolve " + host;
    return Bound::bad_host;
  }
  std::memcpy(&local, result->ai_addr, sizeof local);
  platform::freeaddrinfo(result);

  handle = platform::socket(AF_INET, SOCK_DGRAM, 0);
  if (handle == -1) {
    error = "cannot open a socket: error " + std::to_string(platform::WSAGetLastError());
    return Bound::failed;
  }
  if (platform::bind(handle, reinterpret_cast<const sockaddr *>(&local), sizeof local) != 0) {
    const int code = platform::WSAGetLastError();
    error = code == WSAEADDRINUSE ? where + " is already in use by another program"
                                  : "cannot listen on " + where + ": error " + std::to_string(code);
    return code == WSAEADDRINUSE ? Bound::in_use : Bound::failed;
  }
  int length = sizeof local; // the port the system chose for port 0
  platform::getsockname(handle, reinterpret_cast<sockaddr *>(&local), &length);
  // Without it a receive would wait for ever: Ctrl+C, rate limits and MIDI
  // checks all wait for the next datagram.
  if (platform::set_receive_timeout(handle, receive_timeout_ms) != 0) {
    error = "cannot listen on " + where + ": no receive time-out (error " +
            std::to_string(platform::WSAGetLastError()) + ")";
    return Bound::failed;
  }
  platform::set_receive_buffer(handle, receive_buffer_bytes);
  counts_drops = platform::count_dropped_datagrams(handle) == 0;
  return Bound::ok;
}

std::int32_t UdpListener::port() const { return ntohs(local.sin_port); }

bool UdpListener::would_loop(const SocketAddress &destination) const {
  if (destination.family() != AF_INET) {
    return false;
  }
  sockaddr_in to{};
  std::memcpy(&to, destination.addr(), sizeof to);
  if (to.sin_port != local.sin_port) {
    return false;
  }
  const std::uint32_t host_to = ntohl(to.sin_addr.s_addr);
  const bool wildcard = local.sin_addr.s_addr == htonl(INADDR_ANY);
  // A wildcard listener hears broadcasts too (the last part 255 stands for
  // a network's broadcast address, whatever its mask).
  const bool broadcast = (host_to & 0xFFU) == 0xFFU;
  return to.sin_addr.s_addr == local.sin_addr.s_addr ||
         (wildcard && (host_to >> 24U == 127 || host_to == INADDR_ANY || broadcast));
}

int UdpListener::receive(unsigned char *buffer, int size) {
  const int received = counts_drops
                           ? platform::receive_counting_drops(handle, buffer, size, dropped)
                           : platform::recvfrom(handle, buffer, size, 0, nullptr, nullptr);
  if (received >= 0) {
    failing = 0;
    errors = 0;
    return received;
  }
  const int code = platform::WSAGetLastError();
  if (code != WSAEWOULDBLOCK && code != WSAETIMEDOUT && code != WSAEINTR) {
    failing = code;
    ++errors;
    platform::Sleep(receive_timeout_ms);
  }
  return -1;
}
