#include "midi/midi_output.h"

#include <algorithm>
#include <cctype>

namespace midi {

namespace {

std::string lowered(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

} // namespace

std::string list_of(const std::vector<std::string> &names) {
  std::string text;
  for (const std::string &n : names) {
    text += (text.empty() ? "" : ", ") + n;
  }
  return text.empty() ? "none" : text;
}

bool MidiOutput::open(const std::string &part, std::string &error) {
  const std::vector<std::string> names = outputs();
  std::vector<std::size_t> holding;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == part) {
      holding = {i};
      break;
    }
    if (lowered(names[i]).find(lowered(part)) != std::string::npos) {
      holding.push_back(i);
    }
  }
  if (holding.size() > 1) {
    std::vector<std::string> matching;
    matching.reserve(holding.size());
    for (const std::size_t i : holding) {
      matching.push_back(names[i]);
    }
    error = "MIDI output \"" + part + "\" matches several outputs: " + list_of(matching) +
            "; name one of them exactly";
    return false;
  }
  if (holding.empty() || !port.open(holding[0])) {
    error = "MIDI output \"" + part + "\" " +
            (holding.empty() ? "does not exist" : "cannot be opened") +
            "; the outputs are: " + list_of(names);
    return false;
  }
  name = names[holding[0]];
  there = true;
  return true;
}

bool MidiOutput::open_own(const std::string &own_name, std::string &error) {
  if (!port.open_own(own_name, error)) {
    error += "; the outputs are: " + list_of(outputs());
    return false;
  }
  own = there = true;
  name = own_name;
  return true;
}

bool MidiOutput::send(const Message &message) {
  if (!there) {
    return false;
  }
  const bool on = turns_note_on(message);
  const bool off = turns_note_off(message);
  if ((on || off) && stale.test(note_slot(message))) {
    stale.reset(note_slot(message));
    if (on) {
      send_note_off(note_slot(message));
    }
  }
  if (!port.send(message.bytes, message.size)) {
    return false;
  }
  if (on) {
    sounding.set(note_slot(message));
  } else if (off) {
    sounding.reset(note_slot(message));
  }
  return true;
}

void MidiOutput::send_note_off(std::size_t slot) {
  const Message off = note_off(static_cast<int>(slot / 128) + 1, static_cast<int>(slot % 128));
  port.send(off.bytes, off.size);
}

void MidiOutput::turn_off(const Notes &notes) {
  for (std::size_t slot = 0; there && slot < notes.size(); ++slot) {
    if (notes.test(slot)) {
      send_note_off(slot);
    }
  }
}

void MidiOutput::release_notes() {
  turn_off(sounding | stale);
  sounding.reset();
  stale.reset();
}

// The system's MIDI started again (for a port of our own, the port made
// again), or the named port found again by its exact name.
bool MidiOutput::reopen() {
  std::string ignored;
  if (port.lost() && !port.start(ignored)) {
    return false;
  }
  if (own) {
    return port.open_own(name, ignored);
  }
  const std::vector<std::string> names = outputs();
  const auto found = std::find(names.begin(), names.end(), name);
  return found != names.end() && port.open(static_cast<std::size_t>(found - names.begin()));
}

MidiOutput::Change MidiOutput::check(std::int64_t now_us) {
  if (name.empty() || now_us - last_check_us < check_every_us) {
    return Change::none;
  }
  last_check_us = now_us;
  if (there && stale.any() && now_us >= release_at_us) {
    turn_off(stale);
    stale.reset();
  }
  if (there) {
    const bool gone = port.lost() || !port.is_open() || (!own && [&] {
                        const std::vector<std::string> names = outputs();
                        return std::find(names.begin(), names.end(), name) == names.end();
                      }());
    if (!gone) {
      return Change::none;
    }
    there = false;
    return Change::gone;
  }
  if (!reopen()) {
    return Change::none;
  }
  there = true;
  stale |= sounding;
  sounding.reset();
  release_at_us = now_us + settle_us;
  return Change::back;
}

} // namespace midi
