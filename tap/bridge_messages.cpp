#include "tap/bridge_messages.h"

#include <cstring>

std::uint32_t argument_bits(const BridgeEvent &e, int i) {
  std::uint32_t bits = 0;
  const auto *record = reinterpret_cast<const unsigned char *>(&e.event);
  std::memcpy(&bits, record + bridge_addresses[e.first_address + i].offset, sizeof bits);
  return bits;
}
