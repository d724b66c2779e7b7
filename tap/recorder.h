// Records what the tap receives as a script the simulated ring plays again:
// "@SECONDS EVENT" per datagram of the bridge, and a comment with the bytes
// in hex for anything else, so nothing that arrived is lost. Lines are
// written on a thread of their own, each in one write as soon as that thread
// has it, so that a slow disk never holds up the datagrams: what does not
// fit its queue is dropped and counted. A line cut short (a full disk) is
// taken back out of the file, so every line in it is whole.
#pragma once

#include "tap/datagram_decoder.h"
#include "tap/queued_output.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

class Recorder {
public:
  // Room for a few seconds of a stalled disk at 10,000 datagrams a second.
  static constexpr std::size_t queue_limit = std::size_t{8} << 20; // bytes

  Recorder() = default;
  ~Recorder();
  Recorder(const Recorder &) = delete;
  Recorder &operator=(const Recorder &) = delete;

  // Creates the file (an existing one only with `replace`) and writes its
  // heading; false with the reason in `error`.
  bool open(const std::string &path, bool replace, const std::string &listen, std::string &error);

  // Queues the line for one datagram. Problems are said once each, from the
  // writing thread.
  void record(std::int64_t microseconds, DatagramKind kind, const BridgeEvent &event,
              const unsigned char *bytes, std::size_t size);

  // Writes out what is queued; false when the writing stays blocked past a
  // second (see QueuedOutput::finish).
  bool finish();

  bool is_open() const { return file != -1; }
  std::uint64_t recorded() const { return recorded_lines; }
  std::uint64_t lost() const { return lost_lines; }

private:
  void write_lines(const std::string &lines);
  bool write_line(const char *line, std::size_t size, std::string &reason);

  std::string path;
  int file = -1;
  std::int64_t whole_bytes = 0; // the file's length up to its last whole line
  bool cut_failed = false;      // a fragment stays: the next line starts anew
  bool said_failure = false;
  std::atomic<bool> overflowed{false};
  std::atomic<std::uint64_t> recorded_lines{0};
  std::atomic<std::uint64_t> lost_lines{0};
  std::unique_ptr<QueuedOutput> output;
};

// The line recorded for one datagram, with its line end.
std::string recording_line(std::int64_t microseconds, DatagramKind kind, const BridgeEvent &event,
                           const unsigned char *bytes, std::size_t size);
