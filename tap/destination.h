// One program the tap hands datagrams on to, over a connected socket of its
// own: the system then reports a destination that nobody listens on. Linux
// (and Wine) hand that report to the next send, Windows to a receive; the
// socket is non-blocking and read after every send, which collects it on
// both, so each datagram is known delivered or not right after it left.
#pragma once

#include "udp/udp.h"

#include <cstdint>
#include <string>

class Destination {
public:
  Destination() = default;
  Destination(const Destination &) = delete;
  Destination &operator=(const Destination &) = delete;

  // False with the reason in `error`.
  bool open(const std::string &host, std::int32_t port, std::string &error);

  // Sends the bytes, however few (an empty datagram too), as one datagram;
  // false when they did not leave or the system reported them undelivered.
  bool forward(const unsigned char *bytes, std::uint32_t size);

  const SocketAddress &address() const { return socket.remote_address(); }

private:
  bool send_once(const unsigned char *bytes, std::uint32_t size);
  bool report_pending();

  UdpTransport socket;
};
