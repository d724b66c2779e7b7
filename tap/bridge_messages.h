// One datagram of the bridge read back: the record it was made from, as far
// as its messages tell, and which of the bridge's addresses it holds.
#pragma once

#include "ring/bridge_addresses.h"

#include <cstdint>

// An empty bundle is kind -1: it cannot tell kind 11 from a kind without messages.
struct BridgeEvent {
  RingEvent event;
  int first_address;           // index into bridge_addresses
  int address_count;           // 0, 1 or 3, consecutive from first_address
  std::uint32_t message_at[3]; // where each message stands in the datagram, and its size
  std::uint32_t message_size[3];
};

// The argument of message `i` of `e` as its 32 bits.
std::uint32_t argument_bits(const BridgeEvent &e, int i);
