#include "tap/event_text.h"

#include "ring/script_format.h"

#include <cinttypes>
#include <cstdio>

std::string seconds_text(std::int64_t microseconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%" PRId64 ".%06" PRId64, microseconds / 1000000,
                microseconds % 1000000);
  return text;
}

std::string plain_lines(std::int64_t microseconds, const BridgeEvent &e) {
  const std::string time = seconds_text(microseconds);
  std::string lines;
  for (int i = 0; i < e.address_count; ++i) {
    const BridgeAddress &a = bridge_addresses[e.first_address + i];
    lines +=
        time + " " + a.address + " " + a.type + " " + argument_text(a.type, argument_bits(e, i));
    lines += '\n';
  }
  return lines;
}

std::string hex_text(const unsigned char *bytes, std::size_t size) {
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(2 * size);
  for (std::size_t i = 0; i < size; ++i) {
    text += digits[bytes[i] >> 4U];
    text += digits[bytes[i] & 15U];
  }
  return text;
}
