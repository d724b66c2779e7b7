// ring2osc-tap's command line.
#pragma once

#include "ring/ring_vocabulary.h"
#include "udp/endpoint.h"

#include <cstdint>
#include <string>
#include <vector>

struct TapOptions {
  // --forward, --messages and --map together.
  static constexpr std::size_t max_destinations = 16;
  static constexpr std::size_t max_web_origins = 16;

  Endpoint listen{"127.0.0.1", bridge_port};
  std::vector<Endpoint> forwards;
  std::vector<Endpoint> messages;
  std::vector<std::string> maps;
  std::vector<std::string> check_maps; // --check-map: show these and exit
  std::string midi_port;               // for every MIDI map, over the map's own
  int multicast_ttl = 1;               // hops for multicast destinations
  bool list_midi = false;
  bool plain = false;
  bool quiet = false;
  std::string record_path;
  bool web = false;
  Endpoint web_at{"127.0.0.1", 0};
  std::vector<std::string> web_origins; // as normal_origin gives them
  bool oscquery = false;
  Endpoint oscquery_at{"127.0.0.1", 0};
  std::string oscquery_name = "ring2osc-tap";
  bool force = false;
  bool help = false;
};

extern const char *const tap_usage;

// Fills `options` from the arguments after the program's name; returns what
// is wrong with them, or an empty text.
std::string parse_tap_options(const std::vector<std::string> &arguments, TapOptions &options);
