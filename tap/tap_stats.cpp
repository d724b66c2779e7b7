#include "tap/tap_stats.h"

#include <cmath>
#include <cstring>

std::int64_t TapStats::count_datagram(std::int64_t now_us, std::uint32_t size) {
  if (datagrams == 0) {
    first_arrival_us = now_us;
  }
  ++datagrams;
  bytes += size;
  last_arrival_us = now_us;
  return now_us - first_arrival_us;
}

void TapStats::count_event(const BridgeEvent &e) {
  for (int i = 0; i < e.address_count; ++i) {
    const int index = e.first_address + i;
    AddressStats &a = addresses[index];
    ++a.messages;
    a.latest = argument_bits(e, i);
    const double value = argument_value(bridge_addresses[index].type, a.latest);
    a.history[a.next] = value;
    a.next = (a.next + 1) % AddressStats::history_length;
    if (std::isnan(value)) {
      continue;
    }
    a.low = a.has_range && a.low < value ? a.low : value;
    a.high = a.has_range && a.high > value ? a.high : value;
    a.has_range = true;
  }
}
