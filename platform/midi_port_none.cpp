// A build without MIDI: every map that sends MIDI is refused at start.
#ifdef RING2OSC_NO_MIDI

#include "platform/midi_port.h"

namespace platform {

struct MidiPort::System {};

MidiPort::MidiPort() = default;
MidiPort::~MidiPort() = default;

bool MidiPort::start(std::string &error) {
  error = "this build of the tap has no MIDI";
  return false;
}
std::string MidiPort::system() const { return ""; }
std::vector<std::string> MidiPort::outputs() { return {}; }
bool MidiPort::open(std::size_t /*index*/) { return false; }
bool MidiPort::open_own(const std::string & /*name*/, std::string &error) {
  error = "this build of the tap has no MIDI";
  return false;
}
bool MidiPort::is_open() const { return false; }
bool MidiPort::send(const unsigned char * /*bytes*/, std::size_t /*size*/) { return false; }
bool MidiPort::lost() const { return false; }

} // namespace platform

#endif
