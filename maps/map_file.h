// A map: one destination and the rules that feed it, read from a text file
// with one rule a line (docs/maps.md shows the syntax). Each rule builds one
// OSC message, or one kind of MIDI message, from one or more of the bridge's
// addresses, each value through its own chain: zero, dead zone, smoothing,
// scale, clamp, then its type.
#pragma once

#include "udp/endpoint.h"

#include <cstdint>
#include <string>
#include <vector>

struct ValueRange {
  double low = 0;
  double high = 0;
};

enum class ArgumentType { float32, int32, boolean };

struct MapSource {
  int address = -1;                          // index into bridge_addresses
  ArgumentType type = ArgumentType::float32; // unless given: the bridge's, or f once scaled
  bool has_threshold = false;                // bool: true above it, else true when not 0
  double threshold = 0;
  int zero_on = -1;     // a bridge address whose press makes the value at that moment the centre
  double dead_zone = 0; // values within it of `centre` become `centre`
  double centre = 0;
  double smoothing_s = 0; // time constant; 0: none
  bool scaled = false;    // from `from` to `to`; a reversed `to` inverts
  ValueRange from;
  ValueRange to;
  bool clamped = false; // to `clamp`, which is `to` unless given
  ValueRange clamp;
};

// What a rule of a MIDI map sends.
enum class MidiKind { none, control, control14, note, bend, program };

struct MapRule {
  int line = 0;
  std::string address; // the message's own OSC address; empty for MIDI
  MidiKind midi = MidiKind::none;
  int number = 0;  // the controller or note
  int channel = 1; // 1 to 16
  double velocity = 100;
  bool velocity_scaled = false; // from `velocity_from` to 1..127
  ValueRange velocity_from;
  std::vector<MapSource> sources;
  bool changes_only = false;
  double at_most_per_s = 0; // 0: no limit
};

struct MapFile {
  static constexpr std::size_t max_line = 4096;
  static constexpr std::size_t max_size = std::size_t{1} << 20;
  static constexpr std::size_t max_rules = 256;
  static constexpr std::size_t max_sources = 32;

  std::string name;            // the path, as mistakes name it
  Endpoint to{"127.0.0.1", 0}; // with a service, where messages go until it is found
  std::string service;         // "to service PATTERN else ...": instances' names to look for
  bool midi = false;           // `midi [PORT]` in place of `to`
  std::string midi_port;       // a part of the port's name; empty: --midi-port or the tap's own
  bool bundled = false;        // one bundle per incoming datagram, not a datagram per message
  std::vector<MapRule> rules;
};

// Reads `text` as the map `name`; every mistake found goes to `mistakes` as
// "NAME:LINE: reason". True when there was none.
bool parse_map_text(const std::string &name, const std::string &text, MapFile &map,
                    std::vector<std::string> &mistakes);
// The same from a file, which must be a regular file (a pipe or a device
// could block for ever); one that cannot be read is one mistake. `text`,
// when given, gets what was read.
bool read_map_file(const std::string &path, MapFile &map, std::vector<std::string> &mistakes,
                   std::string *text = nullptr);

// The map as understood, one line per rule, for --check-map; numbers as the
// shortest text that reads back the same.
std::string describe_map(const MapFile &map);
