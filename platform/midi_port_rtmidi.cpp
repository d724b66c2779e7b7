// Linux: RtMidi, the ALSA sequencer first, then JACK. A JACK server can end
// and start again while the tap runs: a client of our own without ports
// hears it end, and the port is made again on the new server.
#if !defined(_WIN32) && !defined(RING2OSC_NO_MIDI)

#include "platform/console.h"
#include "platform/midi_port.h"

#include <jack/jack.h>
#include <rtmidi/RtMidi.h>

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

// The ALSA library writes its own complaints to standard error while it
// looks for a sequencer; the tap says in one line what they mean.
class QuietStandardError {
public:
  QuietStandardError() : saved(dup(2)) {
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
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

// JACK's library prints every failed call ("Cannot read socket"); the tap
// says what they mean.
extern "C" void quiet_jack(const char * /*text*/) {}

} // namespace

struct MidiPort::System {
  std::unique_ptr<RtMidiOut> out;
  std::string api;
  bool failed = false; // an error since the last look
  bool open = false;
  // A client of our own per server, and whether that server ended.
  jack_client_t *watch = nullptr;
  std::atomic<bool> server_ended_{false};
  // The clients of an ended server close on a thread of their own (RtMidi
  // waits a second for a cycle that never comes); a new server's are made
  // only once they have, as libjack shares state between the clients of a
  // process and closing one then would take it from the new.
  std::shared_ptr<std::atomic<bool>> closing;

  static void on_error(RtMidiError::Type /*type*/, const std::string & /*text*/, void *self) {
    static_cast<System *>(self)->failed = true;
  }
  static void on_server_end(void *self) { static_cast<System *>(self)->server_ended_ = true; }
  // On JACK: the server ended, or none has answered since.
  bool server_ended() const { return api == "JACK" && (watch == nullptr || server_ended_); }

  // Takes RtMidi's error reports from now on: false when connecting failed.
  bool adopt(std::unique_ptr<RtMidiOut> candidate) {
    failed = false;
    candidate->setErrorCallback(&System::on_error, this);
    candidate->getPortCount(); // connects to JACK's server, or says there is none
    if (failed) {
      return false;
    }
    out = std::move(candidate);
    return true;
  }

  // Looks for a JACK server through a client of our own, which is told when
  // the server ends; RtMidi's is made only once one answers, as RtMidi says
  // on standard error when none does.
  bool start_jack() {
    watch = jack_client_open("ring2osc-watch", JackNoStartServer, nullptr);
    if (watch == nullptr) {
      return false;
    }
    server_ended_ = false;
    jack_on_shutdown(watch, &System::on_server_end, this);
    if (jack_activate(watch) != 0 ||
        !adopt(std::make_unique<RtMidiOut>(RtMidi::UNIX_JACK, "ring2osc"))) {
      jack_client_close(watch);
      watch = nullptr;
      return false;
    }
    return true;
  }

  // Lets the clients of an ended server go; true once they have closed.
  bool let_go() {
    open = false;
    if (out || watch != nullptr) {
      closing = std::make_shared<std::atomic<bool>>(false);
      std::shared_ptr<RtMidiOut> old = std::move(out);
      jack_client_t *old_watch = watch;
      watch = nullptr;
      start_thread([old, old_watch, done = closing]() mutable {
        old.reset();
        if (old_watch != nullptr) {
          jack_client_close(old_watch);
        }
        *done = true;
      }).detach();
    }
    return !closing || *closing;
  }
};

MidiPort::MidiPort() : system_(std::make_unique<System>()) {}

MidiPort::~MidiPort() {
  if (system_->server_ended()) {
    system_->let_go();
  } else if (system_->watch != nullptr) {
    jack_client_close(system_->watch);
  }
}

bool MidiPort::start(std::string &error) {
  // Look for a JACK server, never start one.
  setenv("JACK_NO_START_SERVER", "1", 0);
  jack_set_error_function(&quiet_jack);
  jack_set_info_function(&quiet_jack);
  if (system_->api == "JACK") {
    // Lost: the same system again, without hiding standard error, which
    // the tap's other threads may be writing to by now.
    if (system_->let_go() && system_->start_jack()) {
      return true;
    }
    error = "no JACK server is running";
    return false;
  }
  const QuietStandardError quiet;
  try {
    if (system_->adopt(std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, "ring2osc"))) {
      system_->api = "ALSA";
      return true;
    }
  } catch (const RtMidiError &) {
    // No sequencer: JACK next.
  }
  try {
    if (system_->start_jack()) {
      system_->api = "JACK";
      return true;
    }
  } catch (const RtMidiError &) {
    // Neither.
  }
  error = "no MIDI here: neither the ALSA sequencer nor a JACK server is running";
  return false;
}

std::string MidiPort::system() const { return system_->api; }

std::vector<std::string> MidiPort::outputs() {
  std::vector<std::string> names;
  if (!system_->out || lost()) {
    return names;
  }
  const unsigned count = system_->out->getPortCount();
  for (unsigned i = 0; i < count; ++i) {
    names.push_back(system_->out->getPortName(i));
  }
  return names;
}

bool MidiPort::open(std::size_t index) {
  if (!system_->out) {
    return false;
  }
  system_->out->closePort();
  system_->failed = false;
  system_->out->openPort(static_cast<unsigned>(index), "ring2osc");
  system_->open = !system_->failed;
  return system_->open;
}

bool MidiPort::open_own(const std::string &name, std::string &error) {
  system_->failed = false;
  if (system_->out) {
    system_->out->openVirtualPort(name);
  }
  if (!system_->out || system_->failed) {
    error = "cannot make a MIDI port of the tap's own through " + system_->api;
    return false;
  }
  system_->open = true;
  return true;
}

bool MidiPort::is_open() const { return system_->open && !lost(); }

bool MidiPort::send(const unsigned char *bytes, std::size_t size) {
  if (!is_open()) {
    return false;
  }
  system_->failed = false;
  system_->out->sendMessage(bytes, size);
  return !system_->failed;
}

bool MidiPort::lost() const { return system_->server_ended(); }

} // namespace platform

#endif
