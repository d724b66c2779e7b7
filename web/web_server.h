// The tap's web side: the monitor page and the WebSocket relay, served on a
// thread of its own. The receiving thread hands each datagram over with
// publish(), which never waits for a client: each has a bounded queue, and
// what does not fit is dropped for that client alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct WebCounts {
  std::uint64_t clients = 0; // relay clients connected now
  std::uint64_t served = 0;  // relay clients accepted so far
  std::uint64_t dropped = 0; // messages dropped for clients that fell behind
};

class WebServer {
public:
  static constexpr std::size_t max_relay_clients = 32;

  // `status` answers the page's "/status" on the server's thread.
  explicit WebServer(std::function<std::string()> status);
  ~WebServer();
  WebServer(const WebServer &) = delete;
  WebServer &operator=(const WebServer &) = delete;

  enum class Started { ok, bad_host, failed };
  // Listens on HOST:PORT and starts serving; anything but ok with `error`
  // said. `origins` are those a relay client may also come from.
  Started start(const std::string &host, int port, const std::vector<std::string> &origins,
                std::string &error);
  // From the receiving thread: one binary message to every relay client.
  void publish(const unsigned char *bytes, std::size_t size);
  WebCounts counts() const;
  // Closes every connection and ends the thread.
  void stop();

private:
  struct Server;
  std::unique_ptr<Server> server;
};
