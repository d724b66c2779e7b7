// Windows: WinMM's MIDI output, the whole of it five calls. WinMM cannot
// make a port for a program; a loopback port (loopMIDI, Windows MIDI
// Services) is an output like any other.
#if defined(_WIN32) && !defined(RING2OSC_NO_MIDI)

#include "platform/midi_port.h"

#include <windows.h>

#include <mmsystem.h>

namespace platform {

struct MidiPort::System {
  HMIDIOUT handle = nullptr;

  void close() {
    if (handle != nullptr) {
      midiOutClose(handle);
      handle = nullptr;
    }
  }
};

MidiPort::MidiPort() : system_(std::make_unique<System>()) {}
MidiPort::~MidiPort() { system_->close(); }

bool MidiPort::start(std::string & /*error*/) { return true; }

std::string MidiPort::system() const { return "Windows MIDI"; }

std::vector<std::string> MidiPort::outputs() {
  std::vector<std::string> names;
  const UINT count = midiOutGetNumDevs();
  for (UINT i = 0; i < count; ++i) {
    MIDIOUTCAPSA caps{};
    if (midiOutGetDevCapsA(i, &caps, sizeof caps) == MMSYSERR_NOERROR) {
      names.emplace_back(caps.szPname);
    }
  }
  return names;
}

bool MidiPort::open(std::size_t index) {
  system_->close();
  return midiOutOpen(&system_->handle, static_cast<UINT>(index), 0, 0, CALLBACK_NULL) ==
         MMSYSERR_NOERROR;
}

bool MidiPort::open_own(const std::string & /*name*/, std::string &error) {
  error = "Windows cannot make a MIDI port for a program: name one with --midi-port NAME (a "
          "loopMIDI port, say)";
  return false;
}

bool MidiPort::is_open() const { return system_->handle != nullptr; }

bool MidiPort::send(const unsigned char *bytes, std::size_t size) {
  if (system_->handle == nullptr) {
    return false;
  }
  DWORD message = 0;
  for (std::size_t i = 0; i < size && i < 3; ++i) {
    message |= static_cast<DWORD>(bytes[i]) << (8 * i);
  }
  if (midiOutShortMsg(system_->handle, message) != MMSYSERR_NOERROR) {
    system_->close(); // a device pulled out: looked for again by its name
    return false;
  }
  return true;
}

bool MidiPort::lost() const { return false; }

} // namespace platform

#endif
