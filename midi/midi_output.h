// One MIDI output of the tap, on one of the system's ports
// (platform/midi_port.h): it finds the port by its name, follows it when it
// goes and comes back (the system's MIDI too, such as a JACK server started
// again), and remembers the notes it turned on, so that every one of them
// is turned off whatever ends them.
#pragma once

#include "midi/midi_messages.h"
#include "platform/midi_port.h"

#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

namespace midi {

class MidiOutput {
public:
  MidiOutput() = default;
  // The notes still on are turned off.
  ~MidiOutput() { release_notes(); }
  MidiOutput(const MidiOutput &) = delete;
  MidiOutput &operator=(const MidiOutput &) = delete;

  // Finds the system's MIDI; false when there is none, with why in `error`.
  bool start(std::string &error) { return port.start(error); }
  std::string system() const { return port.system(); }
  std::vector<std::string> outputs() { return port.outputs(); }

  // The output named `part` exactly, else the one output whose name holds
  // it, in any case; false with the reason and the outputs there are.
  bool open(const std::string &part, std::string &error);
  // A port of the tap's own named `name`, where the system allows it.
  bool open_own(const std::string &name, std::string &error);

  // False when it was not sent, such as while the port is gone.
  bool send(const Message &message);
  // A note off for every note this output turned on and did not turn off.
  void release_notes();

  // Looks, at most four times a second, whether the port went away or came
  // back, and opens it again when it came back. The notes it had on are
  // then turned off, as the receiver may still hold them, a second
  // later: what is sent to a port just opened (a JACK server just started,
  // its connections not yet made) can be lost. A note turned on again
  // before then is turned off first.
  enum class Change { none, gone, back };
  Change check(std::int64_t now_us);
  static constexpr std::int64_t check_every_us = 250000;
  static constexpr std::int64_t settle_us = 1000000;

  bool port_there() const { return there; }
  const std::string &port_name() const { return name; }

private:
  using Notes = std::bitset<std::size_t{16} * 128>; // per channel and note

  bool reopen();
  void send_note_off(std::size_t slot);
  void turn_off(const Notes &notes);
  static std::size_t note_slot(const Message &m) {
    return static_cast<std::size_t>(m.bytes[0] & 0x0FU) * 128 + (m.bytes[1] & 0x7FU);
  }

  platform::MidiPort port;
  std::string name; // as the system names it; for a port of our own, its name
  bool own = false;
  bool there = false;
  std::int64_t last_check_us = 0;
  Notes sounding; // turned on, not yet off
  Notes stale;    // on when the port went: to turn off once back
  std::int64_t release_at_us = 0;
};

// "name one, name two" or "none", for messages.
std::string list_of(const std::vector<std::string> &names);

} // namespace midi
