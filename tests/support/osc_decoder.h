// An OSC 1.0 decoder for tests and fuzzing, written from the OSC format
// rather than from the encoder, so the two check each other. It accepts only
// what the bridge may send: a bundle with the immediate time tag whose
// elements are messages with 32-bit float and integer arguments.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

struct DecodedArgument {
  char type;          // 'f' or 'i'
  std::uint32_t bits; // the argument's 32 bits as sent
  float as_float() const {
    float value = 0;
    std::memcpy(&value, &bits, sizeof value);
    return value;
  }
  std::int32_t as_int() const { return static_cast<std::int32_t>(bits); }
};

struct DecodedMessage {
  std::string address;
  std::string type_tags; // without the comma
  std::vector<DecodedArgument> arguments;
};

struct DecodedBundle {
  bool valid = false;
  std::string error;
  std::uint64_t time_tag = 0;
  std::vector<DecodedMessage> messages;
};

inline std::uint32_t read_u32(const unsigned char *p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         std::uint32_t{p[3]};
}

// Reads a NUL-terminated, NUL-padded OSC string from [*at, end).
inline bool read_osc_string(const unsigned char *&at, const unsigned char *end, std::string &out) {
  const unsigned char *start = at;
  while (at < end && *at != 0) {
    ++at;
  }
  if (at == end) {
    return false;
  }
  out.assign(reinterpret_cast<const char *>(start), static_cast<std::size_t>(at - start));
  const std::size_t padded = (out.size() + 4) & ~std::size_t{3};
  if (static_cast<std::size_t>(end - start) < padded) {
    return false;
  }
  for (const unsigned char *p = at; p < start + padded; ++p) {
    if (*p != 0) {
      return false;
    }
  }
  at = start + padded;
  return true;
}

inline bool decode_message(const unsigned char *at, const unsigned char *end, DecodedMessage &out,
                           std::string &error) {
  if (!read_osc_string(at, end, out.address) || out.address.empty() || out.address[0] != '/') {
    error = "bad address";
    return false;
  }
  std::string tags;
  if (!read_osc_string(at, end, tags) || tags.empty() || tags[0] != ',') {
    error = "bad type tags";
    return false;
  }
  out.type_tags = tags.substr(1);
  for (const char tag : out.type_tags) {
    if ((tag != 'f' && tag != 'i') || end - at < 4) {
      error = "bad argument";
      return false;
    }
    out.arguments.push_back({tag, read_u32(at)});
    at += 4;
  }
  if (at != end) {
    error = "bytes after the arguments";
    return false;
  }
  return true;
}

inline DecodedBundle decode_bundle(const unsigned char *data, std::size_t size) {
  DecodedBundle bundle;
  const unsigned char *at = data;
  const unsigned char *end = data + size;
  if (size < 16 || size % 4 != 0 || std::memcmp(data, "#bundle\0", 8) != 0) {
    bundle.error = "not a bundle";
    return bundle;
  }
  bundle.time_tag = (std::uint64_t{read_u32(data + 8)} << 32) | read_u32(data + 12);
  at += 16;
  while (at < end) {
    if (end - at < 4) {
      bundle.error = "truncated element size";
      return bundle;
    }
    const std::uint32_t element = read_u32(at);
    at += 4;
    if (element == 0 || element % 4 != 0 || element > static_cast<std::size_t>(end - at)) {
      bundle.error = "bad element size";
      return bundle;
    }
    DecodedMessage message;
    if (!decode_message(at, at + element, message, bundle.error)) {
      return bundle;
    }
    bundle.messages.push_back(message);
    at += element;
  }
  bundle.valid = true;
  return bundle;
}

inline DecodedBundle decode_bundle(const std::vector<unsigned char> &datagram) {
  return decode_bundle(datagram.data(), datagram.size());
}
