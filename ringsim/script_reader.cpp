#include "ringsim/script_reader.h"

#include "ring/script_format.h"

namespace {

bool starts_with(const std::string &text, const char *prefix) { return text.rfind(prefix, 0) == 0; }

bool is_comment(const std::string &line) {
  const std::size_t first = line.find_first_not_of(" \t\r\v\f");
  return first != std::string::npos && line[first] == '#';
}

} // namespace

// Keeps at most max_line_bytes of a line and notes that the rest was dropped.
bool ScriptReader::read_line() {
  line.clear();
  too_long = false;
  std::streambuf *bytes = input.rdbuf();
  int c = std::char_traits<char>::eof();
  while ((c = bytes->sbumpc()) != std::char_traits<char>::eof() && c != '\n') {
    if (line.size() < max_line_bytes) {
      line.push_back(static_cast<char>(c));
    } else {
      too_long = true;
    }
  }
  unterminated = c != '\n';
  return c == '\n' || !line.empty();
}

ScriptReader::Outcome ScriptReader::next(RingEvent &event, std::string &reason) {
  while (!finished && read_line()) {
    if (++number == 1) {
      if (starts_with(line, "\xFF\xFE") || starts_with(line, "\xFE\xFF")) {
        finished = true;
        return Outcome::utf16;
      }
      if (starts_with(line, "\xEF\xBB\xBF")) {
        line.erase(0, 3);
      }
    }
    if (is_comment(line)) {
      continue;
    }
    if (too_long) {
      reason = "line too long";
      return Outcome::malformed;
    }
    RingEvent parsed_event{};
    std::int64_t parsed_time = -1;
    const ScriptLine parsed = parse_script_line(line, parsed_event, reason, &parsed_time);
    if (unterminated && parsed != ScriptLine::nothing) {
      reason = "the last line has no line end: cut short?";
      return Outcome::malformed;
    }
    switch (parsed) {
    case ScriptLine::event:
      event = parsed_event;
      time = parsed_time;
      return Outcome::event;
    case ScriptLine::malformed:
      return Outcome::malformed;
    case ScriptLine::nothing:
      break;
    }
  }
  finished = true;
  return Outcome::end;
}
