// Reading OSC 1.0 packets, beside the writing in osc_packet.h: a walk over a
// whole packet (bundles nested to any depth, time tags, elements, messages,
// addresses, type tags, arguments) that says what is wrong with one that is
// not well formed, and views of a bundle's elements and a message's parts. Nothing here reads a
// byte outside the buffer it is given, whatever the buffer holds.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

enum class OscForm {
  well_formed,
  malformed,  // not OSC 1.0; the walk says why
  unmeasured, // well formed as far as the walk could go: an argument type it
              // cannot measure
};

struct OscCheck {
  OscForm form;
  const char *problem; // why it is malformed; "" otherwise
};

OscCheck check_osc_packet(const unsigned char *bytes, std::size_t size);

// Calls `each` with every element of a bundle that is not itself a bundle,
// in order, the bundles inside it depth first at any depth; what is left of
// a bundle that is not a whole element is passed over.
void for_each_bundle_leaf(const unsigned char *bytes, std::size_t size,
                          const std::function<void(const unsigned char *, std::size_t)> &each);

std::uint32_t read_osc_uint32(const unsigned char *at);

// True for bytes that start like a bundle: "#bundle", its NUL and a time tag.
bool is_osc_bundle(const unsigned char *bytes, std::size_t size);

// The elements of a bundle, one after the other.
class OscBundleReader {
public:
  // `bytes` must satisfy is_osc_bundle.
  OscBundleReader(const unsigned char *bytes, std::size_t size) : bytes(bytes), size(size) {}
  OscBundleReader(const OscBundleReader &) = delete;
  OscBundleReader &operator=(const OscBundleReader &) = delete;

  std::uint64_t time_tag() const;
  // The next element; false at the end, or when what is left is not a whole element.
  bool next(const unsigned char *&element, std::size_t &element_size);

private:
  const unsigned char *bytes;
  std::size_t size;
  std::size_t offset = 16;
};

// A message's parts, pointing into the packet.
struct OscMessageView {
  const char *address;
  const char *type_tags; // after the comma; "" when the message has none
  const unsigned char *arguments;
  std::size_t arguments_size;
};

// Fills `view` from a message; false when the bytes are not one well-formed
// message whose arguments all have types the reader can measure.
bool read_osc_message(const unsigned char *bytes, std::size_t size, OscMessageView &view);
