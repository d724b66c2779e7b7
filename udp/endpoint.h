// A UDP address as people write it: "[HOST:]PORT", on the command line and in
// map files alike.
#pragma once

#include <cstdint>
#include <string>

struct Endpoint {
  std::string host;
  std::int32_t port;
  // An IPv6 address in brackets, as it is written on the command line.
  std::string text() const {
    const bool v6 = host.find(':') != std::string::npos;
    return (v6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
  }
};

// "[HOST:]PORT", the port a decimal from 1 to 65535, HOST 127.0.0.1 when
// left out; an IPv6 HOST in brackets ("[::1]:8080"). Returns what is wrong,
// after `what`, or an empty text.
// With `any_port`, port 0 too: a free one the system picks.
std::string parse_endpoint(const std::string &what, const std::string &text, Endpoint &out,
                           bool any_port = false);
