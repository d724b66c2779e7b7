// One output port of the system's own MIDI: WinMM on Windows; on Linux the
// ALSA sequencer or, without it, a JACK server, through RtMidi; nothing in a
// build without MIDI. It carries bytes: what they mean, and which port is
// meant, is midi/'s.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class MidiPort {
public:
  MidiPort();
  ~MidiPort();
  MidiPort(const MidiPort &) = delete;
  MidiPort &operator=(const MidiPort &) = delete;

  // Finds the system's MIDI, or finds it again once it was lost; false when
  // there is none, with why in `error`.
  bool start(std::string &error);
  // "ALSA", "JACK" or "Windows MIDI", once started.
  std::string system() const;
  // The outputs that can be opened, one name each.
  std::vector<std::string> outputs();

  // Opens output `index` of outputs(), closing what was open.
  bool open(std::size_t index);
  // A port of the program's own named `name`, where the system allows it;
  // false with why.
  bool open_own(const std::string &name, std::string &error);
  bool is_open() const;

  // One short message (1 to 3 bytes); false when it was not sent. A port
  // that fails for good (a device pulled out) is closed.
  bool send(const unsigned char *bytes, std::size_t size);
  // The system's MIDI itself went away (a JACK server that ended): nothing
  // reaches any port until start() succeeds again.
  bool lost() const;

  struct System; // the system's own handles

private:
  std::unique_ptr<System> system_;
};

} // namespace platform
