// One program the tap hands datagrams on to, over a connected socket of its
// own: the system then reports a destination that nobody listens on. Linux
// (and Wine) hand that report to the next send, Windows to a receive; the
// socket is non-blocking and read every hundredth of a second, which
// collects the report on both, so the counts are right within a second
// whichever call carries it. A report moves one datagram from forwarded to
// failed.
#pragma once

#include "udp/udp.h"

#include <cstdint>
#include <string>

class Destination {
public:
  static constexpr std::int64_t read_every_us = 10000;

  Destination() = default;
  Destination(const Destination &) = delete;
  Destination &operator=(const Destination &) = delete;

  // False with the reason in `error`. The socket may send to a broadcast
  // address, and to a multicast group with `multicast_ttl` hops (1: this
  // network only), members on this machine hearing it too.
  bool open(const std::string &host, std::int32_t port, std::string &error, int multicast_ttl = 1);

  // Sends the bytes, however few (an empty datagram too), as one datagram;
  // `now_us` on any steady clock says whether the socket is due a read.
  void forward(const unsigned char *bytes, std::uint32_t size, std::int64_t now_us);
  // Collects the reports that came since the last read.
  void read_reports(std::int64_t now_us);

  std::uint64_t forwarded() const { return forwarded_; }
  std::uint64_t failed() const { return failed_; }
  const SocketAddress &address() const { return socket.remote_address(); }

private:
  bool send_once(const unsigned char *bytes, std::uint32_t size);

  UdpTransport socket;
  std::uint64_t forwarded_ = 0;
  std::uint64_t failed_ = 0;
  std::int64_t last_read_us = 0;
};
