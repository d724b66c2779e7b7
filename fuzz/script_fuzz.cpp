// Arbitrary text through the simulated ring's script parser, line by line.
#include "ringsim/script_parser.h"

#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) {
      end = text.size();
    }
    const std::string line = text.substr(start, end - start);
    RingEvent event{};
    event.kind = 12345;
    std::string reason;
    switch (parse_script_line(line, event, reason)) {
    case ScriptLine::malformed:
      // A rejected line says why, briefly, and leaves the record alone.
      if (reason.empty() || reason.size() > 200 || event.kind != 12345) {
        std::abort();
      }
      break;
    case ScriptLine::nothing:
      if (event.kind != 12345) {
        std::abort();
      }
      break;
    case ScriptLine::event:
      break;
    }
    start = end + 1;
  }
  return 0;
}
