// Arbitrary text through the simulated ring's script parser, line by line: a
// rejected line says why, briefly, and no line but an event changes the record.
#include "ringsim/script_parser.h"

#include <cstdlib>
#include <sstream>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  std::istringstream text(std::string(reinterpret_cast<const char *>(data), size));
  for (std::string line; std::getline(text, line);) {
    RingEvent event{};
    event.kind = 12345;
    std::string reason;
    const ScriptLine result = parse_script_line(line, event, reason);
    if (result != ScriptLine::event && event.kind != 12345) {
      std::abort();
    }
    if (result == ScriptLine::malformed && (reason.empty() || reason.size() > 200)) {
      std::abort();
    }
  }
  return 0;
}
