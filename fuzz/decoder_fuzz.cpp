// Arbitrary datagrams through the OSC reader and the tap's decoder. The
// reader's walk and its views must agree; whatever the decoder takes for the
// bridge's must come back as a script line that replays the same bytes. The
// input sits in a buffer of its exact size, so any read past it is caught.
#include "bridge/event_messages.h"
#include "osc/osc_reader.h"
#include "ring/script_format.h"
#include "tap/datagram_decoder.h"
#include "tap/event_text.h"

#include <cstdlib>
#include <cstring>
#include <memory>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::unique_ptr<unsigned char[]> datagram(new unsigned char[size]);
  std::memcpy(datagram.get(), data, size);
  const OscCheck check = check_osc_packet(datagram.get(), size);
  if ((check.form == OscForm::malformed) == (check.problem[0] == '\0')) {
    std::abort(); // a malformed packet always says why, and only it
  }
  OscMessageView message{};
  if (check.form == OscForm::well_formed && datagram[0] == '/' &&
      (!read_osc_message(datagram.get(), size, message) ||
       message.arguments + message.arguments_size != datagram.get() + size)) {
    std::abort();
  }
  if (check.form == OscForm::well_formed && is_osc_bundle(datagram.get(), size)) {
    OscBundleReader bundle(datagram.get(), size);
    const unsigned char *element = datagram.get() + 16;
    std::size_t element_size = 0;
    while (bundle.next(element, element_size)) {
    }
    if (element + element_size != datagram.get() + size && size > 16) {
      std::abort(); // the elements of a well-formed bundle fill it
    }
  }
  BridgeEvent decoded{};
  if (decode_datagram(datagram.get(), size, decoded) != DatagramKind::bridge) {
    return 0;
  }
  plain_lines(0, decoded);
  RingEvent replayed{};
  std::string reason;
  if (parse_script_line(script_line(decoded.event), replayed, reason) != ScriptLine::event) {
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
