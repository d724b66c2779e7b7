// Arbitrary datagrams through the tap's decoder. Whatever it takes for the
// bridge's must come back as a script line that replays the same bytes; the
// input sits in a buffer of its exact size, so any read past it is caught.
#include "bridge/event_messages.h"
#include "ringsim/script_parser.h"
#include "tap/datagram_decoder.h"
#include "tap/event_text.h"

#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::unique_ptr<unsigned char[]> datagram(new unsigned char[size]);
  std::memcpy(datagram.get(), data, size);
  BridgeEvent decoded{};
  if (decode_datagram(datagram.get(), size, decoded) != DatagramKind::bridge) {
    return 0;
  }
  plain_lines(0, decoded);
  RingEvent replayed{};
  std::string reason;
  if (parse_script_line(script_line(decoded), replayed, reason) != ScriptLine::event) {
    std::abort();
  }
  OscPacketWriter pkt;
  pkt.open_bundle(OscTimeTag::immediate());
  add_event_messages(replayed, pkt);
  if (pkt.packet_size() != size || std::memcmp(pkt.packet_bytes(), data, size) != 0) {
    std::abort();
  }
  return 0;
}
