// What the rules look at in a request Beast has read.
#pragma once

#include "web/web_rules.h"

#include <boost/beast/http.hpp>
#include <boost/beast/websocket/rfc6455.hpp>

inline std::string_view as_view(boost::beast::string_view text) {
  return {text.data(), text.size()};
}

inline WebRequest
request_facts(const boost::beast::http::request<boost::beast::http::empty_body> &request) {
  namespace http = boost::beast::http;
  WebRequest facts;
  facts.method = as_view(request.method_string());
  facts.target = as_view(request.target());
  facts.host = as_view(request[http::field::host]);
  facts.has_origin = request.find(http::field::origin) != request.end();
  facts.origin = as_view(request[http::field::origin]);
  facts.upgrade = boost::beast::websocket::is_upgrade(request);
  return facts;
}
