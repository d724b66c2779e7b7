// Windows: WinMM's MIDI output, the whole of it five calls.
#ifdef _WIN32

#include "platform/midi_output.h"

#include <windows.h>

#include <mmsystem.h>

#include <algorithm>

namespace platform {

struct MidiOutput::System {
  HMIDIOUT handle = nullptr;

  void close() {
    if (handle != nullptr) {
      midiOutClose(handle);
      handle = nullptr;
    }
  }
};

MidiOutput::MidiOutput() : system_(std::make_unique<System>()) {}
MidiOutput::~MidiOutput() { system_->close(); }

bool MidiOutput::start(std::string & /*error*/) { return true; }

std::string MidiOutput::system() const { return "Windows MIDI"; }

std::vector<std::string> MidiOutput::outputs() {
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

bool MidiOutput::open_index(std::size_t index) {
  system_->close();
  return midiOutOpen(&system_->handle, static_cast<UINT>(index), 0, 0, CALLBACK_NULL) ==
         MMSYSERR_NOERROR;
}

bool MidiOutput::open_own(const std::string & /*own_name*/, std::string &error) {
  error = "Windows cannot make a MIDI port for a program: name one with --midi-port NAME (a "
          "loopMIDI port, say); the outputs are: " +
          list_of(outputs());
  return false;
}

bool MidiOutput::send(const unsigned char *bytes, std::size_t size) {
  if (!there) {
    return false;
  }
  DWORD message = 0;
  for (std::size_t i = 0; i < size && i < 3; ++i) {
    message |= static_cast<DWORD>(bytes[i]) << (8 * i);
  }
  if (midiOutShortMsg(system_->handle, message) != MMSYSERR_NOERROR) {
    // A device pulled out: closed, and looked for again by check().
    system_->close();
    there = false;
    return false;
  }
  return true;
}

// A send that fails finds a port gone; this only brings it back.
MidiOutput::Change MidiOutput::check(std::int64_t now_us) {
  if (there || name.empty() || now_us - last_check_us < check_every_us) {
    return Change::none;
  }
  last_check_us = now_us;
  const std::vector<std::string> names = outputs();
  const auto found = std::find(names.begin(), names.end(), name);
  if (found != names.end()) {
    there = open_index(static_cast<std::size_t>(found - names.begin()));
  }
  return there ? Change::back : Change::none;
}

} // namespace platform

#endif
