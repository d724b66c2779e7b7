// Records what the tap receives as a script the simulated ring plays again:
// "@SECONDS EVENT" per datagram of the bridge, and a comment with the bytes
// in hex for anything else, so nothing that arrived is lost. Each line goes
// to the operating system in one write as soon as it is made.
#pragma once

#include "tap/datagram_decoder.h"

#include <cstdint>
#include <string>

class Recorder {
public:
  Recorder() = default;
  ~Recorder();
  Recorder(const Recorder &) = delete;
  Recorder &operator=(const Recorder &) = delete;

  // Creates the file (an existing one only with `replace`) and writes its
  // heading; false with the reason in `error`.
  bool open(const std::string &path, bool replace, const std::string &listen, std::string &error);

  // False when the line could not be written; the first failure's reason is
  // in `error`, later ones leave it alone so it is said only once.
  bool record(std::int64_t microseconds, DatagramKind kind, const BridgeEvent &event,
              const unsigned char *bytes, std::size_t size, std::string &error);

  bool is_open() const { return file != -1; }

private:
  bool write_line(const std::string &line, std::string &error);

  int file = -1;
  bool failed_before = false;
};

// The line recorded for one datagram, with its line end.
std::string recording_line(std::int64_t microseconds, DatagramKind kind, const BridgeEvent &event,
                           const unsigned char *bytes, std::size_t size);
