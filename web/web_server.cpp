#include "web/web_server.h"

#include "platform/console.h"
#include "web/http_connection.h"
#include "web/relay_client.h"
#include "web/server_state.h"

#include <algorithm>
#include <cstring>

using namespace web_server;

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

WebServer::WebServer(WebSite site) : server(std::make_unique<Server>(std::move(site))) {}

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
  // The port the system chose for port 0 is the one a Host names.
  server->rules.emplace(acceptor.local_endpoint().port(), origins, server->site.oscquery());
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

void WebServer::publish(std::size_t stream, const unsigned char *bytes, std::size_t size) {
  if (server->relay_count == 0) {
    return;
  }
  RelayMessage message;
  const std::lock_guard<std::mutex> lock(server->mutex);
  for (const std::shared_ptr<Server::Relay> &relay : server->relays) {
    if (relay->listens_to(stream)) {
      if (!message) {
        message = std::make_shared<const std::vector<unsigned char>>(bytes, bytes + size);
      }
      relay->enqueue(message);
    }
  }
}

int WebServer::port() const {
  beast::error_code ignored;
  return server->acceptor.local_endpoint(ignored).port();
}

WebCounts WebServer::counts() const {
  const std::lock_guard<std::mutex> lock(server->mutex);
  const auto clients =
      std::count_if(server->relays.begin(), server->relays.end(),
                    [](const std::shared_ptr<Server::Relay> &relay) { return relay->is_client(); });
  return {static_cast<std::uint64_t>(clients), server->served, server->dropped, server->ignored};
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
