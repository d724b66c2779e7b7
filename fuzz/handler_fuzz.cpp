// Arbitrary SDK records through the event dispatch and the packet writer.
// The packet is read back from the OSC format, not from the encoder: a
// bundle with time tag 1 holding at most three messages, each with one
// argument whose bits are those of a field of the record.
#include "bridge/event_messages.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

namespace {

void require(bool condition) { condition ? void() : std::abort(); }

std::uint32_t read_u32(const unsigned char *p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

// Past an OSC string: its characters, then 1 to 4 NULs up to a multiple of 4.
const unsigned char *skip_string(const unsigned char *at, const unsigned char *end) {
  const unsigned char *nul = std::find(at, end, 0);
  const unsigned char *next = at + ((nul - at) / 4 + 1) * 4;
  require(next <= end && std::all_of(nul, next, [](unsigned char c) { return c == 0; }));
  return next;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  RingEvent event{};
  std::memcpy(&event, data, std::min(size, sizeof event));
  std::uint32_t fields[sizeof event / 4];
  std::memcpy(fields, &event, sizeof event);

  OscPacketWriter pkt;
  add_event_messages(event, pkt.open_bundle(OscTimeTag::immediate()));
  const unsigned char *at = pkt.packet_bytes();
  const unsigned char *end = at + pkt.packet_size();
  require(pkt.packet_size() >= 16 && std::memcmp(at, "#bundle\0\0\0\0\0\0\0\0\1", 16) == 0);
  int messages = 0;
  for (at += 16; at < end; ++messages) {
    require(end - at >= 4);
    const unsigned char *element_end = at + 4 + read_u32(at);
    require(element_end <= end);
    const unsigned char *tags = skip_string(at + 4, element_end);
    require(tags[0] == ',' && (tags[1] == 'f' || tags[1] == 'i') && tags[2] == 0);
    at = skip_string(tags, element_end);
    require(element_end - at == 4 && std::count(fields, std::end(fields), read_u32(at)) != 0);
    at = element_end;
  }
  require(messages <= 3);
  return 0;
}
