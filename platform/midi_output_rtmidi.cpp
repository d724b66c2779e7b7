// Linux: RtMidi, the ALSA sequencer first, then JACK.
#ifndef _WIN32

#include "platform/midi_output.h"

#include <rtmidi/RtMidi.h>

#include <algorithm>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace platform {

namespace {

// The ALSA and JACK libraries write their own complaints to standard error
// while they look for a server; the tap says in one line what they mean.
class QuietStandardError {
public:
  QuietStandardError() : saved(dup(2)) {
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0) {
      dup2(null, 2);
      close(null);
    }
  }
  ~QuietStandardError() {
    if (saved >= 0) {
      dup2(saved, 2);
      close(saved);
    }
  }
  QuietStandardError(const QuietStandardError &) = delete;
  QuietStandardError &operator=(const QuietStandardError &) = delete;

private:
  int saved;
};

} // namespace

struct MidiOutput::System {
  std::unique_ptr<RtMidiOut> out;
  std::string api;
  bool failed = false; // an error since the last look

  static void on_error(RtMidiError::Type /*type*/, const std::string & /*text*/, void *self) {
    static_cast<System *>(self)->failed = true;
  }
};

MidiOutput::MidiOutput() : system_(std::make_unique<System>()) {}
MidiOutput::~MidiOutput() = default;

bool MidiOutput::start(std::string &error) {
  const QuietStandardError quiet;
  // Look for a JACK server, never start one.
  setenv("JACK_NO_START_SERVER", "1", 0);
  for (const auto &[api, label] :
       {std::pair{RtMidi::LINUX_ALSA, "ALSA"}, {RtMidi::UNIX_JACK, "JACK"}}) {
    try {
      auto out = std::make_unique<RtMidiOut>(api, "ring2osc");
      system_->failed = false;
      out->setErrorCallback(&System::on_error, system_.get());
      out->getPortCount(); // connects to JACK's server, or says there is none
      if (!system_->failed) {
        system_->out = std::move(out);
        system_->api = label;
        return true;
      }
    } catch (const RtMidiError &) {
      // Not this one; the next.
    }
  }
  error = "no MIDI here: neither the ALSA sequencer nor a JACK server is running";
  return false;
}

std::string MidiOutput::system() const { return system_->api; }

std::vector<std::string> MidiOutput::outputs() {
  std::vector<std::string> names;
  const unsigned count = system_->out ? system_->out->getPortCount() : 0;
  for (unsigned i = 0; i < count; ++i) {
    names.push_back(system_->out->getPortName(i));
  }
  return names;
}

bool MidiOutput::open_index(std::size_t index) {
  system_->out->closePort();
  system_->failed = false;
  system_->out->openPort(static_cast<unsigned>(index), "ring2osc");
  return !system_->failed;
}

bool MidiOutput::open_own(const std::string &own_name, std::string &error) {
  system_->failed = false;
  system_->out->openVirtualPort(own_name);
  own = there = !system_->failed;
  name = own_name;
  if (!there) {
    error = "cannot make a MIDI port of the tap's own through " + system_->api;
  }
  return there;
}

bool MidiOutput::send(const unsigned char *bytes, std::size_t size) {
  if (!there) {
    return false;
  }
  system_->failed = false;
  system_->out->sendMessage(bytes, size);
  return !system_->failed;
}

MidiOutput::Change MidiOutput::check(std::int64_t now_us) {
  if (own || name.empty() || now_us - last_check_us < check_every_us) {
    return Change::none;
  }
  last_check_us = now_us;
  const std::vector<std::string> names = outputs();
  const auto found = std::find(names.begin(), names.end(), name);
  if (found == names.end()) {
    const bool was = there;
    there = false;
    return was ? Change::gone : Change::none;
  }
  if (!there) {
    there = open_index(static_cast<std::size_t>(found - names.begin()));
    return there ? Change::back : Change::none;
  }
  return Change::none;
}

} // namespace platform

#endif
