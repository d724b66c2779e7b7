#include "web/web_rules.h"

#include <utility>

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char &c : out) {
    c = lower(c);
  }
  return out;
}

// Four decimal parts from 0 to 255, as written by hand: "127.0.0.1".
bool is_ipv4(std::string_view text) {
  int parts = 0;
  while (parts < 4) {
    std::size_t digits = 0;
    int value = 0;
    while (digits < text.size() && digits < 4 && is_digit(text[digits])) {
      value = value * 10 + (text[digits++] - '0');
    }
    if (digits == 0 || digits > 3 || value > 255) {
      return false;
    }
    text.remove_prefix(digits);
    if (++parts < 4) {
      if (text.empty() || text.front() != '.') {
        return false;
      }
      text.remove_prefix(1);
    }
  }
  return text.empty();
}

// "[...]" holding hexadecimal digits, colons and dots only: no host name can.
bool is_bracketed_ipv6(std::string_view text) {
  if (text.size() < 4 || text.size() > 47 || text.front() != '[' || text.back() != ']') {
    return false;
  }
  int colons = 0;
  for (const char c : text.substr(1, text.size() - 2)) {
    const char l = lower(c);
    if (c == ':') {
      ++colons;
    } else if (!is_digit(c) && c != '.' && !(l >= 'a' && l <= 'f')) {
      return false;
    }
  }
  return colons >= 2;
}

} // namespace

WebRules::WebRules(int port, std::vector<std::string> origins, bool upgrade_anywhere)
    : port(port), origins(std::move(origins)), upgrade_anywhere(upgrade_anywhere) {}

WebAnswer WebRules::judge(const WebRequest &request) const {
  if (!host_allowed(request.host)) {
    return WebAnswer::forbidden;
  }
  if (request.method != "GET") {
    return WebAnswer::method_not_allowed;
  }
  if (upgrade_anywhere ? !request.upgrade : request_path(request.target) != "/osc") {
    return WebAnswer::file;
  }
  if (!request.upgrade) {
    return WebAnswer::upgrade_required;
  }
  if (request.has_origin && !origin_allowed(request.origin, request.host)) {
    return WebAnswer::forbidden;
  }
  return WebAnswer::relay;
}

bool WebRules::host_allowed(std::string_view host) const {
  const std::size_t bracket = host.rfind(']');
  const std::size_t colon = host.rfind(':');
  std::string_view name = host;
  if (colon != std::string_view::npos && (bracket == std::string_view::npos || colon > bracket)) {
    if (host.substr(colon + 1) != std::to_string(port)) {
      return false;
    }
    name = host.substr(0, colon);
  } else if (port != 80) {
    return false; // a browser leaves out only the default port
  }
  return lowered(name) == "localhost" || is_ipv4(name) || is_bracketed_ipv6(name);
}

bool WebRules::origin_allowed(std::string_view origin, std::string_view host) const {
  const std::string given = lowered(origin);
  const std::string port_part = port == 80 ? "" : ":" + std::to_string(port);
  for (const char *loopback : {"localhost", "127.0.0.1", "[::1]"}) {
    if (given == "http://" + std::string(loopback) + port_part) {
      return true;
    }
  }
  if (given == "http://" + lowered(host)) {
    return true;
  }
  for (const std::string &allowed : origins) {
    if (given == allowed) {
      return true;
    }
  }
  return false;
}

std::string_view request_path(std::string_view target) {
  return target.substr(0, target.find('?'));
}

bool normal_origin(std::string_view text, std::string &out) {
  std::string origin = lowered(text);
  if (!origin.empty() && origin.back() == '/') {
    origin.pop_back();
  }
  const std::size_t separator = origin.find("://");
  if (separator == std::string::npos || separator == 0) {
    return false;
  }
  for (std::size_t i = 0; i < separator; ++i) {
    const char c = origin[i];
    if (!(c >= 'a' && c <= 'z') && !(i > 0 && (is_digit(c) || c == '+' || c == '-' || c == '.'))) {
      return false;
    }
  }
  const std::string_view authority = std::string_view(origin).substr(separator + 3);
  if (authority.empty() || authority.find_first_of("/?#@ \t\"'") != std::string_view::npos) {
    return false;
  }
  out = std::move(origin);
  return true;
}
