#include "maps/map_file.h"

#include "maps/map_numbers.h"
#include "maps/map_words.h"
#include "platform/file.h"

#include <cmath>
#include <cstring>
#include <sstream>

namespace {

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

MidiKind midi_kind(const std::string &word) {
  return word == "cc"        ? MidiKind::control
         : word == "cc14"    ? MidiKind::control14
         : word == "note"    ? MidiKind::note
         : word == "bend"    ? MidiKind::bend
         : word == "program" ? MidiKind::program
                             : MidiKind::none;
}

// "cc N <- ...", "note N <- ...", "bend <- ...", "program <- ...".
std::string read_midi_rule(const std::vector<std::string> &words, MapRule &rule) {
  const bool numbered = rule.midi != MidiKind::bend && rule.midi != MidiKind::program;
  const std::size_t arrow = numbered ? 2 : 1;
  const int high = rule.midi == MidiKind::control14 ? 31 : 127;
  double number = 0;
  if (numbered && (words.size() < 2 || !read_number(words[1], number).empty() ||
                   number != std::floor(number) || number < 0 || number > high)) {
    return words[0] + " needs a number from 0 to " + std::to_string(high);
  }
  if (words.size() <= arrow || words[arrow] != "<-") {
    return "a MIDI rule reads \"" + words[0] + (numbered ? " N" : "") + " <- SOURCE ...\"";
  }
  rule.number = static_cast<int>(number);
  return read_rule_words(words, arrow + 1, rule);
}

std::string read_osc_rule(const std::vector<std::string> &words, MapRule &rule) {
  rule.address = words[0];
  if (!valid_osc_address(rule.address)) {
    return "\"" + rule.address +
           R"(" is not an OSC address ("/" and parts without spaces or #*,?[]{}))";
  }
  if (words.size() < 2 || words[1] != "<-") {
    return "a rule reads ADDRESS <- SOURCE ...";
  }
  return read_rule_words(words, 2, rule);
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
    if (line.find('\r') != std::string::npos) {
      mistake("lines end with CR alone (old Mac text): save the file with LF or CR LF line ends");
      break;
    }
    if (line.size() > MapFile::max_line) {
      mistake("a line longer than " + std::to_string(MapFile::max_line) + " bytes");
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
    MapRule rule;
    rule.line = number;
    rule.midi = midi_kind(words[0]);
    if (words[0] == "to" || words[0] == "midi") {
      Endpoint to{};
      std::string wrong;
      const bool service = words[0] == "to" && words.size() > 1 && words[1] == "service";
      if (service) {
        wrong = words.size() != 5 || words[3] != "else"
                    ? "a service reads \"to service NAME-PATTERN else [HOST:]PORT\""
                    : parse_endpoint("to service " + words[2] + " else", words[4], to);
      } else if (words[0] == "to") {
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
        map.service = service ? words[2] : "";
        for (std::size_t w = 1; map.midi && w < words.size(); ++w) {
          map.midi_port += (w == 1 ? "" : " ") + words[w];
        }
        to_line = number;
      }
    } else if (words[0] == "bundle" && words.size() == 1) {
      map.bundled = true;
    } else if (rule.midi != MidiKind::none || words[0].front() == '/') {
      std::string wrong = map.rules.size() == MapFile::max_rules
                              ? "more than " + std::to_string(MapFile::max_rules) + " rules"
                          : rule.midi != MidiKind::none ? read_midi_rule(words, rule)
                                                        : read_osc_rule(words, rule);
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

bool read_map_file(const std::string &path, MapFile &map, std::vector<std::string> &mistakes,
                   std::string *text) {
  std::string read;
  std::string error;
  switch (platform::read_regular_file(path, MapFile::max_size, read, error)) {
  case platform::FileRead::ok:
    break;
  case platform::FileRead::not_regular:
    mistakes.push_back(path + ": not a regular file (a map is a text file)");
    return false;
  case platform::FileRead::too_large:
    mistakes.push_back(path + ": larger than 1 MiB");
    return false;
  case platform::FileRead::failed:
    mistakes.push_back(path + ": cannot be read (" + error + ")");
    return false;
  }
  const bool good = parse_map_text(path, read, map, mistakes);
  if (text != nullptr) {
    *text = std::move(read);
  }
  return good;
}
