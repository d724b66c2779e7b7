// One MIDI output of the system's own MIDI: WinMM on Windows; on Linux the
// ALSA sequencer or, without it, a JACK server (through RtMidi). A port is
// named by a part of its name, in any case. Linux can also give the tap a
// port of its own that other programs connect to; Windows cannot.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

class MidiOutput {
public:
  MidiOutput();
  ~MidiOutput();
  MidiOutput(const MidiOutput &) = delete;
  MidiOutput &operator=(const MidiOutput &) = delete;

  // Finds the system's MIDI; false when there is none, with why in `error`.
  bool start(std::string &error);
  // "ALSA", "JACK" or "Windows MIDI", once started.
  std::string system() const;
  // The outputs that can be opened, one name each.
  std::vector<std::string> outputs();

  // The first output whose name holds `part`, case aside; false with the
  // reason (and what there is) in `error`.
  bool open(const std::string &part, std::string &error);
  // A port of the tap's own named `name`, where the system allows it.
  bool open_own(const std::string &name, std::string &error);

  // One short message (1 to 3 bytes); false when it could not be sent,
  // such as while the port is gone.
  bool send(const unsigned char *bytes, std::size_t size);
  // Looks, at most four times a second, whether an opened port went away or
  // came back, and opens it again when it came back.
  enum class Change { none, gone, back };
  Change check(std::int64_t now_us);
  static constexpr std::int64_t check_every_us = 250000;

  bool port_there() const { return there; }
  const std::string &port_name() const { return name; }

  struct System; // the system's own handles

private:
  // Opens output `index` of outputs(), closing what was open.
  bool open_index(std::size_t index);

  std::unique_ptr<System> system_;
  std::string name; // as the system names it; for a port of our own, its name
  bool own = false;
  bool there = false;
  std::int64_t last_check_us = 0;
};

// "name one, name two" or "none", for messages.
inline std::string list_of(const std::vector<std::string> &names) {
  std::string text;
  for (const std::string &n : names) {
    text += (text.empty() ? "" : ", ") + n;
  }
  return text.empty() ? "none" : text;
}

} // namespace platform
