// A receiving UDP socket: bound to one IPv4 address and port, with a
// receive that returns every so often so the caller can notice Ctrl+C, and
// the system's count of the datagrams it dropped before they were read
// where the system keeps one (Linux).
#pragma once

#include "platform/platform.h"
#include "udp/udp.h"
#include "udp/winsock_session.h"

#include <cstdint>
#include <string>

class UdpListener {
public:
  UdpListener() = default;
  ~UdpListener();
  UdpListener(const UdpListener &) = delete;
  UdpListener &operator=(const UdpListener &) = delete;

  enum class Bound { ok, bad_host, in_use, failed };
  // `error` says what went wrong for anything but ok.
  Bound bind_to(const std::string &host, std::int32_t port, std::string &error);

  // One datagram of up to `size` bytes (0 is a datagram too), or -1 when
  // none came within a tenth of a second. An error (such as the
  // port-unreachable reports Windows hands to UDP sockets) does not end
  // listening: it waits a tenth of a second, so one that lasts cannot spin
  // a core, and is kept in error_code() until a datagram comes.
  int receive(unsigned char *buffer, int size);

  int error_code() const { return failing; }
  // Errors in a row: 10 or more have lasted a second.
  int errors_in_a_row() const { return errors; }

  // The bound port (the one the system chose for port 0).
  std::int32_t port() const;
  // Whether sending to `destination` would reach this socket: a wildcard
  // listener also hears its loopback addresses and broadcasts.
  bool would_loop(const SocketAddress &destination) const;

  // Datagrams the system dropped for a full buffer, as of the latest one
  // received (the system hands its count on with each datagram, so drops show
  // with the next one to arrive); drops_known() false where it cannot tell.
  bool drops_known() const { return counts_drops; }
  std::uint32_t system_dropped() const { return dropped; }

private:
  WinsockSession winsock;
  platform::SocketHandle handle = -1;
  sockaddr_in local{};
  int failing = 0;
  int errors = 0;
  bool counts_drops = false;
  std::uint32_t dropped = 0;
};
