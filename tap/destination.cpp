#include "tap/destination.h"

bool Destination::open(const std::string &host, std::int32_t port, std::string &error) {
  if (!socket.connect_to(host, port, UdpTransport::family_ipv4)) {
    // The transport names failures after resolution; before it, the host was unknown.
    const std::string &why = socket.error_text();
    error = why.empty() ? "cannot resolve " + host
                        : "cannot reach " + host + ":" + std::to_string(port) + ": " + why;
    return false;
  }
  platform::set_non_blocking(socket.native_handle());
  return true;
}

bool Destination::send_once(const unsigned char *bytes, std::uint32_t size) {
  const int length = static_cast<int>(size);
  return platform::send(socket.native_handle(), bytes, length, 0) == length;
}

// Reads what waits on the socket: a report of an earlier datagram that was
// not delivered, or datagrams the destination sent back, which nobody wants.
// Bounded, so a destination that floods the tap cannot hold it here.
bool Destination::report_pending() {
  unsigned char ignored[64];
  for (int i = 0; i < 8; ++i) {
    const int received =
        platform::recvfrom(socket.native_handle(), ignored, sizeof ignored, 0, nullptr, nullptr);
    if (received < 0) {
      return platform::WSAGetLastError() != WSAEWOULDBLOCK;
    }
  }
  return false;
}

bool Destination::forward(const unsigned char *bytes, std::uint32_t size) {
  // A send that fails may have failed on a report that came late, after the
  // last read, and then dropped this datagram; it is tried once more, so a
  // destination that came back loses nothing, but it counts as failed.
  const bool sent = send_once(bytes, size);
  if (!sent) {
    send_once(bytes, size);
  }
  const bool reported = report_pending();
  return sent && !reported;
}
