// A map at work: takes the values of each of the bridge's datagrams and
// hands out the map's messages: OSC datagrams for its destination, encoded
// with osc/, or MIDI values for the tap to send. Each rule keeps the latest
// value of each of its sources (0 until first seen) and builds its message
// whenever a datagram brings a finite value for any of them. A value that is
// not finite (NaN, an infinity, or one that scaling takes out of range) is
// dropped and counted; the rule keeps the last finite one.
#pragma once

#include "maps/map_file.h"
#include "osc/osc_packet.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

// One MIDI message a rule sends, by its value: a control's, a 14-bit
// control's or the bend's (0 to 16383), a program; a note's velocity, 0 to
// turn it off.
struct MidiValue {
  MidiKind kind;
  int channel;
  int number;
  long value;
};

// Where a map's messages go.
struct MapOut {
  std::function<void(const unsigned char *bytes, std::uint32_t size)> osc; // one datagram
  std::function<void(const MidiValue &value)> midi;
};

class MapEngine {
public:
  explicit MapEngine(MapFile map);
  MapEngine(const MapEngine &) = delete;
  MapEngine &operator=(const MapEngine &) = delete;

  // One datagram of the bridge: `count` consecutive addresses from `first`
  // (indexes into bridge_addresses) and their arguments' bits, arriving at
  // `now_us` on a steady clock.
  void take(int first, int count, const std::uint32_t *bits, std::int64_t now_us,
            const MapOut &out);
  // Between datagrams: what a rate limit held back, once its turn has come,
  // and smoothed values on their way to where their source now stands (a
  // datagram's take() sends those too).
  void send_due(std::int64_t now_us, const MapOut &out);

  std::uint64_t not_finite() const { return dropped; }
  const MapFile &map() const { return map_; }

  // Every recentred source, and its centre once its button was pressed.
  struct Centre {
    int address;
    double centre;
    bool set;
  };
  const std::vector<Centre> &centres() const { return centres_; }

private:
  struct SourceState {
    double value = 0; // as it goes into the message
    double raw = 0;   // the latest finite value, for a recentring
    bool seen = false;
    double centre = 0;
    bool centred = false;
    bool centre_pending = false; // pressed before the source was seen
    std::size_t centre_slot = 0; // in centres_
    double input = 0;            // what smoothing follows
    double smoothed = 0;
    bool smoothing_started = false;
    std::int64_t last_us = 0;
  };
  struct RuleState {
    std::vector<SourceState> sources;
    std::unique_ptr<OscMessage> message; // an OSC rule's, its address given once
    std::vector<unsigned char> last_sent;
    long last_midi = 0;
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
  bool glide(const MapSource &source, SourceState &state, std::int64_t now_us);
  bool finish_value(const MapSource &source, SourceState &state, double value);
  void recentre(int address, double value, const double *in_datagram);
  bool due(const MapRule &rule, const RuleState &state, std::int64_t now_us) const;
  // Sends the rule's message, unless it repeats the last one sent and the
  // rule sends only changes.
  void offer(int rule, std::int64_t now_us, const MapOut &out);
  void offer_midi(int rule, std::int64_t now_us, const MapOut &out);
  // Marks the rules whose rate limit lets a held message go now, and those
  // whose smoothed values moved.
  void mark_due(std::int64_t now_us);
  void offer_touched(std::int64_t now_us, const MapOut &out);

  MapFile map_;
  std::vector<RuleState> rules;
  std::vector<std::vector<Use>> uses;     // per bridge address: the sources it feeds
  std::vector<std::vector<Use>> zeroings; // per bridge address: the sources it recentres
  std::vector<double> latest;             // per bridge address, for presses
  std::vector<char> touched;              // per rule, within one datagram
  int smoothing = 0;                      // sources that smooth
  std::vector<Centre> centres_;
  OscBuffer encoded;      // the latest message built
  OscPacketWriter packet; // what goes out for one datagram
  std::uint64_t dropped = 0;
};
