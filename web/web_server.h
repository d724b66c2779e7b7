// The tap's web side, served on a thread of its own: the monitor page and the
// WebSocket relay of every datagram, or an OSCQuery namespace and the stream
// of the addresses each of its clients listens to. The receiving thread
// hands datagrams and messages over with publish(), which never waits for a
// client: each has a bounded queue, and what does not fit is dropped for
// that client alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

struct WebCounts {
  std::uint64_t clients = 0; // WebSocket clients connected now
  std::uint64_t served = 0;  // WebSocket clients accepted so far
  std::uint64_t dropped = 0; // messages dropped for clients that fell behind
  std::uint64_t ignored = 0; // what clients said that was no command (OSCQuery)
};

// An answer the tap makes: an HTTP status and its JSON, if any.
struct WebReply {
  int status = 404;
  std::string json;
};

// What a server serves. With `status`, the monitor: the page's files, the
// status at "/status" and the relay of every datagram at "/osc". With
// `answer` instead, OSCQuery: every GET answered from the path and the
// query, and on a WebSocket upgrade of any path the messages of the
// `streams` each client asks for with LISTEN. Both are called on the
// server's thread.
struct WebSite {
  std::function<std::string()> status;
  std::function<WebReply(const std::string &path, const std::string &query)> answer;
  std::vector<std::string> streams; // at most max_streams
  bool oscquery() const { return static_cast<bool>(answer); }
};

class WebServer {
public:
  static constexpr std::size_t max_relay_clients = 32;
  static constexpr std::size_t max_streams = 64;

  explicit WebServer(WebSite site);
  ~WebServer();
  WebServer(const WebServer &) = delete;
  WebServer &operator=(const WebServer &) = delete;

  enum class Started { ok, bad_host, failed };
  // Listens on HOST:PORT and starts serving; anything but ok with `error`
  // said. `origins` are those a relay client may also come from.
  Started start(const std::string &host, int port, const std::vector<std::string> &origins,
                std::string &error);
  // The port it listens on, the one the system chose for port 0.
  int port() const;
  // From the receiving thread: one binary message to every relay client,
  // or to each OSCQuery client that listens to `stream`.
  void publish(const unsigned char *bytes, std::size_t size);
  void publish(std::size_t stream, const unsigned char *bytes, std::size_t size);
  WebCounts counts() const;
  // Closes every connection and ends the thread.
  void stop();

private:
  struct Server;
  std::unique_ptr<Server> server;
};
