#include "ring/script_format.h"

#include "ring/bridge_addresses.h"
#include "ring/ring_vocabulary.h"

#include <cerrno>
#include <charconv>
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

enum class FieldType { integer, real };

struct Field {
  FieldType type;
  std::size_t offset;
};

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f'; }

std::vector<std::string> split_tokens(const std::string &line) {
  std::vector<std::string> tokens;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && is_blank(line[i])) {
      ++i;
    }
    const std::size_t start = i;
    while (i < line.size() && !is_blank(line[i])) {
      ++i;
    }
    if (i > start) {
      tokens.push_back(line.substr(start, i - start));
    }
  }
  return tokens;
}

// Quotes a token for a message, shortened so a hostile line cannot flood
// standard error.
std::string quoted(const std::string &token) {
  constexpr std::size_t shown = 40;
  std::string text = token.size() > shown ? token.substr(0, shown) + "..." : token;
  for (char &c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7F) {
      c = '?';
    }
  }
  return "\"" + text + "\"";
}

enum class NumberStatus { ok, bad, out_of_range };

// The whole token must be the number: strtol and strtof stop at the first
// character they cannot use, and at an embedded NUL.
NumberStatus parse_int32(const std::string &token, std::int32_t &value) {
  if (token.empty()) {
    return NumberStatus::bad;
  }
  char *end = nullptr;
  errno = 0;
  const long long parsed = std::strtoll(token.c_str(), &end, 10);
  if (end != token.c_str() + token.size()) {
    return NumberStatus::bad;
  }
  if (errno == ERANGE || parsed < INT32_MIN || parsed > INT32_MAX) {
    return NumberStatus::out_of_range;
  }
  value = static_cast<std::int32_t>(parsed);
  return NumberStatus::ok;
}

// A float field's IEEE 754 bit pattern, from what strtof reads or from
// "bits:HHHHHHHH" (exactly eight hex digits), which can also spell a
// signalling NaN. The pattern is kept as an integer so that no floating-point
// load can quiet such a NaN on its way into the record.
NumberStatus parse_float_bits(const std::string &token, std::uint32_t &bits) {
  const std::string prefix = "bits:";
  if (token.rfind(prefix, 0) == 0) {
    const std::string hex = token.substr(prefix.size());
    if (hex.size() != 8 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
      return NumberStatus::bad;
    }
    bits = static_cast<std::uint32_t>(std::strtoul(hex.c_str(), nullptr, 16));
    return NumberStatus::ok;
  }
  if (token.empty()) {
    return NumberStatus::bad;
  }
  char *end = nullptr;
  errno = 0;
  const float parsed = std::strtof(token.c_str(), &end);
  if (end != token.c_str() + token.size()) {
    return NumberStatus::bad;
  }
  // Underflow still yields the nearest float, which is what was meant;
  // overflow yields an infinity nobody wrote.
  if (errno == ERANGE && std::isinf(parsed)) {
    return NumberStatus::out_of_range;
  }
  std::memcpy(&bits, &parsed, sizeof bits);
  return NumberStatus::ok;
}

// A script names the fields the bridge sends, and b_number, which picks a
// button's address instead of being sent.
bool find_field(const std::string &name, Field &field) {
  if (name == "b_number") {
    field = {FieldType::real, offsetof(RingEvent, b_number)};
    return true;
  }
  for (const BridgeAddress &a : bridge_addresses) {
    if (name == a.field) {
      field = {a.type == 'i' ? FieldType::integer : FieldType::real, a.offset};
      return true;
    }
  }
  return false;
}

bool parse_assignment(const std::string &token, RingEvent &event, std::string &reason) {
  const std::size_t equals = token.find('=');
  if (equals == std::string::npos) {
    reason = "expected FIELD=VALUE, got " + quoted(token);
    return false;
  }
  const std::string name = token.substr(0, equals);
  const std::string text = token.substr(equals + 1);
  Field field{};
  if (!find_field(name, field)) {
    reason = "unknown field " + quoted(name);
    return false;
  }
  if (text.empty()) {
    reason = "missing value for " + name;
    return false;
  }
  unsigned char *slot = reinterpret_cast<unsigned char *>(&event) + field.offset;
  NumberStatus status = NumberStatus::bad;
  if (field.type == FieldType::integer) {
    std::int32_t value = 0;
    status = parse_int32(text, value);
    if (status == NumberStatus::ok) {
      std::memcpy(slot, &value, sizeof value);
    }
  } else {
    std::uint32_t bits = 0;
    status = parse_float_bits(text, bits);
    if (status == NumberStatus::ok) {
      std::memcpy(slot, &bits, sizeof bits);
    }
  }
  if (status == NumberStatus::bad) {
    reason = "bad number for " + name + ": " + quoted(text);
  } else if (status == NumberStatus::out_of_range) {
    reason = "number out of range for " + name + ": " + quoted(text);
  }
  return status == NumberStatus::ok;
}

// "@SECONDS": decimal seconds with at most six places, up to a million
// seconds, as microseconds.
bool parse_time(const std::string &token, std::int64_t &at_us) {
  constexpr std::int64_t max_seconds = 1000000;
  const std::size_t point = token.find('.');
  const std::string whole = token.substr(1, point == std::string::npos ? point : point - 1);
  const std::string places = point == std::string::npos ? "" : token.substr(point + 1);
  const auto digits = [](const std::string &text) {
    return text.find_first_not_of("0123456789") == std::string::npos;
  };
  if (whole.empty() || whole.size() > 7 || !digits(whole) || places.size() > 6 || !digits(places) ||
      (point != std::string::npos && places.empty())) {
    return false;
  }
  const std::int64_t seconds = std::stoll(whole);
  at_us = seconds * 1000000 + (places.empty() ? 0 : std::stoll((places + "00000").substr(0, 6)));
  return seconds <= max_seconds;
}

} // namespace

ScriptLine parse_script_line(const std::string &line, RingEvent &event, std::string &reason,
                             std::int64_t *at_us) {
  const std::vector<std::string> tokens = split_tokens(line);
  if (tokens.empty() || tokens.front()[0] == '#') {
    return ScriptLine::nothing;
  }
  std::int64_t time = -1;
  std::size_t first = 0;
  if (tokens.front()[0] == '@') {
    if (!parse_time(tokens.front(), time)) {
      reason = "bad time " + quoted(tokens.front()) + ": @SECONDS, at most 6 decimals";
      return ScriptLine::malformed;
    }
    if (tokens.size() == 1) {
      reason = "no event after the time";
      return ScriptLine::malformed;
    }
    first = 1;
  }
  RingEvent parsed{};
  switch (parse_int32(tokens[first], parsed.kind)) {
  case NumberStatus::bad:
    reason = "bad kind " + quoted(tokens[first]);
    return ScriptLine::malformed;
  case NumberStatus::out_of_range:
    reason = "kind out of range " + quoted(tokens[first]);
    return ScriptLine::malformed;
  case NumberStatus::ok:
    break;
  }
  for (std::size_t i = first + 1; i < tokens.size(); ++i) {
    if (!parse_assignment(tokens[i], parsed, reason)) {
      return ScriptLine::malformed;
    }
  }
  event = parsed;
  if (at_us != nullptr) {
    *at_us = time;
  }
  return ScriptLine::event;
}

std::string script_line(const RingEvent &event) {
  std::string line = std::to_string(event.kind);
  const auto *record = reinterpret_cast<const unsigned char *>(&event);
  for (int i = 0; i < bridge_address_count; ++i) {
    const BridgeAddress &a = bridge_addresses[i];
    const bool button = a.kind == event_kind::button;
    if (a.kind != event.kind ||
        (button && event.b_number != static_cast<float>(i - first_button_address))) {
      continue;
    }
    if (button) {
      line += " b_number=" + std::to_string(i - first_button_address);
    }
    std::uint32_t bits = 0;
    std::memcpy(&bits, record + a.offset, sizeof bits);
    line += std::string(" ") + a.field + "=" + argument_text(a.type, bits);
  }
  return line;
}

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
