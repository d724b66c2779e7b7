#include "maps/map_engine.h"

#include "ring/bridge_addresses.h"
#include "ring/ring_vocabulary.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <utility>

namespace {

std::int32_t as_int32(double value) {
  const double rounded = std::round(value);
  return rounded <= std::numeric_limits<std::int32_t>::min()
             ? std::numeric_limits<std::int32_t>::min()
         : rounded >= std::numeric_limits<std::int32_t>::max()
             ? std::numeric_limits<std::int32_t>::max()
             : static_cast<std::int32_t>(rounded);
}

bool is_on(const MapSource &source, double value) {
  return source.has_threshold ? value > source.threshold : value != 0;
}

// Past twenty time constants a smoothed value is where its input is
// (e^-20 is below a float's precision).
constexpr double settled_after = 20;

} // namespace

MapEngine::MapEngine(MapFile file)
    : map_(std::move(file)), uses(bridge_address_count), zeroings(bridge_address_count),
      latest(bridge_address_count) {
  rules.resize(map_.rules.size());
  touched.resize(map_.rules.size());
  for (std::size_t r = 0; r < map_.rules.size(); ++r) {
    const MapRule &rule = map_.rules[r];
    rules[r].sources.resize(rule.sources.size());
    if (rule.midi == MidiKind::none) {
      rules[r].message = std::make_unique<OscMessage>(rule.address, OscTimeTag::immediate());
    }
    for (std::size_t s = 0; s < rule.sources.size(); ++s) {
      const MapSource &source = rule.sources[s];
      const Use use{static_cast<int>(r), static_cast<int>(s)};
      uses[source.address].push_back(use);
      if (source.zero_on >= 0) {
        zeroings[source.zero_on].push_back(use);
        rules[r].sources[s].centre_slot = centres_.size();
        centres_.push_back({source.address, 0, false});
      }
      smoothing += source.smoothing_s > 0 ? 1 : 0;
    }
  }
}

// A press of `address` (its value going from 0 to anything else) makes the
// value each source it recentres has at that moment its centre: this
// datagram's own (`in_datagram`, NaN where it brings none), else the latest.
void MapEngine::recentre(int address, double value, const double *in_datagram) {
  const bool press = latest[address] == 0 && value != 0 && !std::isnan(value);
  if (!std::isnan(value)) {
    latest[address] = value;
  }
  if (!press) {
    return;
  }
  for (const Use use : zeroings[address]) {
    SourceState &state = rules[use.rule].sources[use.source];
    const double now = in_datagram[map_.rules[use.rule].sources[use.source].address];
    if (std::isfinite(now) || state.seen) {
      state.centre = std::isfinite(now) ? now : state.raw;
      state.centred = true;
      centres_[state.centre_slot] = {centres_[state.centre_slot].address, state.centre, true};
    } else {
      state.centre_pending = true; // the next value seen is the centre
    }
  }
}

bool MapEngine::update(const MapSource &source, SourceState &state, double value,
                       std::int64_t now_us) {
  if (!std::isfinite(value)) {
    return false; // before the clamp, which would make an infinity finite
  }
  state.raw = value;
  state.seen = true;
  if (state.centre_pending) {
    state.centre = value;
    state.centred = true;
    state.centre_pending = false;
    centres_[state.centre_slot] = {centres_[state.centre_slot].address, value, true};
  }
  if (state.centred) {
    value -= state.centre;
    if (bridge_addresses[source.address].kind == event_kind::rotation) {
      value = std::remainder(value, 360.0); // degrees, into -180..180
    }
  }
  if (source.dead_zone > 0 && std::fabs(value - source.centre) <= source.dead_zone) {
    value = source.centre;
  }
  if (source.smoothing_s > 0) {
    if (state.smoothing_started) {
      // The input held its last value until now: a new one starts counting
      // from its arrival, so a step goes 63% of the way in one time
      // constant after it, however long the gap before it was.
      glide(source, state, now_us);
    } else {
      state.smoothed = value;
      state.smoothing_started = true;
    }
    state.input = value;
    state.last_us = now_us;
    value = state.smoothed;
  }
  return finish_value(source, state, value);
}

// Moves a smoothed value on to `now_us`; true when that changed what the
// rule sends.
bool MapEngine::glide(const MapSource &source, SourceState &state, std::int64_t now_us) {
  const double elapsed = static_cast<double>(now_us - state.last_us) / 1e6 / source.smoothing_s;
  if (!state.smoothing_started || state.smoothed == state.input || elapsed <= 0) {
    return false;
  }
  state.smoothed = elapsed >= settled_after
                       ? state.input
                       : state.input + (state.smoothed - state.input) * std::exp(-elapsed);
  state.last_us = now_us;
  return finish_value(source, state, state.smoothed);
}

bool MapEngine::finish_value(const MapSource &source, SourceState &state, double value) {
  if (source.scaled) {
    value = source.to.low + (value - source.from.low) * (source.to.high - source.to.low) /
                                (source.from.high - source.from.low);
  }
  if (source.clamped) {
    value = std::min(std::max(value, source.clamp.low), source.clamp.high);
  }
  const bool fits =
      source.type != ArgumentType::float32 || std::fabs(value) <= std::numeric_limits<float>::max();
  if (!std::isfinite(value) || !fits) {
    return false;
  }
  state.value = value;
  return true;
}

bool MapEngine::due(const MapRule &rule, const RuleState &state, std::int64_t now_us) const {
  return rule.at_most_per_s <= 0 || !state.sent ||
         static_cast<double>(now_us - state.last_sent_us) >= 1e6 / rule.at_most_per_s;
}

void MapEngine::offer_midi(int r, std::int64_t now_us, const MapOut &out) {
  const MapRule &rule = map_.rules[r];
  RuleState &state = rules[r];
  const MapSource &source = rule.sources[0];
  const double value = state.sources[0].value;
  const bool on = is_on(source, value);
  long sent = 0;
  if (rule.midi == MidiKind::note) {
    // On when its value turns on, off when it turns off again.
    if (on == state.note_on) {
      return;
    }
    state.note_on = on;
    const double velocity = rule.velocity_scaled
                                ? 1 + (value - rule.velocity_from.low) * 126 /
                                          (rule.velocity_from.high - rule.velocity_from.low)
                                : rule.velocity;
    sent = on ? std::min(127L, std::max(1L, std::lround(velocity))) : 0;
  } else {
    const long top = rule.midi == MidiKind::control14 || rule.midi == MidiKind::bend ? 16383 : 127;
    sent = source.type == ArgumentType::boolean ? (on ? top : 0) : std::lround(value);
    if (state.sent && sent == state.last_midi) {
      return; // the same MIDI value twice goes once
    }
  }
  state.last_midi = sent;
  state.sent = true;
  state.last_sent_us = now_us;
  out.midi({rule.midi, rule.channel, rule.number, sent});
}

void MapEngine::offer(int r, std::int64_t now_us, const MapOut &out) {
  RuleState &state = rules[r];
  state.held = false;
  const MapRule &rule = map_.rules[r];
  if (rule.midi != MidiKind::none) {
    offer_midi(r, now_us, out);
    return;
  }
  OscMessage &message = state.message->clear_arguments();
  for (std::size_t s = 0; s < rule.sources.size(); ++s) {
    const MapSource &source = rule.sources[s];
    const double value = state.sources[s].value;
    if (source.type == ArgumentType::float32) {
      message.add_float(static_cast<float>(value));
    } else if (source.type == ArgumentType::int32) {
      message.add_int32(as_int32(value));
    } else {
      message.add_bool(is_on(source, value));
    }
  }
  // "changes" compares the message as it would be sent, byte for byte.
  encoded.clear();
  message.write_to(encoded, false);
  const bool same = state.sent && state.last_sent.size() == encoded.size() &&
                    std::memcmp(state.last_sent.data(), encoded.bytes(), encoded.size()) == 0;
  if (rule.changes_only && same) {
    return;
  }
  state.last_sent.assign(encoded.bytes(), encoded.bytes() + encoded.size());
  state.sent = true;
  state.last_sent_us = now_us;
  if (!map_.bundled) {
    packet.clear().add_message(message);
    out.osc(packet.packet_bytes(), packet.packet_size());
    return;
  }
  if (packet.packet_size() == 0) {
    packet.open_bundle(OscTimeTag::immediate());
  }
  packet.add_message(message);
}

// Bundled, what a datagram brought goes as one bundle; otherwise each
// message went out as it was offered.
void MapEngine::offer_touched(std::int64_t now_us, const MapOut &out) {
  packet.clear();
  for (std::size_t r = 0; r < rules.size(); ++r) {
    if (touched[r] == 0) {
      continue;
    }
    touched[r] = 0;
    if (!due(map_.rules[r], rules[r], now_us)) {
      rules[r].held = true;
      continue;
    }
    offer(static_cast<int>(r), now_us, out);
  }
  if (map_.bundled && packet.packet_size() != 0) {
    out.osc(packet.packet_bytes(), packet.packet_size());
  }
}

void MapEngine::take(int first, int count, const std::uint32_t *bits, std::int64_t now_us,
                     const MapOut &out) {
  double in_datagram[bridge_address_count];
  std::fill(in_datagram, in_datagram + bridge_address_count, std::nan(""));
  for (int i = 0; i < count; ++i) {
    in_datagram[first + i] = argument_value(bridge_addresses[first + i].type, bits[i]);
  }
  for (int i = 0; i < count; ++i) {
    recentre(first + i, in_datagram[first + i], in_datagram);
  }
  for (int i = 0; i < count; ++i) {
    const int address = first + i;
    for (const Use use : uses[address]) {
      RuleState &state = rules[use.rule];
      if (update(map_.rules[use.rule].sources[use.source], state.sources[use.source],
                 in_datagram[address], now_us)) {
        touched[use.rule] = 1;
      } else {
        ++dropped;
      }
    }
  }
  mark_due(now_us);
  offer_touched(now_us, out);
}

void MapEngine::send_due(std::int64_t now_us, const MapOut &out) {
  mark_due(now_us);
  offer_touched(now_us, out);
}

void MapEngine::mark_due(std::int64_t now_us) {
  for (std::size_t r = 0; r < rules.size(); ++r) {
    const MapRule &rule = map_.rules[r];
    RuleState &state = rules[r];
    if (state.held && due(rule, state, now_us)) {
      touched[r] = 1;
    }
    for (std::size_t s = 0; smoothing > 0 && s < rule.sources.size(); ++s) {
      if (rule.sources[s].smoothing_s > 0 && glide(rule.sources[s], state.sources[s], now_us)) {
        touched[r] = 1;
      }
    }
  }
}
