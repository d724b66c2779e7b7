#include "tap/tap_options.h"

#include "web/web_rules.h"

const char *const tap_usage =
    "usage: ring2osc-tap [--listen [HOST:]PORT] [--forward [HOST:]PORT]... [--plain | --quiet]\n"
    "                    [--record FILE [--force]] [--web [HOST:]PORT [--web-origin ORIGIN]...]\n"
    "Receives OSC over UDP (default 127.0.0.1:7040), forwards every datagram unchanged to each\n"
    "--forward destination (up to 16; HOST defaults to 127.0.0.1) and shows the bridge's\n"
    "messages: a live view on a terminal, one line per message with --plain or into a pipe,\n"
    "nothing with --quiet. --record writes every datagram to FILE as a script the simulated\n"
    "ring replays; an existing FILE is kept unless --force. --web serves a monitor page at\n"
    "http://HOST:PORT/ and relays every datagram to WebSocket clients of ws://HOST:PORT/osc\n"
    "(HOST defaults to 127.0.0.1; 0.0.0.0 lets anyone on the network watch); a relay client's\n"
    "page must come from there or from an --web-origin such as https://editor.p5js.org.\n"
    "Ctrl+C ends it with a summary.\n";

namespace {

// "[HOST:]PORT", the port a decimal from 1 to 65535; an IPv6 HOST in
// brackets ("[::1]:8080").
std::string parse_endpoint(const std::string &option, const std::string &text, Endpoint &out) {
  const std::size_t colon = text.rfind(':');
  const std::string port = colon == std::string::npos ? text : text.substr(colon + 1);
  std::string host = colon == std::string::npos ? "127.0.0.1" : text.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  if (host.empty()) {
    return option + ": missing host in \"" + text + "\"";
  }
  long value = 0;
  for (const char c : port) {
    if (c < '0' || c > '9' || value > 65535) {
      value = -1;
      break;
    }
    value = value * 10 + (c - '0');
  }
  if (port.empty() || value < 1 || value > 65535) {
    return option + ": port must be a number from 1 to 65535, not \"" + port + "\"";
  }
  out = {host, static_cast<std::int32_t>(value)};
  return "";
}

} // namespace

std::string parse_tap_options(const std::vector<std::string> &arguments, TapOptions &options) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string &option = arguments[i];
    const bool takes_value = option == "--listen" || option == "--forward" ||
                             option == "--record" || option == "--web" || option == "--web-origin";
    if (takes_value && i + 1 == arguments.size()) {
      return option + " needs a value";
    }
    std::string error;
    if (option == "--help" || option == "-h") {
      options.help = true;
    } else if (option == "--listen") {
      error = parse_endpoint(option, arguments[++i], options.listen);
    } else if (option == "--forward") {
      Endpoint forward;
      error = parse_endpoint(option, arguments[++i], forward);
      options.forwards.push_back(forward);
      if (options.forwards.size() > TapOptions::max_forwards) {
        error = "at most 16 --forward destinations";
      }
    } else if (option == "--record") {
      options.record_path = arguments[++i];
    } else if (option == "--web") {
      options.web = true;
      error = parse_endpoint(option, arguments[++i], options.web_at);
    } else if (option == "--web-origin") {
      std::string origin;
      if (!normal_origin(arguments[i + 1], origin)) {
        error = "--web-origin: \"" + arguments[i + 1] +
                "\" is not an origin such as https://editor.p5js.org";
      }
      options.web_origins.push_back(origin);
      ++i;
      if (options.web_origins.size() > TapOptions::max_web_origins) {
        error = "at most 16 --web-origin origins";
      }
    } else if (option == "--force") {
      options.force = true;
    } else if (option == "--plain") {
      options.plain = true;
    } else if (option == "--quiet") {
      options.quiet = true;
    } else {
      error = "unknown option \"" + option + "\"";
    }
    if (!error.empty()) {
      return error;
    }
  }
  if (options.plain && options.quiet) {
    return "--plain and --quiet exclude each other";
  }
  if (!options.web_origins.empty() && !options.web) {
    return "--web-origin only goes with --web";
  }
  if (options.force && options.record_path.empty()) {
    return "--force only goes with --record";
  }
  return "";
}
