#include "ringsim/script_player.h"

#include "ringsim/script_reader.h"

#include <cstdio>

bool ScriptPlayer::play_pass(std::istream &input) {
  ScriptReader reader(input);
  std::string reason;
  RingEvent event{};
  bool played = false;
  for (;;) {
    switch (reader.next(event, reason)) {
    case ScriptReader::Outcome::event:
      if (pacer.wait(reader.time_us()) && speaks && !told_earlier) {
        told_earlier = true;
        std::fprintf(stderr,
                     "ringsim: %s:%lu: time before the line before's; played right after it\n",
                     source.c_str(), reader.line_number());
      }
      if (first_pass) {
        stamps.record();
      }
      handler(event);
      played = true;
      break;
    case ScriptReader::Outcome::malformed:
      if (speaks) {
        std::fprintf(stderr, "ringsim: %s:%lu: %s\n", source.c_str(), reader.line_number(),
                     reason.c_str());
      }
      break;
    case ScriptReader::Outcome::utf16:
      if (speaks) {
        std::fprintf(stderr, "ringsim: %s: UTF-16 text; save the script as UTF-8\n",
                     source.c_str());
      }
      break;
    case ScriptReader::Outcome::end: {
      if (first_pass) {
        stamps.write(); // a looping script never finishes
        first_pass = false;
      }
      const bool took_time = pacer.next_pass() > 0;
      if (played && !took_time && speaks && loops) {
        std::fprintf(stderr,
                     "ringsim: %s: a pass takes no time (no @SECONDS past 0, "
                     "RINGSIM_INTERVAL_US 0): played once, not looped\n",
                     source.c_str());
      }
      speaks = false;
      return played && took_time;
    }
    }
  }
}
