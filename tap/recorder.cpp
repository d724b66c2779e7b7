#include "tap/recorder.h"

#include "platform/file.h"
#include "ring/script_format.h"
#include "tap/event_text.h"
#include "tap/say.h"

#include <ctime>

std::string recording_line(std::int64_t microseconds, DatagramKind kind, const BridgeEvent &event,
                           const unsigned char *bytes, std::size_t size) {
  const std::string time = "@" + seconds_text(microseconds);
  switch (kind) {
  case DatagramKind::bridge:
    return time + " " + script_line(event.event) + "\n";
  case DatagramKind::malformed:
    return "# " + time + " malformed " + hex_text(bytes, size) + "\n";
  case DatagramKind::foreign:
    break;
  }
  return "# " + time + " foreign " + hex_text(bytes, size) + "\n";
}

Recorder::~Recorder() {
  if (output && !output->finish()) {
    return; // its thread still writes to the file
  }
  if (file != -1) {
    platform::close_file(file);
  }
}

bool Recorder::open(const std::string &file_path, bool replace, const std::string &listen,
                    std::string &error) {
  path = file_path;
  file = platform::create_file(path, replace, error);
  if (file == -1) {
    return false;
  }
  char started[32];
  const std::time_t now = std::time(nullptr);
  std::strftime(started, sizeof started, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&now));
  const std::string heading = "# ring2osc-tap recording, started " + std::string(started) +
                              ", listening on " + listen + "\n";
  if (!write_line(heading.data(), heading.size(), error)) {
    return false;
  }
  output = std::make_unique<QueuedOutput>(queue_limit,
                                          [this](const std::string &lines) { write_lines(lines); });
  return true;
}

void Recorder::record(std::int64_t microseconds, DatagramKind kind, const BridgeEvent &event,
                      const unsigned char *bytes, std::size_t size) {
  if (!output->push(recording_line(microseconds, kind, event, bytes, size))) {
    ++lost_lines;
    overflowed = true;
  }
}

bool Recorder::finish() { return output->finish(); }

void Recorder::write_lines(const std::string &lines) {
  if (overflowed.exchange(false) && !said_failure) {
    said_failure = true;
    say(path + ": writing falls behind; lines that do not fit the queue are dropped and counted");
  }
  for (std::size_t start = 0; start < lines.size();) {
    const std::size_t end = lines.find('\n', start) + 1;
    std::string reason;
    if (write_line(lines.data() + start, end - start, reason)) {
      ++recorded_lines;
    } else {
      ++lost_lines;
      if (!said_failure) {
        said_failure = true;
        say(path + ": " + reason + "; lines that cannot be written are counted");
      }
    }
    start = end;
  }
}

bool Recorder::write_line(const char *line, std::size_t size, std::string &reason) {
  std::string text(cut_failed ? "\n" : "");
  text.append(line, size);
  const long written = platform::write_file(file, text.data(), text.size(), reason);
  if (written == static_cast<long>(text.size())) {
    whole_bytes += written;
    cut_failed = false;
    return true;
  }
  if (written > 0) {
    reason = "disk full: line cut short";
    // A fragment glued to the next line would hide it on replay.
    cut_failed = !platform::cut_file(file, whole_bytes);
    whole_bytes += cut_failed ? written : 0;
  } else if (written == 0) {
    reason = "disk full";
  }
  return false;
}
