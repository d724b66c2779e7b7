#include "tap/event_text.h"

#include "ring/ring_vocabulary.h"

#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <cstring>

std::string exact_float_text(std::uint32_t bits) {
  char text[32];
  if ((bits & 0x7F800000U) == 0x7F800000U && (bits & 0x007FFFFFU) != 0) {
    std::snprintf(text, sizeof text, "bits:%08" PRIX32, bits);
    return text;
  }
  float value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return {text, std::to_chars(text, text + sizeof text, value).ptr};
}

std::string argument_text(char type, std::uint32_t bits) {
  return type == 'f' ? exact_float_text(bits) : std::to_string(static_cast<std::int32_t>(bits));
}

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

std::string script_line(const BridgeEvent &e) {
  std::string line = std::to_string(e.event.kind);
  if (e.event.kind == event_kind::button) {
    line += " b_number=" + std::to_string(e.first_address - first_button_address);
  }
  for (int i = 0; i < e.address_count; ++i) {
    const BridgeAddress &a = bridge_addresses[e.first_address + i];
    line += std::string(" ") + a.field + "=" + argument_text(a.type, argument_bits(e, i));
  }
  return line;
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
