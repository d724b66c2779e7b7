// A build without MIDI: every map that sends MIDI is refused at start.
#include "platform/midi_output.h"

namespace platform {

struct MidiOutput::System {};

MidiOutput::MidiOutput() = default;
MidiOutput::~MidiOutput() = default;

bool MidiOutput::start(std::string &error) {
  error = "this build of the tap has no MIDI";
  return false;
}
std::string MidiOutput::system() const { return ""; }
std::vector<std::string> MidiOutput::outputs() { return {}; }
bool MidiOutput::open_index(std::size_t /*index*/) { return false; }
bool MidiOutput::open_own(const std::string & /*own_name*/, std::string & /*error*/) {
  return false;
}
bool MidiOutput::send(const unsigned char * /*bytes*/, std::size_t /*size*/) { return false; }
MidiOutput::Change MidiOutput::check(std::int64_t /*now_us*/) { return Change::none; }

} // namespace platform
