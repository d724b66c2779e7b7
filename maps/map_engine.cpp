#include "maps/map_engine.h"

#include "osc/osc_packet.h"
#include "ring/bridge_addresses.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace {

void append_padded(std::vector<unsigned char> &to, const char *text, std::size_t size) {
  to.insert(to.end(), text, text + size);
  to.resize(to.size() + (4 - size % 4), 0); // at least one NUL
}

template <typename T> void append_big_endian(std::vector<unsigned char> &to, T value) {
  to.resize(to.size() + sizeof value);
  put_big_endian(value, to.data() + to.size() - sizeof value);
}

std::int32_t as_int32(double value) {
  const double rounded = std::round(value);
  return rounded <= std::numeric_limits<std::int32_t>::min()
             ? std::numeric_limits<std::int32_t>::min()
         : rounded >= std::numeric_limits<std::int32_t>::max()
             ? std::numeric_limits<std::int32_t>::max()
             : static_cast<std::int32_t>(rounded);
}

} // namespace

MapEngine::MapEngine(MapFile file) : map(std::move(file)), uses(bridge_address_count) {
  rules.resize(map.rules.size());
  touched.resize(map.rules.size());
  for (std::size_t r = 0; r < map.rules.size(); ++r) {
    const MapRule &rule = map.rules[r];
    rules[r].sources.resize(rule.sources.size());
    append_padded(rules[r].address, rule.address.c_str(), rule.address.size());
    for (std::size_t s = 0; s < rule.sources.size(); ++s) {
      uses[rule.sources[s].address].push_back({static_cast<int>(r), static_cast<int>(s)});
    }
  }
}

bool MapEngine::update(const MapSource &source, SourceState &state, double value,
                       std::int64_t now_us) {
  if (!std::isfinite(value)) {
    return false; // before the clamp, which would make an infinity finite
  }
  if (source.dead_zone > 0 && std::fabs(value - source.centre) <= source.dead_zone) {
    value = source.centre;
  }
  if (source.smoothing_s > 0) {
    if (state.smoothing_started) {
      // On arrival times, so that the time constant holds at any event rate.
      const double elapsed_s = static_cast<double>(now_us - state.last_us) / 1e6;
      value = state.smoothed +
              (1 - std::exp(-elapsed_s / source.smoothing_s)) * (value - state.smoothed);
    }
    state.smoothed = value;
    state.smoothing_started = true;
    state.last_us = now_us;
  }
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

void MapEngine::encode_midi(const MapRule &rule, const RuleState &state) {
  const double value = state.sources[0].value;
  const auto status = [&rule](int kind) {
    return static_cast<unsigned char>(kind | (rule.channel - 1));
  };
  const auto seven = [](long v) { return static_cast<unsigned char>(v & 127); };
  const MapSource &source = rule.sources[0];
  const bool on = source.has_threshold ? value > source.threshold : value != 0;
  const long v =
      source.type == ArgumentType::boolean
          ? (on ? (rule.midi == MidiKind::control14 || rule.midi == MidiKind::bend ? 16383 : 127)
                : 0)
          : std::lround(value);
  const auto number = static_cast<unsigned char>(rule.number);
  switch (rule.midi) {
  case MidiKind::control:
    message = {status(0xB0), number, seven(v)};
    break;
  case MidiKind::control14:
    message = {status(0xB0), number, seven(v >> 7), status(0xB0), seven(number + 32), seven(v)};
    break;
  case MidiKind::bend:
    message = {status(0xE0), seven(v), seven(v >> 7)};
    break;
  case MidiKind::program:
    message = {status(0xC0), seven(v)};
    break;
  case MidiKind::note:
  case MidiKind::none: {
    double velocity = rule.velocity;
    if (rule.velocity_scaled) {
      velocity = 1 + (value - rule.velocity_from.low) * 126 /
                         (rule.velocity_from.high - rule.velocity_from.low);
    }
    const long strength = std::min(127L, std::max(1L, std::lround(velocity)));
    if (value != 0) {
      message = {status(0x90), number, seven(strength)};
    } else {
      message = {status(0x80), number, 0};
    }
  }
  }
}

void MapEngine::encode(const MapRule &rule, const RuleState &state) {
  if (rule.midi != MidiKind::none) {
    encode_midi(rule, state);
    return;
  }
  message.assign(state.address.begin(), state.address.end());
  std::string tags = ",";
  for (std::size_t s = 0; s < rule.sources.size(); ++s) {
    const MapSource &source = rule.sources[s];
    const double value = state.sources[s].value;
    tags += source.type == ArgumentType::float32                             ? 'f'
            : source.type == ArgumentType::int32                             ? 'i'
            : (source.has_threshold ? value > source.threshold : value != 0) ? 'T'
                                                                             : 'F';
  }
  append_padded(message, tags.c_str(), tags.size());
  for (std::size_t s = 0; s < rule.sources.size(); ++s) {
    const double value = state.sources[s].value;
    if (rule.sources[s].type == ArgumentType::float32) {
      append_big_endian(message, static_cast<float>(value));
    } else if (rule.sources[s].type == ArgumentType::int32) {
      append_big_endian(message, as_int32(value));
    }
  }
}

void MapEngine::offer(int r, std::int64_t now_us) {
  RuleState &state = rules[r];
  state.held = false;
  if (map.rules[r].midi == MidiKind::note) {
    // On when its source turns from 0, off when it returns to 0.
    const bool on = state.sources[0].value != 0;
    if (on == state.note_on) {
      return;
    }
    state.note_on = on;
  }
  encode(map.rules[r], state);
  if (map.rules[r].changes_only && state.sent && message == state.last_sent) {
    return;
  }
  state.last_sent = message;
  state.sent = true;
  state.last_sent_us = now_us;
  if (map.bundled) {
    append_big_endian(out, static_cast<std::uint32_t>(message.size()));
  }
  out.insert(out.end(), message.begin(), message.end());
  ++out_messages;
}

void MapEngine::send_out(const Send &send) {
  for (std::size_t at = 0; map.midi && at < out.size();) {
    // A program change has one data byte, every other message two.
    const std::size_t size = (out[at] & 0xF0) == 0xC0 ? 2 : 3;
    send(out.data() + at, static_cast<std::uint32_t>(size));
    at += size;
  }
  if (!map.midi && !out.empty()) {
    send(out.data(), static_cast<std::uint32_t>(out.size()));
  }
  out.clear();
}

// Bundled, what the datagram brought goes as one bundle; otherwise each
// message went out as it was offered.
void MapEngine::finish(const Send &send) {
  if (map.bundled && out_messages > 0) {
    send(out.data(), static_cast<std::uint32_t>(out.size()));
  }
  out.clear();
  out_messages = 0;
}

void MapEngine::take(int first, int count, const std::uint32_t *bits, std::int64_t now_us,
                     const Send &send) {
  for (int i = 0; i < count; ++i) {
    const int address = first + i;
    const double value = argument_value(bridge_addresses[address].type, bits[i]);
    for (const Use use : uses[address]) {
      RuleState &state = rules[use.rule];
      if (update(map.rules[use.rule].sources[use.source], state.sources[use.source], value,
                 now_us)) {
        touched[use.rule] = 1;
      } else {
        ++dropped;
      }
    }
  }
  const auto start_out = [&] {
    if (map.bundled && out.empty()) {
      static const char header[16] = "#bundle";
      out.insert(out.end(), header, header + 8);
      append_big_endian(out, OscTimeTag::immediate().value());
    }
  };
  for (std::size_t r = 0; r < rules.size(); ++r) {
    if (touched[r] == 0) {
      continue;
    }
    touched[r] = 0;
    if (!due(map.rules[r], rules[r], now_us)) {
      rules[r].held = true;
      continue;
    }
    start_out();
    offer(static_cast<int>(r), now_us);
    if (!map.bundled) {
      send_out(send);
    }
  }
  finish(send);
}

void MapEngine::send_due(std::int64_t now_us, const Send &send) {
  for (std::size_t r = 0; r < rules.size(); ++r) {
    if (rules[r].held && due(map.rules[r], rules[r], now_us)) {
      touched[r] = 1;
    }
  }
  take(0, 0, nullptr, now_us, send);
}
