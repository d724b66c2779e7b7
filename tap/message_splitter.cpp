#include "tap/message_splitter.h"

#include "osc/osc_reader.h"

namespace {

// Deeper than this, a nested bundle goes out as one datagram: nothing the
// bridge or any peer sends comes near it.
constexpr int max_depth = 32;

void walk(const unsigned char *bytes, std::size_t size, int depth,
          const std::function<void(const unsigned char *, std::uint32_t)> &send) {
  OscBundleReader bundle(bytes, size);
  const unsigned char *element = nullptr;
  std::size_t element_size = 0;
  while (bundle.next(element, element_size)) {
    if (is_osc_bundle(element, element_size) && depth < max_depth) {
      walk(element, element_size, depth + 1, send);
    } else {
      send(element, static_cast<std::uint32_t>(element_size));
    }
  }
}

} // namespace

void split_messages(const unsigned char *bytes, std::uint32_t size,
                    const std::function<void(const unsigned char *, std::uint32_t)> &send) {
  if (!is_osc_bundle(bytes, size) || check_osc_packet(bytes, size).form == OscForm::malformed) {
    send(bytes, size);
    return;
  }
  walk(bytes, size, 0, send);
}
