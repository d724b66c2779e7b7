#include "tap/live_view.h"

#include "ring/script_format.h"
#include "tap/event_text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

const char *const LiveView::enter = "\x1b[?25l\x1b[2J";
const char *const LiveView::leave = "\x1b[2J\x1b[H\x1b[?25h";

namespace {

constexpr int value_width = 16;
constexpr const char *levels[] = {"\u2581", "\u2582", "\u2583", "\u2584",
                                  "\u2585", "\u2586", "\u2587", "\u2588"};

std::string value_text(char type, std::uint32_t bits) {
  const std::string text = argument_text(type, bits);
  return text.rfind("bits:", 0) == 0 ? "NaN" : text;
}

// A value the view computed (a smallest or largest) back in the argument's type.
std::string range_text(char type, double value) {
  if (type == 'i') {
    return std::to_string(static_cast<std::int32_t>(value));
  }
  const auto single = static_cast<float>(value);
  std::uint32_t bits = 0;
  std::memcpy(&bits, &single, sizeof bits);
  return exact_float_text(bits);
}

std::string padded(std::string text, std::size_t width) {
  text.resize(std::max(text.size(), width), ' ');
  return text;
}

// The latest values, oldest first, each as one of eight heights scaled to the
// address's own range; NaN leaves a gap.
std::string sparkline(const AddressStats &a, int width) {
  const auto held = static_cast<int>(std::min<std::uint64_t>(
      a.messages, static_cast<std::uint64_t>(AddressStats::history_length)));
  const int shown = std::min(held, width);
  std::string line;
  for (int i = held - shown; i < held; ++i) {
    const int slot =
        (a.next - held + i + 2 * AddressStats::history_length) % AddressStats::history_length;
    const double v = a.history[slot];
    if (std::isnan(v)) {
      line += ' ';
      continue;
    }
    int level = 3;
    if (v >= a.high && a.high > a.low) {
      level = 7;
    } else if (v <= a.low && a.high > a.low) {
      level = 0;
    } else if (std::isfinite(a.high - a.low) && a.high > a.low) {
      level = static_cast<int>((v - a.low) / (a.high - a.low) * 7.999);
    }
    line += levels[level];
  }
  return line;
}

// Cuts an ASCII line to the terminal's width.
std::string fitted(std::string line, int columns) {
  if (line.size() > static_cast<std::size_t>(columns)) {
    line.resize(static_cast<std::size_t>(columns));
  }
  return line;
}

std::string seconds_ago(std::int64_t microseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3f s ago", static_cast<double>(microseconds) / 1e6);
  return text;
}

} // namespace

double LiveView::rate(int index) const {
  const Sample &first = samples.front();
  const Sample &last = samples.back();
  if (last.time_us <= first.time_us) {
    return 0;
  }
  const std::uint64_t counted =
      index < 0 ? last.datagrams - first.datagrams : last.messages[index] - first.messages[index];
  return static_cast<double>(counted) * 1e6 / static_cast<double>(last.time_us - first.time_us);
}

std::string LiveView::frame(const TapStats &stats, std::int64_t now_us, int columns, int rows) {
  Sample sample{now_us, stats.datagrams, {}};
  for (int i = 0; i < bridge_address_count; ++i) {
    sample.messages[i] = stats.addresses[i].messages;
  }
  samples.push_back(sample);
  while (samples.size() > 2 && now_us - samples[1].time_us >= 1000000) {
    samples.pop_front();
  }

  std::vector<std::string> lines;
  std::string title = "ring2osc-tap  listening on " + listen;
  if (!record_path.empty()) {
    title += "  recording " + record_path + ": " + std::to_string(stats.recorded) + " lines, " +
             std::to_string(stats.record_failures) + " lost";
  }
  lines.push_back(fitted(title, columns));
  // Destinations fill as many lines as the width needs.
  std::string forwards = "sending";
  if (stats.destinations.empty()) {
    forwards += "  none";
  }
  for (const DestinationStats &d : stats.destinations) {
    std::string entry =
        "  " + d.name + (d.map ? " " + std::to_string(d.forwarded) + " sent " : " ") +
        std::to_string(d.failed) + " failed" +
        (d.map ? " " + std::to_string(d.not_finite) + " not finite" : std::string()) +
        (d.port_there ? "" : " port gone");
    for (const MapEngine::Centre &c : d.centres) {
      char centre[32];
      std::snprintf(centre, sizeof centre, " %.1f", c.centre);
      entry += c.set ? std::string(" zeroed ") + bridge_addresses[c.address].address + centre : "";
    }
    if (forwards.size() + entry.size() > static_cast<std::size_t>(columns)) {
      lines.push_back(fitted(forwards, columns));
      forwards = "       ";
    }
    forwards += entry;
  }
  lines.push_back(fitted(forwards, columns));
  // An edit of a map that was refused, until the file is mended.
  constexpr std::size_t mistakes_shown = 4;
  for (std::size_t i = 0; i < stats.map_mistakes.size() && i < mistakes_shown; ++i) {
    lines.push_back(fitted("  " + stats.map_mistakes[i], columns));
  }
  if (stats.map_mistakes.size() > mistakes_shown) {
    lines.push_back(fitted("  and " + std::to_string(stats.map_mistakes.size() - mistakes_shown) +
                               " more mistakes: see standard error",
                           columns));
  }
  char rate_text[32];
  std::snprintf(rate_text, sizeof rate_text, "%.1f/s", rate(-1));
  lines.push_back(fitted(
      "received " + std::to_string(stats.datagrams) + " datagrams  " + std::to_string(stats.bytes) +
          " bytes  " + rate_text + "  malformed " + std::to_string(stats.malformed) + "  foreign " +
          std::to_string(stats.foreign) + "  last " +
          (stats.last_arrival_us < 0 ? std::string("never")
                                     : seconds_ago(now_us - stats.last_arrival_us)) +
          "  output lines dropped " + std::to_string(stats.dropped_lines),
      columns));
  std::string losses =
      "dropped by the system " +
      (stats.drops_known ? std::to_string(stats.system_dropped) : std::string("(not known here)"));
  if (stats.web) {
    losses += "  page " + web_page + " web clients " + std::to_string(stats.web_clients) + ", " +
              std::to_string(stats.web_dropped) + " messages dropped for slow ones";
  }
  lines.push_back(fitted(losses, columns));
  // A line of its own: beside the page's it would be cut at 132 columns.
  if (stats.oscquery) {
    lines.push_back(fitted("oscquery " + oscquery + " clients " +
                               std::to_string(stats.oscquery_counts.clients) + ", " +
                               std::to_string(stats.oscquery_counts.dropped) + " dropped",
                           columns));
  }
  lines.emplace_back();
  lines.push_back(fitted(padded("addr", 7) + padded("latest", value_width + 1) + "   msg/s " +
                             padded("min", value_width + 1) + padded("max", value_width + 1) +
                             "recent",
                         columns));

  std::vector<int> seen;
  for (int i = 0; i < bridge_address_count; ++i) {
    if (stats.addresses[i].messages != 0) {
      seen.push_back(i);
    }
  }
  const int room = rows - static_cast<int>(lines.size());
  const int shown =
      static_cast<int>(seen.size()) <= room ? static_cast<int>(seen.size()) : std::max(room - 1, 0);
  for (int n = 0; n < shown; ++n) {
    const int i = seen[static_cast<std::size_t>(n)];
    const AddressStats &a = stats.addresses[i];
    const char type = bridge_addresses[i].type;
    char per_second[16];
    std::snprintf(per_second, sizeof per_second, "%8.1f ", rate(i));
    std::string line = padded(bridge_addresses[i].address, 7) +
                       padded(value_text(type, a.latest), value_width + 1) + per_second +
                       padded(a.has_range ? range_text(type, a.low) : "-", value_width + 1) +
                       padded(a.has_range ? range_text(type, a.high) : "-", value_width + 1);
    line = fitted(line, columns);
    lines.push_back(line + sparkline(a, columns - static_cast<int>(line.size())));
  }
  if (shown < static_cast<int>(seen.size()) && room > 0) {
    lines.push_back(fitted(std::to_string(seen.size() - static_cast<std::size_t>(shown)) +
                               " more rows hidden: enlarge the terminal",
                           columns));
  }
  if (lines.size() > static_cast<std::size_t>(rows)) {
    lines.resize(static_cast<std::size_t>(std::max(rows, 0)));
  }

  // Home, then every line overwritten and cleared to its end; no line end
  // after the last, so the screen never scrolls.
  std::string out = "\x1b[H";
  for (std::size_t i = 0; i < lines.size(); ++i) {
    out += lines[i] + "\x1b[K" + (i + 1 < lines.size() ? "\r\n" : "");
  }
  return out + "\x1b[J";
}
