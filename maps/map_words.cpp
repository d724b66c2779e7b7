#include "maps/map_words.h"

#include "maps/map_numbers.h"
#include "ring/bridge_addresses.h"

#include <algorithm>
#include <cmath>

namespace {

// The kinds of rule, as bits, for which words a kind takes.
enum RuleKind : unsigned { osc = 1, cc = 2, cc14 = 4, note = 8, bend = 16, program = 32 };
constexpr unsigned midi_rules = cc | cc14 | note | bend | program;
constexpr unsigned every_rule = osc | midi_rules;

unsigned kind_of(const MapRule &rule) {
  switch (rule.midi) {
  case MidiKind::none:
    return osc;
  case MidiKind::control:
    return cc;
  case MidiKind::control14:
    return cc14;
  case MidiKind::note:
    return note;
  case MidiKind::bend:
    return bend;
  case MidiKind::program:
    return program;
  }
  return osc;
}

// Words that set the same thing exclude each other; the first ones belong
// to a source, the rest to the whole message.
enum Slot { type, scale, clamp, dead_zone, smooth, zero, changes, rate, channel, velocity, slots };
constexpr int first_rule_slot = changes;
constexpr const char *one_of[slots] = {"a value takes one type",      "a value takes one scale",
                                       "a value takes one clamp",     "a value takes one dead zone",
                                       "a value takes one smoothing", "a value takes one zero",
                                       "\"changes\" is said once",    "a rule takes one rate limit",
                                       "a rule takes one channel",    "a note takes one velocity"};

// The rest of a rule's line, a word at a time.
class Words {
public:
  Words(const std::vector<std::string> &all, std::size_t first) : all(all), at(first) {}
  bool done() const { return at == all.size(); }
  std::size_t position() const { return at; }
  const std::string &next() const { return done() ? none : all[at]; }
  const std::string &take() { return done() ? none : all[at++]; }
  bool take_if(const char *word) {
    if (next() != word) {
      return false;
    }
    ++at;
    return true;
  }
  // The words taken since `start`, as written.
  std::string since(std::size_t start) const {
    std::string text;
    for (std::size_t i = start; i < at; ++i) {
      text += (i == start ? "" : " ") + all[i];
    }
    return text;
  }

private:
  const std::vector<std::string> &all;
  std::size_t at;
  const std::string none;
};

using Reader = std::string (*)(Words &, MapRule &, MapSource &);

std::string read_float(Words & /*in*/, MapRule & /*rule*/, MapSource &source) {
  source.type = ArgumentType::float32;
  return "";
}

std::string read_int(Words & /*in*/, MapRule & /*rule*/, MapSource &source) {
  source.type = ArgumentType::int32;
  return "";
}

std::string read_bool(Words &in, MapRule & /*rule*/, MapSource &source) {
  source.type = ArgumentType::boolean;
  if (in.take_if("above")) {
    if (in.done()) {
      return "\"bool above\" needs a number";
    }
    source.has_threshold = true;
    return read_number(in.take(), source.threshold);
  }
  return "";
}

std::string read_from(Words &in, MapRule &rule, MapSource &source) {
  if (in.done()) {
    return "from needs a range";
  }
  std::string wrong = read_range(in.take(), source.from);
  const bool to = in.take_if("to");
  if (wrong.empty() && to == (rule.midi != MidiKind::none)) {
    wrong = to ? "a MIDI value scales \"from -180..180\" to MIDI's range"
               : "a scale reads \"from -180..180 to -1..1\"";
  }
  if (wrong.empty() && to) {
    wrong =
        in.done() ? "a scale reads \"from -180..180 to -1..1\"" : read_range(in.take(), source.to);
  }
  source.scaled = true;
  return wrong;
}

std::string read_to(Words & /*in*/, MapRule & /*rule*/, MapSource & /*source*/) {
  return R"("to" without "from": a scale reads "from -180..180 to -1..1")";
}

std::string read_clamp(Words &in, MapRule & /*rule*/, MapSource &source) {
  source.clamped = true;
  if (in.next().find("..") != std::string::npos) {
    const std::string range = in.take();
    std::string wrong = read_range(range, source.clamp);
    if (wrong.empty() && source.clamp.low > source.clamp.high) {
      return "clamp " + range + " has its low end above its high end";
    }
    return wrong;
  }
  if (!source.scaled) {
    return "clamp needs a range (clamp 0..255) or a scale before it";
  }
  // The scale's target, which a reversed scale gives high end first.
  source.clamp = {std::fmin(source.to.low, source.to.high),
                  std::fmax(source.to.low, source.to.high)};
  return "";
}

std::string read_dead_zone(Words &in, MapRule & /*rule*/, MapSource &source) {
  std::string wrong =
      in.done() ? "deadzone needs a width above 0" : read_number(in.take(), source.dead_zone);
  if (wrong.empty() && source.dead_zone <= 0) {
    wrong = "deadzone needs a width above 0";
  }
  if (wrong.empty() && in.take_if("around")) {
    wrong = in.done() ? "\"around\" needs a number" : read_number(in.take(), source.centre);
  }
  return wrong;
}

std::string read_smooth(Words &in, MapRule & /*rule*/, MapSource &source) {
  return in.done() ? "smooth needs a time above 0, such as 50ms or 0.2s"
                   : read_duration(in.take(), source.smoothing_s);
}

std::string read_zero(Words &in, MapRule & /*rule*/, MapSource &source) {
  if (!in.take_if("on") || in.done()) {
    return "a recentring reads \"zero on /b/0\"";
  }
  const std::string &button = in.take();
  source.zero_on = find_bridge_address(button.c_str());
  return source.zero_on < 0 ? "zero on " + button + ": not one of the bridge's addresses" : "";
}

std::string read_changes(Words & /*in*/, MapRule &rule, MapSource & /*source*/) {
  rule.changes_only = true;
  return "";
}

std::string read_rate(Words &in, MapRule &rule, MapSource & /*source*/) {
  const bool most = in.take_if("most");
  const std::string rate = most ? in.take() : "";
  const std::size_t slash = rate.rfind("/s");
  if (!most || slash == std::string::npos || slash + 2 != rate.size() ||
      !read_number(rate.substr(0, slash), rule.at_most_per_s).empty() || rule.at_most_per_s <= 0) {
    return "a rate limit reads \"at most 10/s\"";
  }
  return "";
}

// A whole number from `low` to `high`, said as `what`.
std::string read_whole(Words &in, const char *what, int low, int high, double &out) {
  if (in.done() || !read_number(in.take(), out).empty() || out != std::floor(out) || out < low ||
      out > high) {
    return std::string(what) + " needs a whole number from " + std::to_string(low) + " to " +
           std::to_string(high);
  }
  return "";
}

std::string read_channel(Words &in, MapRule &rule, MapSource & /*source*/) {
  double channel = 1;
  std::string wrong = read_whole(in, "channel", 1, 16, channel);
  rule.channel = static_cast<int>(channel);
  return wrong;
}

std::string read_velocity(Words &in, MapRule &rule, MapSource & /*source*/) {
  if (in.take_if("from")) {
    rule.velocity_scaled = true;
    return in.done() ? "velocity from needs a range" : read_range(in.take(), rule.velocity_from);
  }
  return read_whole(in, "velocity", 1, 127, rule.velocity);
}

struct Word {
  const char *word;
  int slot; // -1: a mistake wherever it stands
  unsigned rules;
  const char *refused; // why the other kinds of rule take no such word
  Reader read;
};

constexpr const char *midi_type = "a MIDI value is MIDI's: f and i are for OSC rules";
const Word words_of_rules[] = {
    {"f", type, osc, midi_type, read_float},
    {"i", type, osc, midi_type, read_int},
    {"bool", type, every_rule, "", read_bool},
    {"from", scale, every_rule & ~note,
     "a note takes no scale: \"bool above T\" says when it is on, \"velocity from A..B\" "
     "scales its velocity",
     read_from},
    {"to", -1, every_rule, "", read_to},
    {"clamp", clamp, osc, "a MIDI value is always clamped to MIDI's range", read_clamp},
    {"deadzone", dead_zone, every_rule, "", read_dead_zone},
    {"smooth", smooth, every_rule, "", read_smooth},
    {"zero", zero, every_rule, "", read_zero},
    {"changes", changes, osc, "a MIDI rule sends only changes already", read_changes},
    {"at", rate, every_rule, "", read_rate},
    {"channel", channel, midi_rules, "channel is for MIDI rules", read_channel},
    {"velocity", velocity, note, "velocity is for note rules", read_velocity},
};

const Word *find_word(const std::string &text) {
  for (const Word &w : words_of_rules) {
    if (text == w.word) {
      return &w;
    }
  }
  return nullptr;
}

std::string bridge_address_list() {
  std::string list;
  for (const BridgeAddress &a : bridge_addresses) {
    list += std::string(list.empty() ? "" : " ") + a.address;
  }
  return list;
}

int midi_high(MidiKind kind) {
  return kind == MidiKind::control14 || kind == MidiKind::bend ? 16383 : 127;
}

// What the kind of rule makes of its sources once every word is read.
std::string finish_rule(MapRule &rule, const std::vector<char> &typed) {
  if (rule.sources.empty()) {
    return "a rule needs at least one source after \"<-\"";
  }
  if (rule.midi == MidiKind::none) {
    // Untyped, a value keeps the bridge's type, or is a float once scaled.
    for (std::size_t s = 0; s < rule.sources.size(); ++s) {
      MapSource &untyped = rule.sources[s];
      if (typed[s] == 0 && !untyped.scaled && bridge_addresses[untyped.address].type == 'i') {
        untyped.type = ArgumentType::int32;
      }
    }
    return "";
  }
  if (rule.sources.size() != 1) {
    return "a MIDI rule takes one source";
  }
  MapSource &source = rule.sources[0];
  if (rule.midi == MidiKind::note) {
    if (source.smoothing_s > 0 && !source.has_threshold) {
      return "a smoothed note needs \"bool above T\": a smoothed value comes back to exactly 0 "
             "only slowly, and the note would stay on";
    }
    return "";
  }
  rule.changes_only = true;
  if (source.type == ArgumentType::boolean) {
    return source.scaled ? "a bool is 0 or the top of MIDI's range: it takes no scale" : "";
  }
  if (rule.midi == MidiKind::bend && !source.scaled) {
    source.scaled = true;
    source.from = {-1, 1};
  }
  const double high = midi_high(rule.midi);
  source.to = {0, high};
  source.clamped = true;
  source.clamp = {0, high};
  source.type = ArgumentType::int32;
  return "";
}

} // namespace

std::string read_rule_words(const std::vector<std::string> &words, std::size_t first,
                            MapRule &rule) {
  const unsigned kind = kind_of(rule);
  std::vector<char> typed;              // per source: its type was given
  std::vector<std::string> said(slots); // per slot: the words that set it, on this source or rule
  Words in(words, first);
  while (!in.done()) {
    const std::size_t start = in.position();
    const std::string &word = in.take();
    if (word.front() == '/') {
      const int address = find_bridge_address(word.c_str());
      if (address < 0) {
        return "unknown source " + word + " (the bridge sends " + bridge_address_list() + ")";
      }
      if (rule.sources.size() == MapFile::max_sources) {
        return "more than " + std::to_string(MapFile::max_sources) + " sources in one message";
      }
      rule.sources.emplace_back();
      rule.sources.back().address = address;
      typed.push_back(0);
      std::fill(said.begin(), said.begin() + first_rule_slot, std::string());
      continue;
    }
    const Word *known = find_word(word);
    if (known == nullptr) {
      return "unknown word \"" + word + "\"";
    }
    if ((known->rules & kind) == 0) {
      return known->refused;
    }
    const bool of_source = known->slot < first_rule_slot;
    if (of_source && rule.sources.empty()) {
      return "\"" + word + "\" before any source: a rule reads ADDRESS <- SOURCE ...";
    }
    MapSource spare;
    MapSource &source = rule.sources.empty() ? spare : rule.sources.back();
    std::string wrong = known->read(in, rule, source);
    if (!wrong.empty()) {
      return wrong;
    }
    std::string &first_said = said[static_cast<std::size_t>(known->slot)];
    if (!first_said.empty()) {
      return "\"" + in.since(start) + "\" after \"" + first_said + "\": " + one_of[known->slot];
    }
    first_said = in.since(start);
    if (known->slot == type) {
      typed.back() = 1;
    }
  }
  return finish_rule(rule, typed);
}
