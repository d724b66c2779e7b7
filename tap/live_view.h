// The live view: one screen, drawn whole in one write and redrawn in place,
// never scrolling. Rates are taken over the last second of frames.
#pragma once

#include "tap/tap_stats.h"

#include <cstdint>
#include <deque>
#include <string>

class LiveView {
public:
  // `web_page`: the monitor page's address, empty without --web; the same
  // for the OSCQuery server's.
  LiveView(std::string listen, std::string record_path, std::string web_page = {},
           std::string oscquery = {})
      : listen(std::move(listen)), record_path(std::move(record_path)),
        web_page(std::move(web_page)), oscquery(std::move(oscquery)) {}
  LiveView(const LiveView &) = delete;
  LiveView &operator=(const LiveView &) = delete;

  // The frame for a terminal of `columns` x `rows`, at `now_us` on the
  // stats' clock. Lines are cut to the width; rows that do not fit are
  // counted in the last line.
  std::string frame(const TapStats &stats, std::int64_t now_us, int columns, int rows);

  // Hides the cursor and clears the screen; and the way back.
  static const char *const enter;
  static const char *const leave;

private:
  struct Sample {
    std::int64_t time_us;
    std::uint64_t datagrams;
    std::uint64_t messages[bridge_address_count];
  };
  // messages per second of address `index` (-1: datagrams) over the samples.
  double rate(int index) const;

  std::string listen;
  std::string record_path;
  std::string web_page;
  std::string oscquery;
  std::deque<Sample> samples;
};
