#include "web/web_server.h"

#include "platform/console.h"
#include "web/relay_queue.h"
#include "web/request_facts.h"
#include "web/web_files.h"
#include "web/web_rules.h"
#include "web/websocket_frames.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/beast/websocket.hpp>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
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

} // namespace

struct WebServer::Server {
  class Relay;
  class Connection;

  explicit Server(std::function<std::string()> status) : status(std::move(status)) {}

  void accept_next();
  void check_stalls();
  void join(std::shared_ptr<Relay> relay);
  void forget(const Relay *relay);

  std::function<std::string()> status;
  net::io_context context{1};
  tcp::acceptor acceptor{context};
  net::steady_timer stall_timer{context};
  net::steady_timer accept_pause{context};
  std::optional<WebRules> rules;
  std::thread thread;
  std::shared_ptr<Tally> tally = std::make_shared<Tally>();

  // Shared with the receiving thread.
  mutable std::mutex mutex;
  std::vector<std::shared_ptr<Relay>> relays; // from before the 101 until the socket closes
  std::atomic<std::size_t> relay_count{0};    // relays.size(), for publish() to skip the lock
  std::uint64_t served = 0;
  std::uint64_t dropped = 0;
};

// One WebSocket client of the relay. Beast answers the handshake; then the
// relay writes frames itself, everything queued for the client in one write,
// and reads the client's frames only to answer pings and closes. It is on the
// server's list from before its 101 is written until its socket is closed,
// so it gets every datagram after the handshake and its stalls are seen
// while it closes too.
class WebServer::Server::Relay : public std::enable_shared_from_this<Relay> {
public:
  Relay(Server &server, tcp::socket socket, std::vector<unsigned char> already_read)
      : server(server), tally(server.tally), handshake(std::in_place, std::move(socket)),
        socket(server.context), incoming(std::move(already_read)),
        queue(client_queue_limit, stall_limit) {
    ++tally->relays;
  }
  ~Relay() {
    --tally->connections;
    no_longer_a_client();
  }

  void accept(http::request<http::empty_body> upgrade) {
    request = std::move(upgrade);
    handshake->set_option(websocket::stream_base::decorator(
        // Beast names itself where no server is named.
        [](websocket::response_type &response) {
          response.set(http::field::server, "ring2osc-tap");
        }));
    server.join(shared_from_this());
    handshake->async_accept(request, [self = shared_from_this()](beast::error_code error) {
      if (error) {
        self->no_longer_a_client();
        self->server.forget(self.get());
        return; // Beast has said why (400, 426)
      }
      self->socket = std::move(self->handshake->next_layer());
      self->handshake.reset();
      {
        const std::lock_guard<std::mutex> lock(self->server.mutex);
        self->queue.opened();
        ++self->server.served;
        self->wake();
      }
      self->take_frames(0);
    });
  }

  // Under the server's lock, from the receiving thread.
  void enqueue(const RelayMessage &message) {
    const RelayQueue::State state = queue.state();
    if (!queue.push(message)) {
      if (state == RelayQueue::State::open || state == RelayQueue::State::handshake) {
        ++server.dropped;
      }
      return;
    }
    wake();
  }

  // Under the server's lock.
  bool stalled(Clock::time_point now) const { return queue.stalled(now); }
  bool is_client() const {
    return queue.state() == RelayQueue::State::open ||
           queue.state() == RelayQueue::State::handshake;
  }

  void close() {
    beast::error_code ignored;
    socket.close(ignored);
    if (handshake) {
      handshake->next_layer().close(ignored);
    }
  }

private:
  // Under the server's lock.
  void wake() {
    if (!posted && queue.ready()) {
      posted = true;
      net::post(server.context, [self = shared_from_this()] { self->write_next(); });
    }
  }

  // A closing client keeps its connection slot, not its relay client's.
  void no_longer_a_client() {
    if (!finishing) {
      finishing = true;
      --tally->relays;
    }
  }

  void close_with(std::uint16_t code) {
    const unsigned char payload[2] = {static_cast<unsigned char>(code >> 8U),
                                      static_cast<unsigned char>(code & 0xFFU)};
    no_longer_a_client();
    const std::lock_guard<std::mutex> lock(server.mutex);
    queue.close(payload, sizeof payload, Clock::now());
    wake();
  }

  void read_more(std::size_t kept) {
    incoming.resize(kept + read_size);
    socket.async_read_some(
        net::buffer(incoming.data() + kept, read_size),
        [self = shared_from_this(), kept](beast::error_code error, std::size_t size) {
          if (error) {
            self->no_longer_a_client();
            self->close();
            self->server.forget(self.get());
            return;
          }
          self->take_frames(kept + size);
        });
  }

  // What the client sent: pings are answered, a close is closed, data goes
  // nowhere; a message over the limit closes with 1009.
  void take_frames(std::size_t size) {
    std::size_t used = 0;
    while (!finishing) {
      ClientFrame frame;
      const FrameRead read =
          read_client_frame(incoming.data() + used, size - used, max_client_message, frame);
      if (read == FrameRead::incomplete) {
        break;
      }
      if (read != FrameRead::whole) {
        close_with(read == FrameRead::too_big ? 1009 : 1002);
        break;
      }
      unsigned char *payload = incoming.data() + used + frame.header_size;
      used += frame.header_size + frame.payload_size;
      if (frame.opcode < ws_close) {
        message_size += frame.payload_size;
        if (message_size > max_client_message) {
          close_with(1009);
          break;
        }
        message_size = frame.fin ? 0 : message_size;
        continue;
      }
      for (std::size_t i = 0; i < frame.payload_size; ++i) {
        payload[i] ^= frame.mask[i % 4];
      }
      const std::lock_guard<std::mutex> lock(server.mutex);
      if (frame.opcode == ws_ping) {
        queue.pong(payload, frame.payload_size);
      } else if (frame.opcode == ws_close) {
        no_longer_a_client();
        queue.close(payload, std::min<std::size_t>(frame.payload_size, 2), Clock::now());
      }
      wake();
    }
    if (finishing) {
      used = size; // what follows a close is not read, only the end of the connection
    }
    incoming.erase(incoming.begin(), incoming.begin() + static_cast<std::ptrdiff_t>(used));
    read_more(size - used);
  }

  void write_next() {
    {
      const std::lock_guard<std::mutex> lock(server.mutex);
      posted = false;
      if (!queue.take(batch, Clock::now())) {
        return;
      }
    }
    headers = std::move(batch.control);
    const std::size_t control_size = headers.size();
    std::vector<std::size_t> header_ends;
    for (const RelayMessage &message : batch.messages) {
      append_frame_header(headers, ws_binary, message->size());
      header_ends.push_back(headers.size());
    }
    std::vector<net::const_buffer> buffers{net::buffer(headers.data(), control_size)};
    std::size_t header_start = control_size;
    for (std::size_t i = 0; i < batch.messages.size(); ++i) {
      buffers.emplace_back(headers.data() + header_start, header_ends[i] - header_start);
      buffers.emplace_back(batch.messages[i]->data(), batch.messages[i]->size());
      header_start = header_ends[i];
    }
    net::async_write(socket, buffers,
                     [self = shared_from_this()](beast::error_code error, std::size_t) {
                       self->written(error);
                     });
  }

  void written(beast::error_code error) {
    batch.messages.clear();
    bool ended = false;
    {
      const std::lock_guard<std::mutex> lock(server.mutex);
      queue.written(!error, Clock::now());
      ended = queue.state() == RelayQueue::State::closed;
      wake();
    }
    if (ended) {
      // The connection ends when the other side's does, or when it lingers.
      no_longer_a_client();
      beast::error_code ignored;
      socket.shutdown(tcp::socket::shutdown_send, ignored);
    }
  }

  static constexpr std::size_t read_size = std::size_t{4} * 1024;

  Server &server;
  std::shared_ptr<Tally> tally;
  http::request<http::empty_body> request; // until the handshake is answered
  std::optional<websocket::stream<tcp::socket>> handshake;
  tcp::socket socket;
  // The server's thread only.
  std::vector<unsigned char> incoming;
  std::size_t message_size = 0; // of a fragmented message so far
  bool finishing = false;       // a close is on its way: the client's frames are not read
  RelayQueue::Batch batch;
  std::vector<unsigned char> headers;
  // Under the server's lock.
  RelayQueue queue;
  bool posted = false; // a write_next() is on its way
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
      {
        const auto already = static_cast<const unsigned char *>(buffer.data().data());
        std::make_shared<Relay>(server, stream.release_socket(),
                                std::vector<unsigned char>(already, already + buffer.size()))
            ->accept(parser->release());
      }
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
          std::string(reinterpret_cast<const char *>(file->data), file->size), keep,
          file->inline_script);
  }

  void reply(http::status status, const char *type, std::string body, bool keep,
             bool inline_script = false) {
    auto response = std::make_shared<http::response<http::string_body>>(status, 11);
    if (*type != '\0') {
      response->set(http::field::content_type, type);
    }
    // Only the tap's own files and its own relay; never inside another page.
    response->set("Content-Security-Policy",
                  inline_script ? content_policy_inline : content_policy);
    response->set("X-Frame-Options", "DENY");
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
    if (error) {
      // Out of descriptors, say: trying again at once would only spin.
      accept_pause.expires_after(accept_retry);
      accept_pause.async_wait([this](beast::error_code waited) {
        if (!waited) {
          accept_next();
        }
      });
      return;
    }
    if (tally->connections >= max_connections) {
      auto kept = std::make_shared<tcp::socket>(std::move(socket));
      net::async_write(*kept, net::buffer(busy_answer, std::strlen(busy_answer)),
                       [kept](beast::error_code, std::size_t) {});
    } else {
      std::make_shared<Connection>(*this, std::move(socket))->read();
    }
    accept_next();
  });
}

// A client that has not taken a write for seconds, or that lingers after its
// close, is closed: its queue and its connection slot would only be held.
void WebServer::Server::check_stalls() {
  stall_timer.expires_after(std::chrono::seconds(1));
  stall_timer.async_wait([this](beast::error_code error) {
    if (error) {
      return;
    }
    std::vector<std::shared_ptr<Relay>> stalled;
    {
      const Clock::time_point now = Clock::now();
      const std::lock_guard<std::mutex> lock(mutex);
      for (const std::shared_ptr<Relay> &relay : relays) {
        if (relay->stalled(now)) {
          stalled.push_back(relay);
        }
      }
    }
    for (const std::shared_ptr<Relay> &relay : stalled) {
      relay->close();
    }
    check_stalls();
  });
}

void WebServer::Server::join(std::shared_ptr<Relay> relay) {
  const std::lock_guard<std::mutex> lock(mutex);
  relays.push_back(std::move(relay));
  relay_count = relays.size();
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

WebServer::Started WebServer::start(const std::string &host, int port,
                                    const std::vector<std::string> &origins, std::string &error) {
  beast::error_code failure;
  tcp::resolver resolver(server->context);
  const auto found = resolver.resolve(
      host, std::to_string(port), tcp::resolver::numeric_service | tcp::resolver::passive, failure);
  if (failure || found.empty()) {
    error = "--web: cannot resolve \"" + host + "\": " + failure.message();
    return Started::bad_host;
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
    const bool v6 = host.find(':') != std::string::npos;
    const std::string where =
        "--web " + (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
    error = failure == net::error::address_in_use ? where + " is already in use by another program"
                                                  : where + ": " + failure.message();
    return Started::failed;
  }
  server->rules.emplace(port, origins);
  server->accept_next();
  server->check_stalls();
  server->thread = platform::start_thread([this] { server->context.run(); });
  return Started::ok;
}

void WebServer::publish(const unsigned char *bytes, std::size_t size) {
  if (server->relay_count == 0) {
    return;
  }
  const RelayMessage message =
      std::make_shared<const std::vector<unsigned char>>(bytes, bytes + size);
  const std::lock_guard<std::mutex> lock(server->mutex);
  for (const std::shared_ptr<Server::Relay> &relay : server->relays) {
    relay->enqueue(message);
  }
}

WebCounts WebServer::counts() const {
  const std::lock_guard<std::mutex> lock(server->mutex);
  const auto clients =
      std::count_if(server->relays.begin(), server->relays.end(),
                    [](const std::shared_ptr<Server::Relay> &relay) { return relay->is_client(); });
  return {static_cast<std::uint64_t>(clients), server->served, server->dropped};
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
