// What every system's MIDI output does alike: finding a port by a part of
// its name.
#include "platform/midi_output.h"

#include <algorithm>
#include <cctype>

namespace platform {

namespace {

bool name_holds(std::string name, std::string part) {
  for (std::string *text : {&name, &part}) {
    std::transform(text->begin(), text->end(), text->begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  }
  return name.find(part) != std::string::npos;
}

} // namespace

bool MidiOutput::open(const std::string &part, std::string &error) {
  const std::vector<std::string> names = outputs();
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (name_holds(names[i], part)) {
      name = names[i];
      there = open_index(i);
      if (there) {
        return true;
      }
    }
  }
  error = "MIDI output \"" + part + "\" " + (name.empty() ? "does not exist" : "cannot be opened") +
          "; the outputs are: " + list_of(names);
  return false;
}

} // namespace platform
