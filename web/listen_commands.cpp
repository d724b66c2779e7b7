#include "web/listen_commands.h"

namespace {

// A reader of one flat JSON object whose members are strings, numbers,
// true, false or null: all a command holds.
class Json {
public:
  explicit Json(std::string_view text) : text(text) {}

  void blank() {
    while (at < text.size() &&
           (text[at] == ' ' || text[at] == '\t' || text[at] == '\n' || text[at] == '\r')) {
      ++at;
    }
  }
  bool take(char c) {
    blank();
    if (at < text.size() && text[at] == c) {
      ++at;
      return true;
    }
    return false;
  }
  bool done() {
    blank();
    return at == text.size();
  }
  // A string's value, escapes read (\uXXXX as UTF-8, surrogate pairs whole).
  bool string(std::string &out) {
    if (!take('"')) {
      return false;
    }
    out.clear();
    while (at < text.size() && text[at] != '"') {
      const char c = text[at++];
      if (static_cast<unsigned char>(c) < 0x20) {
        return false;
      }
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at == text.size()) {
        return false;
      }
      const char e = text[at++];
      const char *plain = "\"\\/bfnrt";
      const char *meant = "\"\\/\b\f\n\r\t";
      bool known = false;
      for (int i = 0; plain[i] != '\0'; ++i) {
        if (e == plain[i]) {
          out += meant[i];
          known = true;
        }
      }
      if (!known && (e != 'u' || !code_point(out))) {
        return false;
      }
    }
    return take('"');
  }
  // Any other value, passed over.
  bool other() {
    blank();
    const std::size_t start = at;
    while (at < text.size() &&
           std::string_view("+-.0123456789eEtrufalsn").find(text[at]) != std::string_view::npos) {
      ++at;
    }
    const std::string_view word = text.substr(start, at - start);
    return word == "true" || word == "false" || word == "null" ||
           (!word.empty() && word.find_first_not_of("+-.0123456789eE") == std::string_view::npos);
  }

private:
  bool hex4(unsigned &value) {
    if (text.size() - at < 4) {
      return false;
    }
    value = 0;
    for (int i = 0; i < 4; ++i) {
      const char h = text[at++];
      const int digit = h >= '0' && h <= '9'   ? h - '0'
                        : h >= 'a' && h <= 'f' ? h - 'a' + 10
                        : h >= 'A' && h <= 'F' ? h - 'A' + 10
                                               : -1;
      if (digit < 0) {
        return false;
      }
      value = value * 16 + static_cast<unsigned>(digit);
    }
    return true;
  }
  bool code_point(std::string &out) {
    unsigned c = 0;
    if (!hex4(c) || (c >= 0xDC00 && c < 0xE000)) {
      return false;
    }
    if (c >= 0xD800 && c < 0xDC00) {
      unsigned low = 0;
      if (text.substr(at, 2) != "\\u" || (at += 2, !hex4(low)) || low < 0xDC00 || low >= 0xE000) {
        return false;
      }
      c = 0x10000 + ((c - 0xD800) << 10U) + (low - 0xDC00);
    }
    const auto byte = [&out](unsigned b) { out += static_cast<char>(b); };
    if (c < 0x80) {
      byte(c);
    } else if (c < 0x800) {
      byte(0xC0 | c >> 6U), byte(0x80 | (c & 0x3FU));
    } else if (c < 0x10000) {
      byte(0xE0 | c >> 12U), byte(0x80 | (c >> 6U & 0x3FU)), byte(0x80 | (c & 0x3FU));
    } else {
      byte(0xF0 | c >> 18U), byte(0x80 | (c >> 12U & 0x3FU)), byte(0x80 | (c >> 6U & 0x3FU)),
          byte(0x80 | (c & 0x3FU));
    }
    return true;
  }

  std::string_view text;
  std::size_t at = 0;
};

} // namespace

bool read_listen_command(std::string_view json, ListenCommand &out) {
  Json in(json);
  std::string command;
  std::string data;
  bool has_command = false;
  bool has_data = false;
  if (!in.take('{')) {
    return false;
  }
  for (bool first = true; !in.take('}'); first = false) {
    std::string key;
    std::string value;
    if ((!first && !in.take(',')) || !in.string(key) || !in.take(':')) {
      return false;
    }
    if (key == "COMMAND" || key == "DATA") {
      std::string &into = key == "COMMAND" ? command : data;
      bool &seen = key == "COMMAND" ? has_command : has_data;
      if (seen || !in.string(into)) {
        return false; // twice, or not a string
      }
      seen = true;
    } else if (!in.string(value) && !in.other()) {
      return false;
    }
  }
  if (!in.done() || !has_command || !has_data || (command != "LISTEN" && command != "IGNORE")) {
    return false;
  }
  out.listen = command == "LISTEN";
  out.path = std::move(data);
  return true;
}
