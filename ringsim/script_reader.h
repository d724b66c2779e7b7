// Reads a script's events line by line, as people's editors save them: a
// UTF-8 byte-order mark is skipped, CR LF line ends work, UTF-16 text is
// refused as a whole, and a line longer than 64 KiB is refused on its own
// unless it is a comment. A last line without its line end was cut short (a
// full disk) and is refused too. Memory stays bounded whatever the input.
#pragma once

#include "bridge/ring_sdk.h"

#include <cstdint>
#include <istream>
#include <string>

class ScriptReader {
public:
  static constexpr std::size_t max_line_bytes = std::size_t{64} * 1024;

  enum class Outcome {
    event,     // `event` holds the next line's record
    malformed, // `reason` says why line `line_number()` is skipped
    utf16,     // the script is UTF-16 text; nothing of it plays
    end,
  };

  explicit ScriptReader(std::istream &input) : input(input) {}
  ScriptReader(const ScriptReader &) = delete;
  ScriptReader &operator=(const ScriptReader &) = delete;

  // Passes over blank and comment lines to the next event or problem.
  Outcome next(RingEvent &event, std::string &reason);
  unsigned long line_number() const { return number; }
  // The time the last event's line gives, in microseconds; -1 for none.
  std::int64_t time_us() const { return time; }

private:
  bool read_line();

  std::istream &input;
  std::string line;
  bool too_long = false;
  bool unterminated = false;
  std::int64_t time = -1;
  bool finished = false;
  unsigned long number = 0;
};
