#include "udp/endpoint.h"

std::string parse_endpoint(const std::string &what, const std::string &text, Endpoint &out,
                           bool any_port) {
  const std::size_t colon = text.rfind(':');
  const std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
  std::string host = colon == std::string::npos ? "127.0.0.1" : text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  if (host.empty()) {
    return what + ": missing host in \"" + text + "\"";
  }
  long value = 0;
  for (const char c : port) {
    if (c < '0' || c > '9' || value > 65535) {
      value = -1;
      break;
    }
    value = value * 10 + (c - '0');
  }
  const long lowest = any_port ? 0 : 1;
  if (port.empty() || value < lowest || value > 65535) {
    return what + ": port must be a number from " + std::to_string(lowest) + " to 65535, not \"" +
           port + "\"";
  }
  out = {host, static_cast<std::int32_t>(value)};
  return "";
}
