#include "tap/status_json.h"

#include "tap/json_text.h"

#include <cmath>
#include <cstdio>

namespace {

// JSON has no infinities: they go as strings, which the page's Number() reads.
std::string number(double value) {
  if (std::isinf(value)) {
    return value > 0 ? "\"Infinity\"" : "\"-Infinity\"";
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", value);
  return text;
}

std::string field(const char *name, std::uint64_t value) {
  return std::string("\"") + name + "\":" + std::to_string(value);
}

} // namespace

std::string status_json(const TapStats &stats, const StatusExtras &extras, std::int64_t now_us) {
  std::string json =
      "{\"listen\":" + json_string(extras.listen) + "," + field("datagrams", stats.datagrams) +
      "," + field("bytes", stats.bytes) + "," + field("malformed", stats.malformed) + "," +
      field("foreign", stats.foreign) + "," +
      (stats.drops_known ? field("system_dropped", stats.system_dropped)
                         : std::string("\"system_dropped\":null")) +
      ",\"since_last_us\":" +
      std::to_string(stats.last_arrival_us < 0 ? -1 : now_us - stats.last_arrival_us) +
      ",\"destinations\":[";
  for (std::size_t i = 0; i < stats.destinations.size(); ++i) {
    const DestinationStats &d = stats.destinations[i];
    json += std::string(i == 0 ? "" : ",") + "{\"name\":" + json_string(d.name) + "," +
            field("forwarded", d.forwarded) + "," + field("failed", d.failed) +
            (d.map ? "," + field("not_finite", d.not_finite) : std::string()) +
            (d.midi ? std::string(",\"port_there\":") + (d.port_there ? "true" : "false")
                    : std::string()) +
            "}";
  }
  json +=
      "],\"recording\":" + (extras.record_path.empty() ? "null" : json_string(extras.record_path)) +
      "," + field("recorded", stats.recorded) + "," + field("record_lost", stats.record_failures) +
      "," + field("web_clients", stats.web_clients) + "," + field("web_served", stats.web_served) +
      "," + field("web_dropped", stats.web_dropped) + ",\"oscquery\":" +
      (stats.oscquery ? "{" + field("clients", stats.oscquery_counts.clients) + "," +
                            field("served", stats.oscquery_counts.served) + "," +
                            field("dropped", stats.oscquery_counts.dropped) + "," +
                            field("ignored", stats.oscquery_counts.ignored) + "}"
                      : std::string("null")) +
      ",\"addresses\":[";
  bool first = true;
  for (int i = 0; i < bridge_address_count; ++i) {
    const AddressStats &a = stats.addresses[i];
    if (a.messages == 0) {
      continue;
    }
    json += std::string(first ? "" : ",") +
            "{\"address\":" + json_string(bridge_addresses[i].address) +
            ",\"type\":" + json_string(std::string(1, bridge_addresses[i].type)) + "," +
            field("bits", a.latest) + "," + field("messages", a.messages);
    if (a.has_range) {
      json += ",\"low\":" + number(a.low) + ",\"high\":" + number(a.high);
    }
    json += "}";
    first = false;
  }
  return json + "]}";
}
