// One UDP datagram socket together with its own Winsock start-up. Knows
// nothing of OSC: it sends whatever bytes it is given.
#pragma once

#include "platform/platform.h"
#include "udp/winsock_session.h"

#include <cassert>
#include <charconv>
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>

class SocketAddress {
public:
  SocketAddress() { std::memset(&storage, 0, sizeof storage); }
  SocketAddress(const SocketAddress &) = delete;
  SocketAddress &operator=(const SocketAddress &) = delete;

  sockaddr *addr() { return reinterpret_cast<sockaddr *>(&storage); }
  const sockaddr *addr() const { return reinterpret_cast<const sockaddr *>(&storage); }
  int family() const { return storage.ss_family; }
  static constexpr int max_len() { return static_cast<int>(sizeof(sockaddr_storage)); }

  int actual_len() const {
    switch (family()) {
    case 0:
      return 0;
    case AF_INET:
      return static_cast<int>(sizeof(sockaddr_in));
    case AF_INET6:
      return static_cast<int>(sizeof(sockaddr_in6));
    default:
      return max_len();
    }
  }

  bool empty() const { return family() == 0; }

private:
  sockaddr_storage storage;
};

static_assert(sizeof(sockaddr_storage) == 128, "Winsock's address storage is 128 bytes");

// getaddrinfo for datagram sockets of `address_family` (AF_INET, AF_INET6
// or AF_UNSPEC); `passive` asks for addresses to bind to. Needs a Winsock
// start-up; the result is freed with platform::freeaddrinfo.
inline int lookup_datagram_address(const char *host, const char *service, int address_family,
                                   bool passive, addrinfo **result) {
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = address_family;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = passive ? AI_PASSIVE : 0;
  return platform::getaddrinfo(host, service, &hints, result);
}

class UdpTransport {
public:
  // connect_to's family selector.
  static constexpr int family_ipv4 = 1;
  static constexpr int family_ipv6 = 2;
  static constexpr int family_any = 0;

  UdpTransport() {
    if (!winsock.started()) {
      set_error("winsock failed to initialise");
    }
  }

  UdpTransport(const UdpTransport &) = delete;
  UdpTransport &operator=(const UdpTransport &) = delete;

  // The socket closes before `winsock` cleans up.
  ~UdpTransport() { close(); }

  // An empty host binds to the wildcard address on `port` instead of
  // connecting; any earlier socket of this object is closed first.
  // `broadcast` lets the socket reach a broadcast address (the tap's
  // destinations; the bridge never asks).
  bool connect_to(const std::string &host, std::int32_t port, int family, bool broadcast = false) {
    // Signed decimal as "%d" writes it, without printf's format parsing.
    char port_string[64];
    const std::to_chars_result end = std::to_chars(port_string, port_string + 63, port);
    *end.ptr = '\0';
    return open_socket(host, port_string, family, broadcast);
  }

  // Hands the bytes to the socket as one datagram, without copying them.
  bool send(const void *payload, std::uint32_t size) { return send_to(payload, size, remote_addr); }

  bool is_ok() const { return error_message.empty(); }
  bool is_open() const { return handle != -1; }
  bool is_bound() const { return !local_addr.empty(); }
  // For calls the transport does not make itself (the tap's reading back of
  // delivery reports); -1 while closed.
  platform::SocketHandle native_handle() const { return handle; }
  const std::string &error_text() const { return error_message; }
  const SocketAddress &local_address() const { return local_addr; }
  const SocketAddress &remote_address() const { return remote_addr; }

private:
  // An interrupted datagram was not sent at all, so sending it again cannot
  // duplicate it; the bound keeps a signal storm from holding the SDK's thread.
  static constexpr int interrupted_send_retries = 3;

  bool open_socket(const std::string &host, const std::string &port_string, int family,
                   bool broadcast) {
    const bool bind_mode = host.empty();
    close();
    error_message.clear();

    addrinfo *result = nullptr;
    const int address_family = family == family_ipv4   ? AF_INET
                               : family == family_ipv6 ? AF_INET6
                                                       : AF_UNSPEC;
    if (lookup_datagram_address(bind_mode ? nullptr : host.c_str(),
                                port_string.empty() ? nullptr : port_string.c_str(), address_family,
                                bind_mode, &result) != 0) {
      return false;
    }
    for (const addrinfo *rp = result; rp != nullptr && handle == -1; rp = rp->ai_next) {
      handle = platform::socket(rp->ai_family, rp->ai_socktype, rp->ai_protocol);
      if (handle == -1) {
        continue;
      }
      if (broadcast) {
        platform::set_broadcast(handle); // refused, a broadcast address fails to connect
      }
      const int length = static_cast<int>(rp->ai_addrlen);
      if (bind_mode) {
        if (platform::bind(handle, rp->ai_addr, length) == 0) {
          int len = SocketAddress::max_len();
          platform::getsockname(handle, local_addr.addr(), &len);
          break;
        }
      } else if (platform::connect(handle, rp->ai_addr, length) == 0) {
        assert(rp->ai_addrlen <= sizeof remote_addr);
        std::memcpy(remote_addr.addr(), rp->ai_addr, rp->ai_addrlen);
        break;
      }
      close();
    }
    platform::freeaddrinfo(result);
    result = nullptr;

    if (handle != -1) {
      return true;
    }
    set_error(bind_mode ? "bind failed" : "connect failed");
    assert(handle == -1);
    return false;
  }

  bool send_to(const void *payload, std::uint32_t size, const SocketAddress &destination) {
    if (!is_ok() || handle == -1) {
      set_error("not opened..");
      return false;
    }
    // A datagram longer than a socket call can take could not leave whole.
    if (payload == nullptr || size == 0 || size > INT_MAX) {
      return false;
    }
    const int length = static_cast<int>(size);
    for (int attempt = 0;; ++attempt) {
      const int sent = is_bound() ? platform::sendto(handle, payload, length, 0, destination.addr(),
                                                     destination.actual_len())
                                  : platform::send(handle, payload, length, 0);
      if (sent == length) {
        return true;
      }
      if (sent != SOCKET_ERROR || platform::WSAGetLastError() != WSAEINTR ||
          attempt == interrupted_send_retries) {
        return false;
      }
    }
  }

  void close() {
    if (handle != -1) {
      platform::closesocket(handle);
      handle = -1;
    }
  }

  // The first failure since the last open is the one worth reporting.
  void set_error(const char *text) {
    if (error_message.empty()) {
      error_message = text;
    }
  }

  WinsockSession winsock; // first in, last out
  std::string error_message;
  platform::SocketHandle handle = -1;
  SocketAddress local_addr;
  SocketAddress remote_addr;
};
