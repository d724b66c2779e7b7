#include "tap/message_splitter.h"

#include "osc/osc_reader.h"

void split_messages(const unsigned char *bytes, std::uint32_t size,
                    const std::function<void(const unsigned char *, std::uint32_t)> &send) {
  if (!is_osc_bundle(bytes, size) || check_osc_packet(bytes, size).form == OscForm::malformed) {
    send(bytes, size);
    return;
  }
  for_each_bundle_leaf(bytes, size, [&send](const unsigned char *element, std::size_t length) {
    send(element, static_cast<std::uint32_t>(length));
  });
}
