// The tap's receiving socket: bound to one IPv4 address and port, with a
// receive that returns every so often so the caller can notice Ctrl+C.
#pragma once

#include "platform/platform.h"
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

  // The bound IPv4 address and port, in network byte order.
  const sockaddr_in &address() const { return local; }

private:
  WinsockSession winsock;
  platform::SocketHandle handle = -1;
  sockaddr_in local{};
  int failing = 0;
  int errors = 0;
};
