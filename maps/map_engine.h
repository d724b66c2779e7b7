// A map at work: takes the values of each of the bridge's datagrams and
// hands out the map's messages, already encoded: OSC as datagrams for its
// destination, MIDI one short message at a time. Each rule keeps the latest value of each of its
// sources (0 until first seen) and builds its message whenever a datagram brings a finite value for
// any of them. A value that is not finite (NaN, an infinity, or one that scaling takes out of
// range) is dropped and counted; the rule keeps the last finite one.
#pragma once

#include "maps/map_file.h"

#include <cstdint>
#include <functional>
#include <vector>

class MapEngine {
public:
  using Send = std::function<void(const unsigned char *bytes, std::uint32_t size)>;

  explicit MapEngine(MapFile map);
  MapEngine(const MapEngine &) = delete;
  MapEngine &operator=(const MapEngine &) = delete;

  // One datagram of the bridge: `count` consecutive addresses from `first`
  // (indexes into bridge_addresses) and their arguments' bits, arriving at
  // `now_us` on a steady clock.
  void take(int first, int count, const std::uint32_t *bits, std::int64_t now_us, const Send &send);
  // Sends what a rate limit held back, once its turn has come.
  void send_due(std::int64_t now_us, const Send &send);

  std::uint64_t not_finite() const { return dropped; }
  const Endpoint &destination() const { return map.to; }

private:
  struct SourceState {
    double value = 0;    // as it goes into the message
    double smoothed = 0; // in the source's own units
    bool smoothing_started = false;
    std::int64_t last_us = 0;
  };
  struct RuleState {
    std::vector<SourceState> sources;
    std::vector<unsigned char> address; // with its padding
    std::vector<unsigned char> last_sent;
    bool sent = false;
    bool held = false; // a rate limit keeps a message to send at its turn
    bool note_on = false;
    std::int64_t last_sent_us = 0;
  };
  struct Use {
    int rule;
    int source;
  };

  bool update(const MapSource &source, SourceState &state, double value, std::int64_t now_us);
  bool due(const MapRule &rule, const RuleState &state, std::int64_t now_us) const;
  void encode(const MapRule &rule, const RuleState &state);
  void encode_midi(const MapRule &rule, const RuleState &state);
  // What was offered for one rule; MIDI a message at a time.
  void send_out(const Send &send);
  // Adds the rule's message to what goes out, unless it repeats the last
  // one sent and the rule sends only changes.
  void offer(int rule, std::int64_t now_us);
  void finish(const Send &send);

  MapFile map;
  std::vector<RuleState> rules;
  std::vector<std::vector<Use>> uses; // per bridge address: the sources it feeds
  std::vector<char> touched;          // per rule, within one datagram
  std::vector<unsigned char> message; // the latest message built
  std::vector<unsigned char> out;     // what goes out for one datagram
  int out_messages = 0;
  std::uint64_t dropped = 0;
};
