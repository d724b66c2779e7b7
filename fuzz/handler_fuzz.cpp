// Arbitrary SDK records through the event dispatch and the packet writer;
// every packet is checked by a decoder that shares no code with the encoder.
#include "bridge/event_messages.h"
#include "tests/support/osc_decoder.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

namespace {

void require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

std::uint32_t bits_of(float value) {
  std::uint32_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  return bits;
}

struct Field {
  char type;
  std::uint32_t bits;
};

// What each address must carry, read from the record independently of the
// dispatch.
std::map<std::string, Field> fields_of(const RingEvent &event) {
  const auto i = [](std::int32_t value) { return Field{'i', static_cast<std::uint32_t>(value)}; };
  const auto f = [](float value) { return Field{'f', bits_of(value)}; };
  std::map<std::string, Field> fields = {
      {"/a/x", f(event.x)},           {"/a/y", f(event.y)},   {"/a/z", f(event.z)},
      {"/g/x", f(event.x)},           {"/g/y", f(event.y)},   {"/g/z", f(event.z)},
      {"/r/r", f(event.r_r)},         {"/r/p", f(event.r_p)}, {"/r/y", f(event.r_y)},
      {"/j/x", i(event.j_x)},         {"/j/y", i(event.j_y)}, {"/j/t", i(event.j_t)},
      {"/gest", i(event.gest_value)},
  };
  for (int n = 0; n < 10; ++n) {
    fields["/b/" + std::to_string(n)] = i(event.b_value);
  }
  return fields;
}

std::string expected_addresses(const RingEvent &event) {
  switch (event.kind) {
  case 0:
    for (int n = 0; n < 10; ++n) {
      if (event.b_number == static_cast<float>(n)) {
        return "/b/" + std::to_string(n);
      }
    }
    return "";
  case 1:
    return "/a/x/a/y/a/z";
  case 2:
    return "/r/r/r/p/r/y";
  case 3:
    return "/j/x/j/y/j/t";
  case 4:
    return "/gest";
  case 9:
    return "/g/x/g/y/g/z";
  default:
    return "";
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  RingEvent event{};
  std::memcpy(&event, data, size < sizeof event ? size : sizeof event);

  OscPacketWriter pkt;
  pkt.open_bundle(OscTimeTag::immediate());
  add_event_messages(event, pkt);
  require(pkt.error_code() == 0);
  require(pkt.packet_size() % 4 == 0);

  const DecodedBundle bundle = decode_bundle(pkt.packet_bytes(), pkt.packet_size());
  require(bundle.valid);
  require(bundle.time_tag == 1);
  const std::map<std::string, Field> fields = fields_of(event);
  std::string addresses;
  for (const DecodedMessage &message : bundle.messages) {
    const auto known = fields.find(message.address);
    require(known != fields.end());
    require(message.arguments.size() == 1);
    require(message.type_tags == std::string(1, known->second.type));
    require(message.arguments[0].type == known->second.type);
    require(message.arguments[0].bits == known->second.bits);
    addresses += message.address;
  }
  require(addresses == expected_addresses(event));
  return 0;
}
