#include "bridge/ring_event_handler.h"

#include "bridge/event_messages.h"
#include "osc/osc_packet.h"
#include "ring/ring_vocabulary.h"
#include "udp/udp.h"

namespace {

// The SDK's thread has a stack of unknown size: an event's objects (the
// transport, the writer and up to three messages) stay small.
static_assert(sizeof(UdpTransport) + sizeof(OscPacketWriter) + 3 * sizeof(OscMessage) <= 2048,
              "one event's objects must fit in 2 KiB of stack");

constexpr std::int32_t subscription_codes[] = {2, 3, 4, 1, 10, 5, 6};

void subscribe_first_ring() {
  if (QorNumRings() < 1) {
    return;
  }
  for (const std::int32_t code : subscription_codes) {
    // The name is asked for again before every subscription.
    const char *name = QorGetRingName(0);
    QorSubscribe(code, name);
  }
}

// One event, one datagram: nothing is kept or reused between events, so a
// failed event leaves nothing behind for the next one.
void send_event(const RingEvent &event) {
  UdpTransport sok;
  sok.connect_to(bridge_host, bridge_port, UdpTransport::family_ipv4);
  OscPacketWriter pkt;
  pkt.open_bundle(OscTimeTag::immediate());
  if (event.kind == event_kind::ring_connected) {
    subscribe_first_ring();
  } else {
    add_event_messages(event, pkt);
  }
  // The bundle is never closed: the top-level bundle has no length field.
  const std::uint32_t size = pkt.packet_size();
  sok.send(pkt.packet_bytes(), size);
}

} // namespace

void VANTREL_CALL ring_event_handler(RingEvent event) noexcept {
  // An exception must not unwind into the SDK's C frames, which would take
  // the host process down: running out of memory loses this event only.
  try {
    send_event(event);
  } catch (...) {
    return;
  }
}
