// One WebSocket client of the relay. Beast answers the handshake; then the
// relay writes frames itself, everything queued for the client in one write,
// and reads the client's frames only to answer pings and closes. It is on the
// server's list from before its 101 is written until its socket is closed,
// so it gets every datagram after the handshake and its stalls are seen
// while it closes too.
#pragma once

#include "web/relay_queue.h"
#include "web/server_state.h"
#include "web/websocket_frames.h"

#include <bitset>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class WebServer::Server::Relay : public std::enable_shared_from_this<Relay> {
public:
  // `already_read`: what the client sent after its upgrade request, read with it.
  Relay(Server &server, tcp::socket socket, std::vector<unsigned char> already_read);
  ~Relay();
  Relay(const Relay &) = delete;
  Relay &operator=(const Relay &) = delete;

  void accept(web_server::http::request<web_server::http::empty_body> upgrade);

  // Under the server's lock, from the receiving thread.
  void enqueue(const RelayMessage &message);
  // Under the server's lock.
  bool stalled(web_server::Clock::time_point now) const { return queue.stalled(now); }
  bool listens_to(std::size_t stream) const { return listening.test(stream); }
  bool is_client() const {
    return queue.state() == RelayQueue::State::open ||
           queue.state() == RelayQueue::State::handshake;
  }
  void close();

private:
  void wake();
  void no_longer_a_client();
  void close_with(std::uint16_t code);
  void read_more(std::size_t kept);
  void take_frames(std::size_t size);
  void command(const ClientFrame &frame, const unsigned char *payload);
  void write_next();
  void written(web_server::beast::error_code error);

  static constexpr std::size_t read_size = std::size_t{4} * 1024;

  Server &server;
  std::shared_ptr<web_server::Tally> tally;
  web_server::http::request<web_server::http::empty_body>
      request; // until the handshake is answered
  std::optional<web_server::websocket::stream<tcp::socket>> handshake;
  tcp::socket socket;
  // The server's thread only.
  std::vector<unsigned char> incoming;
  std::size_t message_size = 0; // of a fragmented message so far
  bool finishing = false;       // a close is on its way: the client's frames are not read
  RelayQueue::Batch batch;
  std::vector<unsigned char> headers;
  // Under the server's lock.
  RelayQueue queue;
  bool posted = false;                           // a write_next() is on its way
  std::bitset<WebServer::max_streams> listening; // OSCQuery: the streams asked for
};
