#include "tap/datagram_decoder.h"

#include "bridge/event_messages.h"
#include "osc/osc_packet.h"
#include "osc/osc_reader.h"
#include "ring/ring_vocabulary.h"

#include <cstdint>
#include <cstring>

namespace {

// The bridge's bundle: time tag 1, then up to three messages, each with one
// argument, from one row of its table. Fills `out` from the messages.
bool read_bridge_event(const unsigned char *at, std::size_t size, BridgeEvent &out) {
  if (!is_osc_bundle(at, size)) {
    return false;
  }
  OscBundleReader bundle(at, size);
  if (bundle.time_tag() != OscTimeTag::immediate().value()) {
    return false;
  }
  BridgeEvent e{};
  e.event.kind = event_kind::empty;
  const unsigned char *element = nullptr;
  std::size_t element_size = 0;
  while (bundle.next(element, element_size)) {
    OscMessageView message{};
    if (e.address_count == 3 || !read_osc_message(element, element_size, message)) {
      return false;
    }
    const int index = find_bridge_address(message.address);
    if (index < 0 || message.type_tags[0] != bridge_addresses[index].type ||
        message.arguments_size != 4) {
      return false;
    }
    if (e.address_count == 0) {
      e.first_address = index;
      e.event.kind = bridge_addresses[index].kind;
      if (e.event.kind == event_kind::button) {
        e.event.b_number = static_cast<float>(index - first_button_address);
      }
    } else if (index != e.first_address + e.address_count ||
               bridge_addresses[index].kind != e.event.kind) {
      return false;
    }
    e.message_at[e.address_count] = static_cast<std::uint32_t>(element - at);
    e.message_size[e.address_count] = static_cast<std::uint32_t>(element_size);
    auto *record = reinterpret_cast<unsigned char *>(&e.event);
    const std::uint32_t bits = read_osc_uint32(message.arguments);
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
  if (check_osc_packet(bytes, size).form == OscForm::malformed) {
    return DatagramKind::malformed;
  }
  return read_bridge_event(bytes, size, event) ? DatagramKind::bridge : DatagramKind::foreign;
}
