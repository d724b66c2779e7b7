// --check-map's text: every rule as the tap understood it.
#include "maps/map_file.h"

#include "maps/map_numbers.h"
#include "ring/bridge_addresses.h"

namespace {

std::string target_text(const MapRule &rule) {
  if (rule.midi == MidiKind::none) {
    return rule.address;
  }
  static const char *const kinds[] = {"",     "control",    "14-bit control",
                                      "note", "pitch bend", "program change"};
  std::string target = kinds[static_cast<int>(rule.midi)];
  if (rule.midi == MidiKind::control14) {
    target += " " + std::to_string(rule.number) + "/" + std::to_string(rule.number + 32);
  } else if (rule.midi == MidiKind::control || rule.midi == MidiKind::note) {
    target += " " + std::to_string(rule.number);
  }
  target += " on channel " + std::to_string(rule.channel);
  if (rule.midi == MidiKind::note) {
    target += rule.velocity_scaled
                  ? ", velocity from " + range_text(rule.velocity_from) + " to 1..127"
                  : ", velocity " + number_text(rule.velocity);
  }
  return target;
}

// A value's chain, in the order it is applied, and what it becomes.
std::string source_text(const MapRule &rule, const MapSource &s) {
  std::string text = bridge_addresses[s.address].address;
  if (s.zero_on >= 0) {
    text += std::string(", less its value at each press of ") + bridge_addresses[s.zero_on].address;
  }
  if (s.dead_zone > 0) {
    text += ", dead zone " + number_text(s.dead_zone) + " around " + number_text(s.centre);
  }
  if (s.smoothing_s > 0) {
    text += ", smoothed over " + number_text(s.smoothing_s) + " s";
  }
  if (s.scaled) {
    text += ", from " + range_text(s.from) + " to " + range_text(s.to);
  }
  if (s.clamped) {
    text += ", clamped to " + range_text(s.clamp);
  }
  const std::string when = s.has_threshold ? "above " + number_text(s.threshold) : "not 0";
  if (rule.midi == MidiKind::note) {
    return text + ", on while " + when;
  }
  const bool boolean = s.type == ArgumentType::boolean;
  if (rule.midi != MidiKind::none) {
    return text + (boolean ? ", the top of the range when " + when + ", else 0" : ", rounded");
  }
  return text + (s.type == ArgumentType::float32 ? ", float (f)"
                 : s.type == ArgumentType::int32 ? ", int rounded (i)"
                                                 : ", bool: T when " + when + ", else F");
}

} // namespace

std::string describe_map(const MapFile &map) {
  std::string text =
      map.name + ": " +
      (map.midi
           ? "MIDI to " + (map.midi_port.empty() ? "the port --midi-port names, or the tap's own"
                                                 : "the port named like \"" + map.midi_port + "\"")
           : "to " +
                 (map.service.empty() ? map.to.text()
                                      : "the service named like " + map.service +
                                            " once DNS-SD finds it, else " + map.to.text()) +
                 ", " +
                 (map.bundled ? "one bundle per datagram received" : "a datagram per message")) +
      ", " + std::to_string(map.rules.size()) + (map.rules.size() == 1 ? " rule\n" : " rules\n");
  for (const MapRule &rule : map.rules) {
    text += "line " + std::to_string(rule.line) + ": " + target_text(rule) + " <-";
    for (const MapSource &s : rule.sources) {
      text += (&s == &rule.sources.front() ? " " : "; ") + source_text(rule, s);
    }
    if (rule.changes_only) {
      text += "; sent on change only";
    }
    if (rule.at_most_per_s > 0) {
      text += "; at most " + number_text(rule.at_most_per_s) + "/s, the last value always sent";
    }
    text += "\n";
  }
  return text;
}
