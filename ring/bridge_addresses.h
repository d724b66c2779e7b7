// Every message the bridge sends, as one table: the address, the event kind
// that sends it, the RingEvent field its argument comes from and the
// argument's OSC type, in the order a person reads them (buttons,
// acceleration, rotation, joystick, gesture, gyroscope). The tap reads the
// bridge's datagrams back with it and the simulated ring takes its script's
// field names from it. The encoder writes the same
// messages out by hand (bridge/event_messages.cpp), for speed; a test holds
// the two together.
#pragma once

#include "bridge/ring_sdk.h"

#include <cstddef>
#include <cstdint>

struct BridgeAddress {
  const char *address;
  const char *field; // the RingEvent field, as the simulated ring's scripts name it
  std::size_t offset;
  std::int32_t kind;
  char type; // OSC type tag: 'i' or 'f'
};

constexpr int bridge_address_count = 23;
constexpr int first_button_address = 0; // "/b/0" to "/b/9" are the first ten
extern const BridgeAddress bridge_addresses[bridge_address_count];

// The index of `address` in bridge_addresses, or -1.
int find_bridge_address(const char *address);

// An argument's 32 bits as the number they carry, by its type tag.
double argument_value(char type, std::uint32_t bits);
