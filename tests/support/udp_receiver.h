// A plain UDP receiver on loopback for tests, written straight against the
// system's sockets so that it shares no code with the transport under test.
#pragma once

#include <chrono>
#include <cstdint>
#include <vector>

using Datagram = std::vector<unsigned char>;

class UdpReceiver {
public:
  // Binds 127.0.0.1:port; port 0 picks a free one.
  explicit UdpReceiver(std::uint16_t port);
  ~UdpReceiver();
  UdpReceiver(const UdpReceiver &) = delete;
  UdpReceiver &operator=(const UdpReceiver &) = delete;

  bool is_open() const { return bound_port != 0; }
  std::uint16_t port() const { return bound_port; }

  // One datagram, or false when none arrives within `timeout`.
  bool receive(Datagram &datagram, std::chrono::milliseconds timeout);
  // The port the last datagram received came from.
  std::uint16_t sender_port() const { return sender; }
  // Sends one datagram from this socket to 127.0.0.1:port.
  bool send_to(std::uint16_t port, const Datagram &datagram);
  // `count` datagrams, each waited for up to `first` (generous: Wine starts
  // slowly), then whatever else comes before `quiet` passes without one.
  std::vector<Datagram> receive_all(std::size_t count, std::chrono::milliseconds first,
                                    std::chrono::milliseconds quiet);

private:
  std::intptr_t handle = -1;
  std::uint16_t bound_port = 0;
  std::uint16_t sender = 0;
};
