#include "web/http_connection.h"

#include "web/relay_client.h"
#include "web/request_facts.h"
#include "web/web_files.h"

#include <cstring>

using namespace web_server;

WebServer::Server::Connection::Connection(Server &server, tcp::socket socket)
    : server(server), tally(server.tally), stream(std::move(socket)) {
  ++tally->connections;
}

WebServer::Server::Connection::~Connection() {
  if (!handed_over) {
    --tally->connections;
  }
}

void WebServer::Server::Connection::read() {
  parser.emplace();
  parser->header_limit(header_limit);
  parser->body_limit(0);
  stream.expires_after(request_time);
  http::async_read(
      stream, buffer, *parser,
      [self = shared_from_this()](beast::error_code error, std::size_t) { self->answer(error); });
}

void WebServer::Server::Connection::answer(beast::error_code error) {
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
  if (server.site.oscquery()) {
    const std::string_view target = facts.target;
    const std::size_t question = target.find('?');
    const WebReply answer = server.site.answer(
        std::string(path),
        question == std::string_view::npos ? "" : std::string(target.substr(question + 1)));
    return reply(static_cast<http::status>(answer.status),
                 answer.json.empty() ? "" : "application/json", answer.json, keep);
  }
  if (path == "/status") {
    return reply(http::status::ok, "application/json", server.site.status(), keep);
  }
  const WebFile *file = find_web_file(path);
  if (file == nullptr) {
    return reply(http::status::not_found, "", "", keep);
  }
  reply(http::status::ok, file->type,
        std::string(reinterpret_cast<const char *>(file->data), file->size), keep,
        file->inline_script);
}

void WebServer::Server::Connection::reply(http::status status, const char *type, std::string body,
                                          bool keep, bool inline_script) {
  auto response = std::make_shared<http::response<http::string_body>>(status, 11);
  if (*type != '\0') {
    response->set(http::field::content_type, type);
  }
  // Only the tap's own files and its own relay; never inside another page.
  response->set("Content-Security-Policy", inline_script ? content_policy_inline : content_policy);
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
