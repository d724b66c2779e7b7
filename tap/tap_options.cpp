#include "tap/tap_options.h"

#include "web/web_rules.h"

const char *const tap_usage =
    "usage: ring2osc-tap [--listen [HOST:]PORT] [--forward [HOST:]PORT]...\n"
    "                    [--messages [HOST:]PORT]... [--map FILE]... [--midi-port NAME]\n"
    "                    [--multicast-ttl N]\n"
    "                    [--plain | --quiet] [--record FILE [--force]]\n"
    "                    [--web [HOST:]PORT [--web-origin ORIGIN]...]\n"
    "                    [--oscquery [HOST:]PORT [--oscquery-name NAME]]\n"
    "       ring2osc-tap --check-map FILE...\n"
    "       ring2osc-tap --list-midi\n"
    "Receives OSC over UDP (default 127.0.0.1:7040), forwards every datagram unchanged to each\n"
    "--forward destination (HOST defaults to 127.0.0.1), each message of a bundle as a datagram\n"
    "of its own to each --messages destination, and the messages of each --map FILE (renamed,\n"
    "scaled, combined: docs/maps.md) to the destination the map names; up to 16 destinations in\n"
    "all. A destination may be a broadcast address or a multicast group (sent with "
    "--multicast-ttl\n"
    "hops, 1 unless given, and heard on this machine too). A map may send MIDI instead, to the "
    "port it names, or --midi-port's (a part of its\n"
    "name), or on Linux a port of the tap's own, \"ring2osc\"; --list-midi lists the outputs.\n"
    "--check-map prints a map's rules as the tap reads them and exits. It shows the bridge's\n"
    "messages: a live view on a terminal, one line per message with --plain or into a pipe,\n"
    "nothing with --quiet. --record writes every datagram to FILE as a script the simulated\n"
    "ring replays; an existing FILE is kept unless --force. --web serves a monitor page at\n"
    "http://HOST:PORT/ and relays every datagram to WebSocket clients of ws://HOST:PORT/osc\n"
    "(HOST defaults to 127.0.0.1; 0.0.0.0 lets anyone on the network watch); a relay client's\n"
    "page must come from there or from an --web-origin such as https://editor.p5js.org.\n"
    "--oscquery serves the bridge's addresses as an OSCQuery namespace at http://HOST:PORT/\n"
    "(PORT 0: a free one, said at start), their messages to WebSocket clients that LISTEN, and\n"
    "advertises it through the system's DNS-SD as NAME (default ring2osc-tap).\n"
    "Ctrl+C ends it with a summary.\n";

std::string parse_tap_options(const std::vector<std::string> &arguments, TapOptions &options) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string &option = arguments[i];
    const bool takes_value =
        option == "--listen" || option == "--forward" || option == "--messages" ||
        option == "--map" || option == "--check-map" || option == "--midi-port" ||
        option == "--record" || option == "--web" || option == "--web-origin" ||
        option == "--multicast-ttl" || option == "--oscquery" || option == "--oscquery-name";
    if (takes_value && i + 1 == arguments.size()) {
      return option + " needs a value";
    }
    std::string error;
    if (option == "--help" || option == "-h") {
      options.help = true;
    } else if (option == "--listen") {
      error = parse_endpoint(option, arguments[++i], options.listen);
    } else if (option == "--forward" || option == "--messages") {
      Endpoint to;
      error = parse_endpoint(option, arguments[++i], to);
      (option == "--forward" ? options.forwards : options.messages).push_back(to);
    } else if (option == "--map") {
      options.maps.push_back(arguments[++i]);
    } else if (option == "--midi-port") {
      options.midi_port = arguments[++i];
    } else if (option == "--multicast-ttl") {
      const std::string &hops = arguments[++i];
      const bool digits = !hops.empty() && hops.size() <= 3 &&
                          hops.find_first_not_of("0123456789") == std::string::npos;
      options.multicast_ttl = digits ? std::stoi(hops) : 0;
      if (options.multicast_ttl < 1 || options.multicast_ttl > 255) {
        error = "--multicast-ttl: hops must be a number from 1 to 255, not \"" + hops + "\"";
      }
    } else if (option == "--list-midi") {
      options.list_midi = true;
    } else if (option == "--check-map") {
      options.check_maps.push_back(arguments[++i]);
    } else if (option == "--record") {
      options.record_path = arguments[++i];
    } else if (option == "--web") {
      options.web = true;
      error = parse_endpoint(option, arguments[++i], options.web_at);
    } else if (option == "--oscquery") {
      options.oscquery = true;
      error = parse_endpoint(option, arguments[++i], options.oscquery_at, true);
    } else if (option == "--oscquery-name") {
      options.oscquery_name = arguments[++i];
      if (options.oscquery_name.empty() || options.oscquery_name.size() > 63) {
        error = "--oscquery-name: a name of 1 to 63 bytes";
      }
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
    if (options.forwards.size() + options.messages.size() + options.maps.size() >
        TapOptions::max_destinations) {
      error = "at most 16 destinations (--forward, --messages and --map together)";
    }
    if (!error.empty()) {
      return error;
    }
  }
  if (options.plain && options.quiet) {
    return "--plain and --quiet exclude each other";
  }
  if (!options.web_origins.empty() && !options.web && !options.oscquery) {
    return "--web-origin only goes with --web or --oscquery";
  }
  if (options.oscquery_name != "ring2osc-tap" && !options.oscquery) {
    return "--oscquery-name only goes with --oscquery";
  }
  if (options.force && options.record_path.empty()) {
    return "--force only goes with --record";
  }
  return "";
}
