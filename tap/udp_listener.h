// The tap's receiving socket: bound to one IPv4 address and port, with a
// receive that returns every so often so the caller can notice Ctrl+C.
#pragma once

#include "platform/platform.h"

#include <cstdint>
#include <string>

class UdpListener {
public:
  UdpListener();
  ~UdpListener();
  UdpListener(const UdpListener &) = delete;
  UdpListener &operator=(const UdpListener &) = delete;

  enum class Bound { ok, bad_host, in_use, failed };
  // `error` says what went wrong for anything but ok.
  Bound bind_to(const std::string &host, std::int32_t port, std::string &error);

  // One datagram of up to `size` bytes; -1 when none came within a tenth of
  // a second, or on any error (such as the port-unreachable reports Windows
  // hands to UDP sockets), none of which ends listening.
  int receive(unsigned char *buffer, int size);

  // The bound IPv4 address and port, in network byte order.
  const sockaddr_in &address() const { return local; }

private:
  platform::SocketHandle handle = -1;
  bool started = false;
  sockaddr_in local{};
};
