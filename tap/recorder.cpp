#include "tap/recorder.h"

#include "platform/file.h"
#include "tap/event_text.h"

#include <ctime>

std::string recording_line(std::int64_t microseconds, DatagramKind kind, const BridgeEvent &event,
                           const unsigned char *bytes, std::size_t size) {
  const std::string time = "@" + seconds_text(microseconds);
  switch (kind) {
  case DatagramKind::bridge:
    return time + " " + script_line(event) + "\n";
  case DatagramKind::malformed:
    return "# " + time + " malformed " + hex_text(bytes, size) + "\n";
  case DatagramKind::foreign:
    break;
  }
  return "# " + time + " foreign " + hex_text(bytes, size) + "\n";
}

Recorder::~Recorder() {
  if (file != -1) {
    platform::close_file(file);
  }
}

bool Recorder::open(const std::string &path, bool replace, const std::string &listen,
                    std::string &error) {
  file = platform::create_file(path, replace, error);
  if (file == -1) {
    return false;
  }
  char started[32];
  const std::time_t now = std::time(nullptr);
  std::strftime(started, sizeof started, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  return write_line("# ring2osc-tap recording, started " + std::string(started) +
                        ", listening on " + listen + "\n",
                    error);
}

bool Recorder::record(std::int64_t microseconds, DatagramKind kind, const BridgeEvent &event,
                      const unsigned char *bytes, std::size_t size, std::string &error) {
  return write_line(recording_line(microseconds, kind, event, bytes, size), error);
}

bool Recorder::write_line(const std::string &line, std::string &error) {
  std::string reason;
  const long written = platform::write_file(file, line.data(), line.size(), reason);
  if (written == static_cast<long>(line.size())) {
    return true;
  }
  if (written >= 0) {
    reason = "disk full: line cut short";
  }
  if (!failed_before) {
    error = reason;
    failed_before = true;
  }
  return false;
}
