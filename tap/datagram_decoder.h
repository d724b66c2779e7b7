// Tells the bridge's datagrams from anything else that reaches the tap, and
// reads the bridge's back into the event they were made from. Reads nothing
// outside the datagram, whatever it holds.
#pragma once

#include "tap/bridge_messages.h"

#include <cstddef>

enum class DatagramKind {
  bridge,    // `event` holds what it carries
  malformed, // not OSC
  foreign,   // well-formed OSC that the bridge does not send
};

DatagramKind decode_datagram(const unsigned char *bytes, std::size_t size, BridgeEvent &event);
