// The bridge's messages as the tap reads them back: every address the bridge
// sends, in the order a person reads them (buttons, acceleration, rotation,
// joystick, gesture, gyroscope), with the event kind and RingEvent field it
// comes from.
#pragma once

#include "bridge/ring_sdk.h"

#include <cstddef>
#include <cstdint>

struct BridgeAddress {
  const char *address;
  const char *field; // the simulated ring's script name for it
  std::size_t offset;
  std::int32_t kind;
  char type; // OSC type tag: 'i' or 'f'
};

constexpr int bridge_address_count = 23;
constexpr int first_button_address = 0; // "/b/0" to "/b/9" are the first ten
extern const BridgeAddress bridge_addresses[bridge_address_count];

// The index of `address` in bridge_addresses, or -1.
int find_bridge_address(const char *address);

// One datagram of the bridge read back: the record it was made from (as far
// as its messages tell) and which addresses it holds. An empty bundle is
// kind -1: it cannot tell kind 11 from a kind without messages.
struct BridgeEvent {
  RingEvent event;
  int first_address; // index into bridge_addresses
  int address_count; // 0, 1 or 3, consecutive from first_address
};

// The argument of message `i` of `e` as its 32 bits.
std::uint32_t argument_bits(const BridgeEvent &e, int i);
