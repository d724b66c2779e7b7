// OSC as tests spell it: a bundle of the bridge's from a short text, one row
// of the simulated ring's script per kind with what it sends, and any
// packet back as text.
#pragma once

#include "tests/support/udp_receiver.h"

#include <string>
#include <utility>
#include <vector>

// An OSC bundle with the immediate time tag holding the messages described as
// "ADDRESS TAG BITS ...": each a 20-byte element, its size 16, the address
// NUL-padded to 8 bytes, ",f" or ",i" padded to 4, and the argument's 32 bits
// in hex, most significant first.
Datagram bundle(const std::string &messages);

// Script lines, every field distinct, and the messages of their datagrams.
std::vector<std::pair<std::string, std::string>> every_kind();

// A message as "ADDRESS,TAGS VALUE ..." (numbers as %g), a bundle as its
// elements in brackets.
std::string osc_text(const unsigned char *bytes, std::size_t size);
