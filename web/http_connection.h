// An HTTP connection: requests one after another, each within the time limit,
// until it closes or becomes a relay client. Who may ask what is the rules'
// (web_rules.h); the answers are the page's files, the tap's status and the
// relay's upgrade.
#pragma once

#include "web/server_state.h"

#include <memory>
#include <optional>
#include <string>

class WebServer::Server::Connection : public std::enable_shared_from_this<Connection> {
public:
  Connection(Server &server, tcp::socket socket);
  ~Connection();
  Connection(const Connection &) = delete;
  Connection &operator=(const Connection &) = delete;

  void read();

private:
  void answer(web_server::beast::error_code error);
  void reply(web_server::http::status status, const char *type, std::string body, bool keep,
             bool inline_script = false);

  Server &server;
  std::shared_ptr<web_server::Tally> tally;
  web_server::beast::tcp_stream stream;
  web_server::beast::flat_buffer buffer{web_server::header_limit + 1024};
  std::optional<web_server::http::request_parser<web_server::http::empty_body>> parser;
  bool handed_over = false;
};
