#include "maps/map_file.h"

#include "ring/bridge_addresses.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

std::string number_text(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

std::string range_text(const ValueRange &range) {
  return number_text(range.low) + ".." + number_text(range.high);
}

bool read_number(const std::string &text, double &out) {
  if (text.empty()) {
    return false;
  }
  char *end = nullptr;
  errno = 0;
  out = std::strtod(text.c_str(), &end);
  return errno == 0 && end == text.c_str() + text.size() && std::isfinite(out);
}

// "LOW..HIGH", the ends different.
std::string read_range(const std::string &text, ValueRange &out) {
  const std::size_t dots = text.find("..");
  if (dots == std::string::npos || !read_number(text.substr(0, dots), out.low) ||
      !read_number(text.substr(dots + 2), out.high)) {
    return "\"" + text + "\" is not a range such as -180..180";
  }
  if (out.low == out.high) {
    return "the range " + text + " has equal ends";
  }
  return "";
}

// A time such as "50ms" or "0.2s", in seconds.
bool read_duration(const std::string &text, double &seconds) {
  const bool ms = text.size() > 2 && text.compare(text.size() - 2, 2, "ms") == 0;
  const bool s = !ms && text.size() > 1 && text.back() == 's';
  if (!(ms || s) || !read_number(text.substr(0, text.size() - (ms ? 2 : 1)), seconds)) {
    return false;
  }
  seconds /= ms ? 1000 : 1;
  return seconds > 0;
}

// OSC 1.0: "/" and parts of printable ASCII, none of them empty, without
// the characters that patterns use.
bool valid_osc_address(const std::string &address) {
  if (address.size() < 2 || address.front() != '/' || address.back() == '/') {
    return false;
  }
  for (std::size_t i = 0; i < address.size(); ++i) {
    const char c = address[i];
    if (c <= ' ' || c > '~' || std::strchr("#*,?[]{}", c) != nullptr ||
        (c == '/' && i + 1 < address.size() && address[i + 1] == '/')) {
      return false;
    }
  }
  return true;
}

// Lead bytes and the count of continuation bytes after each; overlong
// three- and four-byte forms are let through, as nothing reads them.
bool valid_utf8(const std::string &text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    const std::size_t extra = c < 0x80   ? 0
                              : c < 0xC2 ? 4
                              : c < 0xE0 ? 1
                              : c < 0xF0 ? 2
                              : c < 0xF5 ? 3
                                         : 4;
    if (extra == 4 || text.size() - i <= extra) {
      return false;
    }
    for (const std::size_t end = i + extra; i < end;) {
      if ((static_cast<unsigned char>(text[++i]) & 0xC0) != 0x80) {
        return false;
      }
    }
  }
  return true;
}

std::vector<std::string> words_of(const std::string &line) {
  std::istringstream in(line.substr(0, line.find('#')));
  std::vector<std::string> words;
  for (std::string word; in >> word;) {
    words.push_back(word);
  }
  return words;
}

std::string bridge_address_list() {
  std::string list;
  for (const BridgeAddress &a : bridge_addresses) {
    list += std::string(list.empty() ? "" : " ") + a.address;
  }
  return list;
}

MidiKind midi_kind(const std::string &word) {
  return word == "cc"        ? MidiKind::control
         : word == "cc14"    ? MidiKind::control14
         : word == "note"    ? MidiKind::note
         : word == "bend"    ? MidiKind::bend
         : word == "program" ? MidiKind::program
                             : MidiKind::none;
}

// MIDI's ranges: 7 bits, and 14 for a controller pair and the pitch bend.
int midi_high(MidiKind kind) {
  return kind == MidiKind::control14 || kind == MidiKind::bend ? 16383 : 127;
}

// A MIDI rule's one source, scaled to the message's range (a pitch bend
// from -1..1 unless given) and clamped to it; controls only on change.
std::string read_midi_rule(MapRule &rule) {
  if (rule.sources.size() != 1) {
    return "a MIDI rule takes one source";
  }
  MapSource &source = rule.sources[0];
  if (rule.midi == MidiKind::note) {
    if (source.scaled) {
      return "a note takes no scale: it is on while its source is not 0 (\"velocity from "
             "0..1\" scales the velocity)";
    }
    return "";
  }
  const double high = midi_high(rule.midi);
  if (source.type == ArgumentType::boolean) {
    if (source.scaled || source.clamped) {
      return "a bool is 0 or the top of MIDI's range: it takes no scale";
    }
    rule.changes_only = true;
    return "";
  }
  if (rule.midi == MidiKind::bend && !source.scaled) {
    source.scaled = true;
    source.from = {-1, 1};
  }
  source.to = {0, high};
  source.clamped = true;
  source.clamp = {0, high};
  source.type = ArgumentType::int32;
  rule.changes_only = true;
  return "";
}

// The words after "<-": sources, each followed by its own words, and the
// message's words anywhere. Returns what is wrong, or an empty text.
std::string read_rule(const std::vector<std::string> &words, std::size_t first, MapRule &rule) {
  const bool midi = rule.midi != MidiKind::none;
  MapSource *source = nullptr;
  std::vector<char> typed; // per source: its type was given
  for (std::size_t i = first; i < words.size(); ++i) {
    const std::string &word = words[i];
    const bool has_next = i + 1 < words.size();
    if (word.front() == '/') {
      const int address = find_bridge_address(word.c_str());
      if (address < 0) {
        return "unknown source " + word + " (the bridge sends " + bridge_address_list() + ")";
      }
      if (rule.sources.size() == MapFile::max_sources) {
        return "more than 32 sources in one message";
      }
      rule.sources.push_back({});
      typed.push_back(0);
      source = &rule.sources.back();
      source->address = address;
      continue;
    }
    if (word == "changes") {
      rule.changes_only = true;
      continue;
    }
    if (word == "at") {
      const std::string rate = i + 2 < words.size() ? words[i + 2] : "";
      const std::size_t slash = rate.rfind("/s");
      if (!has_next || words[i + 1] != "most" || slash == std::string::npos ||
          slash + 2 != rate.size() || !read_number(rate.substr(0, slash), rule.at_most_per_s) ||
          rule.at_most_per_s <= 0) {
        return "a rate limit reads \"at most 10/s\"";
      }
      i += 2;
      continue;
    }
    if (midi && (word == "channel" || word == "velocity")) {
      double value = 0;
      const bool scaled = word == "velocity" && has_next && words[i + 1] == "from";
      if (scaled) {
        std::string wrong = i + 2 < words.size() ? read_range(words[i + 2], rule.velocity_from)
                                                 : "velocity from needs a range";
        if (!wrong.empty()) {
          return wrong;
        }
        rule.velocity_scaled = true;
        i += 2;
        continue;
      }
      const int low = 1;
      const int high = word == "channel" ? 16 : 127;
      if (!has_next || !read_number(words[++i], value) || value != std::floor(value) ||
          value < low || value > high) {
        return word + " needs a whole number from " + std::to_string(low) + " to " +
               std::to_string(high);
      }
      if (word == "channel") {
        rule.channel = static_cast<int>(value);
      } else {
        rule.velocity = value;
      }
      continue;
    }
    if (source == nullptr) {
      return "\"" + word + "\" before any source: a rule reads ADDRESS <- SOURCE ...";
    }
    if (word == "f" || word == "i" || word == "bool") {
      typed.back() = 1;
    }
    if (word == "f" || word == "i") {
      source->type = word == "f" ? ArgumentType::float32 : ArgumentType::int32;
    } else if (word == "bool") {
      source->type = ArgumentType::boolean;
      if (has_next && words[i + 1] == "above") {
        if (i + 2 >= words.size() || !read_number(words[i + 2], source->threshold)) {
          return "\"bool above\" needs a number";
        }
        source->has_threshold = true;
        i += 2;
      }
    } else if (word == "from") {
      std::string wrong = has_next ? read_range(words[i + 1], source->from) : "from needs a range";
      // A MIDI value's range is MIDI's own.
      const bool to = i + 3 < words.size() && words[i + 2] == "to";
      if (wrong.empty() && to == midi) {
        wrong = midi ? "a MIDI value scales \"from -180..180\" to MIDI's range"
                     : "a scale reads \"from -180..180 to -1..1\"";
      }
      if (wrong.empty() && to) {
        wrong = read_range(words[i + 3], source->to);
      }
      if (!wrong.empty()) {
        return wrong;
      }
      source->scaled = true;
      i += to ? 3 : 1;
    } else if (word == "to") {
      return R"("to" without "from": a scale reads "from -180..180 to -1..1")";
    } else if (word == "clamp") {
      source->clamped = true;
      if (has_next && words[i + 1].find("..") != std::string::npos) {
        std::string wrong = read_range(words[++i], source->clamp);
        if (!wrong.empty()) {
          return wrong;
        }
      } else if (!source->scaled) {
        return "clamp needs a range (clamp 0..255) or a scale before it";
      } else {
        source->clamp = source->to;
      }
      if (source->clamp.low > source->clamp.high) {
        std::swap(source->clamp.low, source->clamp.high);
      }
    } else if (word == "deadzone") {
      if (!has_next || !read_number(words[++i], source->dead_zone) || source->dead_zone <= 0) {
        return "deadzone needs a width above 0";
      }
      if (i + 1 < words.size() && words[i + 1] == "around") {
        if (i + 2 >= words.size() || !read_number(words[i + 2], source->centre)) {
          return "\"around\" needs a number";
        }
        i += 2;
      }
    } else if (word == "smooth") {
      if (!has_next || !read_duration(words[++i], source->smoothing_s)) {
        return "smooth needs a time above 0, such as 50ms or 0.2s";
      }
    } else {
      return "unknown word \"" + word + "\"";
    }
  }
  if (midi) {
    return read_midi_rule(rule);
  }
  // Untyped, a value keeps the bridge's type, or is a float once scaled.
  for (std::size_t s = 0; s < rule.sources.size(); ++s) {
    MapSource &untyped = rule.sources[s];
    if (typed[s] == 0 && !untyped.scaled && bridge_addresses[untyped.address].type == 'i') {
      untyped.type = ArgumentType::int32;
    }
  }
  return rule.sources.empty() ? "a rule needs at least one source after \"<-\"" : "";
}

} // namespace

bool parse_map_text(const std::string &name, const std::string &text, MapFile &map,
                    std::vector<std::string> &mistakes) {
  const std::size_t mistakes_before = mistakes.size();
  map.name = name;
  std::size_t start = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  int to_line = 0;
  for (int number = 1; start < text.size(); ++number) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    std::string line = text.substr(start, end - start);
    start = end + 1;
    const auto mistake = [&](const std::string &reason) {
      std::string said = name;
      said += ":" + std::to_string(number) + ": ";
      mistakes.push_back(said + reason);
    };
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    if (line.find('\0') != std::string::npos) {
      mistake("a NUL byte: this is not a text file");
      break;
    }
    if (line.size() > MapFile::max_line) {
      mistake("a line longer than 4096 bytes");
      continue;
    }
    if (!valid_utf8(line)) {
      mistake("not UTF-8 text");
      continue;
    }
    const std::vector<std::string> words = words_of(line);
    if (words.empty()) {
      continue;
    }
    const MidiKind midi = midi_kind(words[0]);
    if (words[0] == "to" || words[0] == "midi") {
      Endpoint to{};
      std::string wrong;
      if (words[0] == "to") {
        wrong = words.size() != 2 ? "a destination reads \"to [HOST:]PORT\""
                                  : parse_endpoint("to", words[1], to);
      }
      if (!wrong.empty()) {
        mistake(wrong);
      } else if (to_line != 0) {
        mistake("a second destination: a map has one (line " + std::to_string(to_line) + ")");
      } else {
        map.midi = words[0] == "midi";
        map.to = to;
        for (std::size_t w = 1; map.midi && w < words.size(); ++w) {
          map.midi_port += (w == 1 ? "" : " ") + words[w];
        }
        to_line = number;
      }
    } else if (midi != MidiKind::none) {
      MapRule rule;
      rule.line = number;
      rule.midi = midi;
      const bool numbered = midi != MidiKind::bend && midi != MidiKind::program;
      const std::size_t arrow = numbered ? 2 : 1;
      double value = -1;
      const double high = midi == MidiKind::control14 ? 31 : 127;
      std::string wrong;
      if (numbered && (words.size() < 2 || !read_number(words[1], value) ||
                       value != std::floor(value) || value < 0 || value > high)) {
        wrong = words[0] + " needs a number from 0 to " + std::to_string(static_cast<int>(high));
      } else if (words.size() <= arrow || words[arrow] != "<-") {
        wrong = "a MIDI rule reads \"" + words[0] + (numbered ? " N" : "") + " <- SOURCE ...\"";
      } else {
        rule.number = static_cast<int>(value);
        wrong = read_rule(words, arrow + 1, rule);
      }
      if (wrong.empty()) {
        map.rules.push_back(std::move(rule));
      } else {
        mistake(wrong);
      }
    } else if (words[0] == "bundle" && words.size() == 1) {
      map.bundled = true;
    } else if (words[0].front() == '/') {
      MapRule rule;
      rule.line = number;
      rule.address = words[0];
      std::string wrong;
      if (!valid_osc_address(rule.address)) {
        wrong = "\"" + rule.address +
                R"(" is not an OSC address ("/" and parts without spaces or #*,?[]{}))";
      } else if (words.size() < 2 || words[1] != "<-") {
        wrong = "a rule reads ADDRESS <- SOURCE ...";
      } else if (map.rules.size() == MapFile::max_rules) {
        wrong = "more than 256 rules";
      } else {
        wrong = read_rule(words, 2, rule);
      }
      if (wrong.empty()) {
        map.rules.push_back(std::move(rule));
      } else {
        mistake(wrong);
      }
    } else {
      mistake("unknown word \"" + words[0] + R"(" (a line is "to", "midi", "bundle" or a rule))");
    }
  }
  for (const MapRule &rule : map.rules) {
    if ((rule.midi != MidiKind::none) != map.midi && to_line != 0) {
      mistakes.push_back(name + ":" + std::to_string(rule.line) + ": " +
                         (map.midi ? "an OSC rule in a map that sends MIDI"
                                   : "a MIDI rule in a map that sends OSC (\"midi\" sends MIDI)"));
    }
  }
  if (map.midi && map.bundled) {
    mistakes.push_back(name + ": \"bundle\" is for OSC, not MIDI");
  }
  if (mistakes.size() == mistakes_before) {
    if (to_line == 0) {
      mistakes.push_back(name + ": no destination: a line \"to [HOST:]PORT\" is missing");
    } else if (map.rules.empty()) {
      mistakes.push_back(name + ": no rules");
    }
  }
  return mistakes.size() == mistakes_before;
}

bool read_map_file(const std::string &path, MapFile &map, std::vector<std::string> &mistakes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    mistakes.push_back(path + ": cannot be read (" + std::strerror(errno) + ")");
    return false;
  }
  std::string text(MapFile::max_size + 1, '\0');
  in.read(&text[0], static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(in.gcount()));
  if (text.size() > MapFile::max_size) {
    mistakes.push_back(path + ": larger than 1 MiB");
    return false;
  }
  if (in.bad()) {
    mistakes.push_back(path + ": cannot be read");
    return false;
  }
  return parse_map_text(path, text, map, mistakes);
}

std::string describe_map(const MapFile &map) {
  std::string text =
      map.name + ": " +
      (map.midi
           ? "MIDI to " + (map.midi_port.empty() ? "the port --midi-port names, or the tap's own"
                                                 : "the port named like \"" + map.midi_port + "\"")
           : "to " + map.to.text() + ", " +
                 (map.bundled ? "one bundle per datagram received" : "a datagram per message")) +
      ", " + std::to_string(map.rules.size()) + (map.rules.size() == 1 ? " rule\n" : " rules\n");
  for (const MapRule &rule : map.rules) {
    static const char *const kinds[] = {"",     "control",    "14-bit control",
                                        "note", "pitch bend", "program change"};
    std::string target = rule.address;
    if (rule.midi != MidiKind::none) {
      target = kinds[static_cast<int>(rule.midi)];
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
    }
    text += "line " + std::to_string(rule.line) + ": " + target + " <-";
    for (const MapSource &s : rule.sources) {
      text += std::string(&s == &rule.sources.front() ? " " : "; ") +
              bridge_addresses[s.address].address;
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
      const bool boolean = s.type == ArgumentType::boolean;
      if (rule.midi == MidiKind::note) {
        text += ", on while not 0";
        continue;
      }
      if (rule.midi != MidiKind::none) {
        text += boolean ? std::string(", the top of the range when ") +
                              (s.has_threshold ? "above " + number_text(s.threshold) : "not 0") +
                              ", else 0"
                        : ", rounded";
        continue;
      }
      text += s.type == ArgumentType::float32 ? ", float (f)"
              : s.type == ArgumentType::int32 ? ", int rounded (i)"
              : s.has_threshold ? ", bool: T above " + number_text(s.threshold) + ", else F"
                                : ", bool: T when not 0, else F";
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
