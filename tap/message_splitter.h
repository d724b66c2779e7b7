// --messages: the messages of a bundle, each as a datagram of its own, for
// receivers that take no bundles.
#pragma once

#include <cstdint>
#include <functional>

// Calls `send` with each message of a bundle, its bytes exactly as they stand
// in it, in order and nested bundles depth first at any depth; a bundle
// without messages calls it never. A datagram that is not a well-formed bundle goes to `send`
// whole.
void split_messages(const unsigned char *bytes, std::uint32_t size,
                    const std::function<void(const unsigned char *, std::uint32_t)> &send);
