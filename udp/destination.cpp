#include "udp/destination.h"

#include <cstring>

bool Destination::open(const std::string &host, std::int32_t port, std::string &error,
                       int multicast_ttl) {
  if (!socket.connect_to(host, port, UdpTransport::family_ipv4, true)) {
    // The transport names failures after resolution; before it, the host was unknown.
    const std::string &why = socket.error_text();
    error = why.empty() ? "cannot resolve " + host
                        : "cannot reach " + host + ":" + std::to_string(port) + ": " + why;
    return false;
  }
  // A blocking socket would hold the tap in a read of its reports.
  if (platform::set_non_blocking(socket.native_handle()) != 0) {
    error = "cannot use a socket for " + host + ":" + std::to_string(port) + ": error " +
            std::to_string(platform::WSAGetLastError());
    return false;
  }
  sockaddr_in to{};
  std::memcpy(&to, socket.remote_address().addr(), sizeof to);
  const bool group = (ntohl(to.sin_addr.s_addr) >> 28U) == 0xE; // 224.0.0.0/4
  if (group && platform::set_multicast(socket.native_handle(), multicast_ttl) != 0) {
    error = "cannot send to the group " + host + ": error " +
            std::to_string(platform::WSAGetLastError());
    return false;
  }
  return true;
}

bool Destination::send_once(const unsigned char *bytes, std::uint32_t size) {
  const int length = static_cast<int>(size);
  return platform::send(socket.native_handle(), bytes, length, 0) == length;
}

void Destination::forward(const unsigned char *bytes, std::uint32_t size, std::int64_t now_us) {
  // A send that fails on a report of an earlier datagram drops this one on
  // Linux: it is tried once more, so a destination that came back loses
  // nothing, but it counts as failed, the report being read by the send.
  const bool sent = send_once(bytes, size);
  if (!sent) {
    send_once(bytes, size);
  }
  ++(sent ? forwarded_ : failed_);
  if (now_us - last_read_us >= read_every_us) {
    read_reports(now_us);
  }
}

// Reads what waits on the socket: reports of datagrams that were not
// delivered, or datagrams the destination sent back, which nobody wants.
// Only the system's report that nobody listens (refused on Linux and Wine,
// reset on Windows) is a loss: a longer datagram sent back fails the read
// on Windows too. Bounded, so a destination that floods the tap cannot hold
// it here.
void Destination::read_reports(std::int64_t now_us) {
  last_read_us = now_us;
  unsigned char ignored[64];
  for (int i = 0; i < 16; ++i) {
    if (platform::recvfrom(socket.native_handle(), ignored, sizeof ignored, 0, nullptr, nullptr) >=
        0) {
      continue;
    }
    const int code = platform::WSAGetLastError();
    if (code == WSAEWOULDBLOCK) {
      return;
    }
    if ((code == WSAECONNREFUSED || code == WSAECONNRESET) && forwarded_ > 0) {
      --forwarded_;
      ++failed_;
    }
  }
}
