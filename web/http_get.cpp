#include "web/http_get.h"

#include <boost/asio.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>

bool http_get(const std::string &host, int port, const std::string &target, std::string &body,
              std::string &error, std::chrono::milliseconds limit) {
  namespace beast = boost::beast;
  namespace http = beast::http;
  namespace net = boost::asio;
  net::io_context context;
  beast::tcp_stream stream(context);
  beast::flat_buffer buffer;
  http::response_parser<http::string_body> parser;
  parser.body_limit(http_get_max_body);
  beast::error_code failure;
  http::request<http::empty_body> request{http::verb::get, target, 11};
  request.set(http::field::host, host + ":" + std::to_string(port));
  request.set(http::field::user_agent, "ring2osc-tap");
  const net::ip::tcp::endpoint at(net::ip::make_address(host, failure),
                                  static_cast<unsigned short>(port));
  // Each step within what is left of the limit, on a context of its own.
  const auto step = [&](auto start) {
    if (failure) {
      return;
    }
    bool done = false;
    start([&](beast::error_code e, auto &&...) {
      failure = e;
      done = true;
    });
    context.restart();
    context.run_for(limit);
    if (!done) {
      stream.cancel();
      context.run();
      failure = net::error::timed_out;
    }
  };
  step([&](auto handler) { stream.async_connect(at, handler); });
  step([&](auto handler) { http::async_write(stream, request, handler); });
  step([&](auto handler) { http::async_read(stream, buffer, parser, handler); });
  if (failure) {
    error = failure.message();
    return false;
  }
  if (parser.get().result() != http::status::ok) {
    error = "answered " + std::to_string(parser.get().result_int());
    return false;
  }
  body = parser.get().body();
  return true;
}
