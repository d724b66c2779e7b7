#include "web/relay_client.h"

#include "web/listen_commands.h"
#include "web/websocket_frames.h"

#include <algorithm>

using namespace web_server;

WebServer::Server::Relay::Relay(Server &server, tcp::socket socket,
                                std::vector<unsigned char> already_read)
    : server(server), tally(server.tally), handshake(std::in_place, std::move(socket)),
      socket(server.context), incoming(std::move(already_read)),
      queue(client_queue_limit, stall_limit) {
  ++tally->relays;
}

WebServer::Server::Relay::~Relay() {
  --tally->connections;
  no_longer_a_client();
}

void WebServer::Server::Relay::accept(http::request<http::empty_body> upgrade) {
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
    // Frames the client sent right behind its upgrade came with it.
    self->take_frames(self->incoming.size());
  });
}

// Under the server's lock, from the receiving thread.
void WebServer::Server::Relay::enqueue(const RelayMessage &message) {
  switch (queue.push(message)) {
  case RelayQueue::Push::queued:
    wake();
    break;
  case RelayQueue::Push::full:
    ++server.dropped; // the one count of what slow clients missed
    break;
  case RelayQueue::Push::closing:
    break;
  }
}

void WebServer::Server::Relay::close() {
  beast::error_code ignored;
  socket.close(ignored);
  if (handshake) {
    handshake->next_layer().close(ignored);
  }
}

// Under the server's lock.
void WebServer::Server::Relay::wake() {
  if (!posted && queue.ready()) {
    posted = true;
    net::post(server.context, [self = shared_from_this()] { self->write_next(); });
  }
}

// A closing client keeps its connection slot, not its relay client's.
void WebServer::Server::Relay::no_longer_a_client() {
  if (!finishing) {
    finishing = true;
    --tally->relays;
  }
}

void WebServer::Server::Relay::close_with(std::uint16_t code) {
  const unsigned char payload[2] = {static_cast<unsigned char>(code >> 8U),
                                    static_cast<unsigned char>(code & 0xFFU)};
  no_longer_a_client();
  const std::lock_guard<std::mutex> lock(server.mutex);
  queue.close(payload, sizeof payload, Clock::now());
  wake();
}

void WebServer::Server::Relay::read_more(std::size_t kept) {
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

// What the client sent: pings are answered, a close is closed; an OSCQuery
// client's text messages are its commands, other data goes nowhere; a
// message over the limit closes with 1009.
void WebServer::Server::Relay::take_frames(std::size_t size) {
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
    for (std::size_t i = 0; i < frame.payload_size; ++i) {
      payload[i] ^= frame.mask[i % 4];
    }
    if (frame.opcode < ws_close) {
      message_size += frame.payload_size;
      if (message_size > max_client_message) {
        close_with(1009);
        break;
      }
      if (server.site.oscquery()) {
        command(frame, payload);
      }
      message_size = frame.fin ? 0 : message_size;
      continue;
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

// A whole text message of one frame; anything else an OSCQuery client says
// is counted and let be.
void WebServer::Server::Relay::command(const ClientFrame &frame, const unsigned char *payload) {
  ListenCommand said;
  const std::vector<std::string> &streams = server.site.streams;
  const bool whole = frame.opcode == ws_text && frame.fin && message_size == frame.payload_size;
  const bool read =
      whole &&
      read_listen_command({reinterpret_cast<const char *>(payload), frame.payload_size}, said);
  const auto found = read ? std::find(streams.begin(), streams.end(), said.path) : streams.end();
  const std::lock_guard<std::mutex> lock(server.mutex);
  if (found == streams.end()) {
    ++server.ignored;
    return;
  }
  listening.set(static_cast<std::size_t>(found - streams.begin()), said.listen);
}

void WebServer::Server::Relay::write_next() {
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
  net::async_write(
      socket, buffers,
      [self = shared_from_this()](beast::error_code error, std::size_t) { self->written(error); });
}

void WebServer::Server::Relay::written(beast::error_code error) {
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
