#include "tap/datagram_decoder.h"

#include "bridge/event_messages.h"
#include "osc/osc_packet.h"

#include <cstdint>
#include <cstring>

namespace {

// Deeper nesting than this is counted as foreign rather than followed, so a
// hostile datagram cannot exhaust the stack.
constexpr int max_bundle_depth = 8;

enum class Form { well_formed, malformed, too_deep };

std::uint32_t read_big_endian(const unsigned char *at) {
  return static_cast<std::uint32_t>(at[0]) << 24U | static_cast<std::uint32_t>(at[1]) << 16U |
         static_cast<std::uint32_t>(at[2]) << 8U | static_cast<std::uint32_t>(at[3]);
}

// The padded length of the string at `at`, or 0 when it has no NUL before `end`.
std::size_t padded_string(const unsigned char *at, const unsigned char *end) {
  const void *nul = std::memchr(at, 0, static_cast<std::size_t>(end - at));
  if (nul == nullptr) {
    return 0;
  }
  const auto length = static_cast<std::size_t>(static_cast<const unsigned char *>(nul) - at);
  const std::size_t padded = (length + 4) & ~std::size_t{3};
  return padded <= static_cast<std::size_t>(end - at) ? padded : 0;
}

// How many bytes an argument of type `tag` takes at `at`, or -1 when it runs
// past `end`; unknown tags cannot be measured.
constexpr long runs_past = -1;
constexpr long unknown_tag = -2;
long argument_size(char tag, const unsigned char *at, const unsigned char *end) {
  const auto left = static_cast<std::size_t>(end - at);
  switch (tag) {
  case 'i':
  case 'f':
  case 'c':
  case 'r':
  case 'm':
    return left >= 4 ? 4 : runs_past;
  case 'h':
  case 't':
  case 'd':
    return left >= 8 ? 8 : runs_past;
  case 's':
  case 'S': {
    const std::size_t padded = padded_string(at, end);
    return padded != 0 ? static_cast<long>(padded) : runs_past;
  }
  case 'b': {
    if (left < 4) {
      return runs_past;
    }
    const std::size_t padded = round_up_4(read_big_endian(at));
    return padded <= left - 4 && read_big_endian(at) <= left ? static_cast<long>(4 + padded)
                                                             : runs_past;
  }
  case 'T':
  case 'F':
  case 'N':
  case 'I':
  case '[':
  case ']':
    return 0;
  default:
    return unknown_tag;
  }
}

Form check_message(const unsigned char *at, const unsigned char *end) {
  const std::size_t address = padded_string(at, end);
  if (address == 0) {
    return Form::malformed;
  }
  at += address;
  // A message without a type-tag string is old but valid OSC.
  if (at == end) {
    return Form::well_formed;
  }
  if (*at != ',') {
    return Form::malformed;
  }
  const std::size_t tags = padded_string(at, end);
  if (tags == 0) {
    return Form::malformed;
  }
  const unsigned char *arguments = at + tags;
  for (const unsigned char *tag = at + 1; *tag != 0; ++tag) {
    const long size = argument_size(static_cast<char>(*tag), arguments, end);
    if (size == unknown_tag) {
      return Form::well_formed;
    }
    if (size == runs_past) {
      return Form::malformed;
    }
    arguments += size;
  }
  return arguments == end ? Form::well_formed : Form::malformed;
}

bool is_bundle(const unsigned char *at, std::size_t size) {
  return size >= 16 && std::memcmp(at, "#bundle", 8) == 0;
}

Form check_packet(const unsigned char *at, std::size_t size, int depth) {
  if (size == 0 || (size & 3U) != 0) {
    return Form::malformed;
  }
  if (at[0] == '/') {
    return check_message(at, at + size);
  }
  if (!is_bundle(at, size)) {
    return Form::malformed;
  }
  if (depth == max_bundle_depth) {
    return Form::too_deep;
  }
  Form form = Form::well_formed;
  for (std::size_t offset = 16; offset < size;) {
    if (size - offset < 4) {
      return Form::malformed;
    }
    const std::uint32_t element = read_big_endian(at + offset);
    offset += 4;
    if (element > size - offset) {
      return Form::malformed;
    }
    const Form inner = check_packet(at + offset, element, depth + 1);
    if (inner == Form::malformed) {
      return inner;
    }
    form = inner == Form::too_deep ? inner : form;
    offset += element;
  }
  return form;
}

// The bridge's bundle: time tag 1, then 20-byte elements, each one message
// with one argument. Fills `event` from the messages when they form one row
// of the bridge's table.
bool read_bridge_event(const unsigned char *at, std::size_t size, BridgeEvent &out) {
  if (!is_bundle(at, size) || read_big_endian(at + 8) != 0 || read_big_endian(at + 12) != 1) {
    return false;
  }
  BridgeEvent e{};
  e.event.kind = -1;
  for (std::size_t offset = 16; offset < size; offset += 20) {
    const unsigned char *message = at + offset + 4;
    if (size - offset < 20 || read_big_endian(at + offset) != 16 || e.address_count == 3 ||
        message[7] != 0) {
      return false;
    }
    const int index = find_bridge_address(reinterpret_cast<const char *>(message));
    if (index < 0 || message[8] != ',' ||
        message[9] != static_cast<unsigned char>(bridge_addresses[index].type)) {
      return false;
    }
    if (e.address_count == 0) {
      e.first_address = index;
      e.event.kind = bridge_addresses[index].kind;
      if (e.event.kind == 0) {
        e.event.b_number = static_cast<float>(index - first_button_address);
      }
    } else if (index != e.first_address + e.address_count ||
               bridge_addresses[index].kind != e.event.kind) {
      return false;
    }
    auto *record = reinterpret_cast<unsigned char *>(&e.event);
    const std::uint32_t bits = read_big_endian(message + 12);
    std::memcpy(record + bridge_addresses[index].offset, &bits, sizeof bits);
    ++e.address_count;
  }
  // Whatever the checks above let through, the bridge's own encoder decides:
  // a datagram is the bridge's only when encoding its event gives its bytes.
  OscPacketWriter again;
  again.open_bundle(OscTimeTag::immediate());
  add_event_messages(e.event, again);
  if (again.packet_size() != size || std::memcmp(again.packet_bytes(), at, size) != 0) {
    return false;
  }
  out = e;
  return true;
}

} // namespace

DatagramKind decode_datagram(const unsigned char *bytes, std::size_t size, BridgeEvent &event) {
  if (check_packet(bytes, size, 0) == Form::malformed) {
    return DatagramKind::malformed;
  }
  return read_bridge_event(bytes, size, event) ? DatagramKind::bridge : DatagramKind::foreign;
}
