#include "web/web_server.h"

#include "platform/console.h"
#include "web/request_facts.h"
#include "web/web_files.h"
#include "web/web_rules.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <atomic>
#include <chrono>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <thread>

namespace {

namespace beast = boost::beast;
namespace http = beast::http;
namespace websocket = beast::websocket;
namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = std::chrono::steady_clock;

constexpr std::size_t header_limit = 8 * 1024; // request line and headers
constexpr std::size_t max_connections = 64;    // page requests and relay clients together
constexpr std::size_t max_client_message = 4 * 1024;
constexpr std::size_t client_queue_limit = std::size_t{1} << 20; // bytes, per relay client
constexpr auto request_time = std::chrono::seconds(5);
constexpr auto stall_limit = std::chrono::seconds(5); // one message's write, at most
constexpr const char *busy_answer = "HTTP/1.1 503 Service Unavailable\r\nContent-Length: 0\r\n"
                                    "Connection: close\r\n\r\n";

using Message = std::shared_ptr<const std::vector<unsigned char>>;

// Open connections and relay clients, on the server's thread. Shared, so
// that objects that outlive the server (released when its context goes)
// can still count themselves out.
struct Tally {
  std::size_t connections = 0; // page requests and relay clients together
  std::size_t relays = 0;      // handed over to the relay, handshake or not
};

} // namespace

struct WebServer::Server {
  class Relay;
  class Connection;

  explicit Server(std::function<std::string()> status) : status(std::move(status)) {}

  void accept_next();
  void check_stalls();
  void forget(const Relay *relay);

  std::function<std::string()> status;
  net::io_context context{1};
  tcp::acceptor acceptor{context};
  net::steady_timer stall_timer{context};
  std::optional<WebRules> rules;
  std::thread thread;
  std::shared_ptr<Tally> tally = std::make_shared<Tally>();

  // Shared with the receiving thread.
  mutable std::mutex mutex;
  std::vector<std::shared_ptr<Relay>> relays;
  std::atomic<std::size_t> relay_count{0};
  std::uint64_t served = 0;
  std::uint64_t dropped = 0;
};

// One WebSocket client of the relay: it gets what is queued for it, in order,
// one write at a time; what it sends is read and thrown away.
class WebServer::Server::Relay : public std::enable_shared_from_this<Relay> {
public:
  Relay(Server &server, tcp::socket socket)
      : server(server), tally(server.tally), socket(std::move(socket)) {
    ++tally->relays;
  }
  ~Relay() {
    --tally->connections;
    --tally->relays;
  }

  void accept(http::request<http::empty_body> request) {
    socket.binary(true);
    socket.read_message_max(max_client_message);
    socket.auto_fragment(false);
    socket.async_accept(request, [self = shared_from_this()](beast::error_code error) {
      if (error) {
        return;
      }
      {
        const std::lock_guard<std::mutex> lock(self->server.mutex);
        self->server.relays.push_back(self);
        self->server.relay_count = self->server.relays.size();
        ++self->server.served;
      }
      self->read();
    });
  }

  // Under the server's lock, from the receiving thread.
  void enqueue(const Message &message) {
    if (queued_bytes + message->size() > client_queue_limit) {
      ++server.dropped;
      return;
    }
    queue.push_back(message);
    queued_bytes += message->size();
    if (!writing) {
      writing = true;
      net::post(server.context, [self = shared_from_this()] { self->write_next(); });
    }
  }

  bool stalled(Clock::time_point now) const {
    return write_started && now - *write_started > stall_limit;
  }

  void close() {
    beast::error_code ignored;
    beast::get_lowest_layer(socket).close(ignored);
  }

private:
  void read() {
    incoming.clear();
    socket.async_read(incoming, [self = shared_from_this()](beast::error_code error, std::size_t) {
      if (error) {
        // Closed by the client, too long (closed with 1009) or gone.
        self->server.forget(self.get());
        return;
      }
      self->read(); // data from a client goes nowhere
    });
  }

  void write_next() {
    Message next;
    {
      const std::lock_guard<std::mutex> lock(server.mutex);
      if (queue.empty()) {
        writing = false;
        return;
      }
      next = queue.front();
    }
    write_started = Clock::now();
    socket.async_write(net::buffer(*next),
                       [self = shared_from_this()](beast::error_code error, std::size_t) {
                         self->write_started.reset();
                         {
                           const std::lock_guard<std::mutex> lock(self->server.mutex);
                           self->queued_bytes -= self->queue.front()->size();
                           self->queue.pop_front();
                           if (error) {
                             self->queue.clear();
                             self->queued_bytes = 0;
                             self->writing = false;
                             return;
                           }
                         }
                         self->write_next();
                       });
  }

  Server &server;
  std::shared_ptr<Tally> tally;
  websocket::stream<tcp::socket> socket;
  beast::flat_buffer incoming{max_client_message + 1024};
  std::optional<Clock::time_point> write_started; // the server's thread only
  // Under the server's lock.
  std::deque<Message> queue;
  std::size_t queued_bytes = 0;
  bool writing = false;
};

// An HTTP connection: requests one after another, each within the time limit,
// until it closes or becomes a relay client.
class WebServer::Server::Connection : public std::enable_shared_from_this<Connection> {
public:
  Connection(Server &server, tcp::socket socket)
      : server(server), tally(server.tally), stream(std::move(socket)) {
    ++tally->connections;
  }
  ~Connection() {
    if (!handed_over) {
      --tally->connections;
    }
  }

  void read() {
    parser.emplace();
    parser->header_limit(header_limit);
    parser->body_limit(0);
    stream.expires_after(request_time);
    http::async_read(
        stream, buffer, *parser,
        [self = shared_from_this()](beast::error_code error, std::size_t) { self->answer(error); });
  }

private:
  void answer(beast::error_code error) {
    if (error == http::error::header_limit) {
      return reply(http::status::request_header_fields_too_large, "", "", false);
    }
    if (error) {
      return; // timed out, closed or not HTTP: the connection goes
    }
    const http::request<http::empty_body> &request = parser->get();
    const WebRequest facts = request_facts(request);
    const bool keep = request.keep_alive();
    switch (server.rules->judge(facts)) {
    case WebAnswer::forbidden:
      return reply(http::status::forbidden, "", "", false);
    case WebAnswer::method_not_allowed:
      return reply(http::status::method_not_allowed, "", "", keep);
    case WebAnswer::upgrade_required:
      return reply(http::status::upgrade_required, "", "", keep);
    case WebAnswer::relay:
      if (tally->relays >= max_relay_clients) {
        return reply(http::status::service_unavailable, "", "", false);
      }
      handed_over = true;
      stream.expires_never();
      std::make_shared<Relay>(server, stream.release_socket())->accept(parser->release());
      return;
    case WebAnswer::file:
      break;
    }
    const std::string_view path = request_path(facts.target);
    if (path == "/status") {
      return reply(http::status::ok, "application/json", server.status(), keep);
    }
    const WebFile *file = find_web_file(path);
    if (file == nullptr) {
      return reply(http::status::not_found, "", "", keep);
    }
    reply(http::status::ok, file->type,
          std::string(reinterpret_cast<const char *>(file->data), file->size), keep);
  }

  void reply(http::status status, const char *type, std::string body, bool keep) {
    auto response = std::make_shared<http::response<http::string_body>>(status, 11);
    if (*type != '\0') {
      response->set(http::field::content_type, type);
    }
    response->set(http::field::cache_control, "no-store");
    response->set("X-Content-Type-Options", "nosniff");
    if (status == http::status::method_not_allowed) {
      response->set(http::field::allow, "GET");
    }
    response->body() = std::move(body);
    response->keep_alive(keep);
    response->prepare_payload();
    stream.expires_after(request_time);
    http::async_write(
        stream, *response,
        [self = shared_from_this(), response, keep](beast::error_code error, std::size_t) {
          if (!error && keep) {
            self->read();
          } else {
            beast::error_code ignored;
            self->stream.socket().shutdown(tcp::socket::shutdown_send, ignored);
          }
        });
  }

  Server &server;
  std::shared_ptr<Tally> tally;
  beast::tcp_stream stream;
  beast::flat_buffer buffer{header_limit + 1024};
  std::optional<http::request_parser<http::empty_body>> parser;
  bool handed_over = false;
};

void WebServer::Server::accept_next() {
  acceptor.async_accept([this](beast::error_code error, tcp::socket socket) {
    if (error == net::error::operation_aborted) {
      return;
    }
    if (!error) {
      if (tally->connections >= max_connections) {
        auto kept = std::make_shared<tcp::socket>(std::move(socket));
        net::async_write(*kept, net::buffer(busy_answer, std::strlen(busy_answer)),
                         [kept](beast::error_code, std::size_t) {});
      } else {
        std::make_shared<Connection>(*this, std::move(socket))->read();
      }
    }
    accept_next();
  });
}

// A client that has not taken a single message for seconds is closed: its
// queue would only hold memory.
void WebServer::Server::check_stalls() {
  stall_timer.expires_after(std::chrono::seconds(1));
  stall_timer.async_wait([this](beast::error_code error) {
    if (error) {
      return;
    }
    std::vector<std::shared_ptr<Relay>> all;
    {
      const std::lock_guard<std::mutex> lock(mutex);
      all = relays;
    }
    const Clock::time_point now = Clock::now();
    for (const std::shared_ptr<Relay> &relay : all) {
      if (relay->stalled(now)) {
        relay->close();
      }
    }
    check_stalls();
  });
}

void WebServer::Server::forget(const Relay *relay) {
  const std::lock_guard<std::mutex> lock(mutex);
  for (auto i = relays.begin(); i != relays.end(); ++i) {
    if (i->get() == relay) {
      relays.erase(i);
      break;
    }
  }
  relay_count = relays.size();
}

WebServer::WebServer(std::function<std::string()> status)
    : server(std::make_unique<Server>(std::move(status))) {}

WebServer::~WebServer() {
  stop();
#ifdef _WIN32
  // Destroying the context waits for every write in flight to end, and under
  // Wine one to a client that never reads does not end when its socket is
  // closed. The process ends right after this, taking everything with it.
  static_cast<void>(server.release());
#endif
}

bool WebServer::start(const std::string &host, int port, const std::vector<std::string> &origins,
                      std::string &error) {
  beast::error_code failure;
  tcp::resolver resolver(server->context);
  const auto found = resolver.resolve(
      host, std::to_string(port), tcp::resolver::numeric_service | tcp::resolver::passive, failure);
  if (failure || found.empty()) {
    error = "--web: cannot resolve \"" + host + "\": " + failure.message();
    return false;
  }
  const tcp::endpoint endpoint = *found.begin();
  tcp::acceptor &acceptor = server->acceptor;
  acceptor.open(endpoint.protocol(), failure);
#ifndef _WIN32
  // On Windows this would let another program take the port as well.
  if (!failure) {
    acceptor.set_option(tcp::acceptor::reuse_address(true), failure);
  }
#endif
  if (!failure) {
    acceptor.bind(endpoint, failure);
  }
  if (!failure) {
    acceptor.listen(net::socket_base::max_listen_connections, failure);
  }
  if (failure) {
    error = "--web " + host + ":" + std::to_string(port) + ": " + failure.message();
    return false;
  }
  server->rules.emplace(port, origins);
  server->accept_next();
  server->check_stalls();
  server->thread = platform::start_thread([this] { server->context.run(); });
  return true;
}

void WebServer::publish(const unsigned char *bytes, std::size_t size) {
  if (server->relay_count == 0) {
    return;
  }
  const Message message = std::make_shared<const std::vector<unsigned char>>(bytes, bytes + size);
  const std::lock_guard<std::mutex> lock(server->mutex);
  for (const std::shared_ptr<Server::Relay> &relay : server->relays) {
    relay->enqueue(message);
  }
}

WebCounts WebServer::counts() const {
  const std::lock_guard<std::mutex> lock(server->mutex);
  return {server->relays.size(), server->served, server->dropped};
}

void WebServer::stop() {
  if (!server->thread.joinable()) {
    return;
  }
  server->context.stop();
  try {
    server->thread.join();
  } catch (const std::system_error &) {
    server->thread.detach(); // qemu-i386 after a handled signal; the thread has ended
  }
}
