// What the tap has seen so far: the counts of its summary line and, per
// address of the bridge, what the live view shows. The receiving thread
// updates it and the view draws from it, each under the same lock. Times are
// microseconds on one clock that starts with the tap.
#pragma once

#include "maps/map_engine.h"
#include "tap/bridge_messages.h"
#include "web/web_server.h"

#include <cstdint>
#include <string>
#include <vector>

struct AddressStats {
  static constexpr int history_length = 48;

  std::uint64_t messages = 0; // 0: not seen yet
  std::uint32_t latest = 0;   // the argument's bits
  double low = 0;             // smallest and largest value, NaN aside
  double high = 0;
  bool has_range = false;
  double history[history_length] = {}; // the latest values, oldest first from `next`
  int next = 0;
};

// A --forward, --messages or --map destination: datagrams sent and lost,
// and for a map the values it dropped as not finite.
struct DestinationStats {
  std::string name;
  std::uint64_t forwarded = 0;
  std::uint64_t failed = 0;
  bool map = false;
  std::uint64_t not_finite = 0;
  bool midi = false;
  bool port_there = true;                 // a MIDI port can go away and come back
  std::vector<MapEngine::Centre> centres; // a map's recentred sources
  std::uint64_t replaced = 0;             // times a map was read again while running
};

struct TapStats {
  std::uint64_t datagrams = 0;
  std::uint64_t bytes = 0;
  std::uint64_t malformed = 0;
  std::uint64_t foreign = 0;
  std::uint64_t dropped_lines = 0;   // output that a slow reader cost
  std::uint64_t recorded = 0;        // lines written to the recording
  std::uint64_t record_failures = 0; // lines the recording lost
  bool drops_known = false;          // the system counts what it dropped
  std::uint64_t system_dropped = 0;  // datagrams it dropped before the tap read them
  bool web = false;                  // --web: its relay's counts follow
  std::uint64_t web_clients = 0;
  std::uint64_t web_served = 0;
  std::uint64_t web_dropped = 0; // messages dropped for clients that fell behind
  bool oscquery = false;         // --oscquery: its clients' counts follow
  WebCounts oscquery_counts;
  std::int64_t first_arrival_us = -1; // -1: none yet
  std::int64_t last_arrival_us = -1;
  std::vector<DestinationStats> destinations;
  std::vector<std::string> map_mistakes; // of edits refused while the tap runs
  AddressStats addresses[bridge_address_count];

  // A datagram of `size` bytes arrived at `now_us`; returns its time since
  // the first datagram, the time that printed and recorded lines give.
  std::int64_t count_datagram(std::int64_t now_us, std::uint32_t size);
  void count_event(const BridgeEvent &e);
};
