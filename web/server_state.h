// What the web side's three pieces share: the limits, the server's state
// (its thread, its listener, the relay clients it hands datagrams to) and
// the tally of connections. The server's own files only.
#pragma once

#include "web/web_rules.h"
#include "web/web_server.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace web_server {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

constexpr std::size_t header_limit = std::size_t{8} * 1024; // request line and headers
constexpr std::size_t max_connections = 64; // page requests and relay clients together
constexpr std::size_t max_client_message = std::size_t{4} * 1024;
constexpr std::size_t client_queue_limit = std::size_t{1} << 20; // bytes, per relay client
constexpr auto request_time = std::chrono::seconds(5);
constexpr auto stall_limit = std::chrono::seconds(5); // one write, or lingering after a close
constexpr auto accept_retry = std::chrono::milliseconds(100);
constexpr const char *content_policy =
    "default-src 'self'; connect-src 'self'; frame-ancestors 'none'; base-uri 'none'; "
    "form-action 'none'";
constexpr const char *content_policy_inline =
    "default-src 'self'; script-src 'self' 'unsafe-inline'; connect-src 'self'; "
    "frame-ancestors 'none'; base-uri 'none'; form-action 'none'";
constexpr const char *busy_answer = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n"
                                    "Connection: close\r\n\r\n";

// Open connections and relay clients, on the server's thread. Shared, so
// that objects that outlive the server (released when its context goes)
// can still count themselves out.
struct Tally {
  std::size_t connections = 0; // page requests and relay clients together
  std::size_t relays = 0;      // handed over to the relay, handshake or not
};

} // namespace web_server

struct WebServer::Server {
  using tcp = web_server::tcp;

  class Relay;
  class Connection;

  explicit Server(WebSite site) : site(std::move(site)) {}

  void accept_next();
  void check_stalls();
  void join(std::shared_ptr<Relay> relay);
  void forget(const Relay *relay);

  WebSite site;
  web_server::net::io_context context{1};
  tcp::acceptor acceptor{context};
  web_server::net::steady_timer stall_timer{context};
  web_server::net::steady_timer accept_pause{context};
  std::optional<WebRules> rules;
  std::thread thread;
  std::shared_ptr<web_server::Tally> tally = std::make_shared<web_server::Tally>();

  // Shared with the receiving thread.
  mutable std::mutex mutex;
  std::vector<std::shared_ptr<Relay>> relays; // from before the 101 until the socket closes
  std::atomic<std::size_t> relay_count{0};    // relays.size(), for publish() to skip the lock
  std::uint64_t served = 0;
  std::uint64_t dropped = 0;
  std::uint64_t ignored = 0;
};
