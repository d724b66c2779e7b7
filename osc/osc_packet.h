// OSC 1.0 packet encoding in memory: buffers, big-endian stores, time tags,
// bundles and messages. Knows nothing of sockets.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

// Every piece of an OSC packet starts on a 4-byte boundary.
inline std::uint32_t round_up_4(std::uint32_t n) { return (n + 3U) & ~3U; }

inline bool host_is_big_endian() {
  const std::uint32_t probe = 0x12345678U;
  unsigned char first = 0;
  std::memcpy(&first, &probe, 1);
  return first == 0x12U;
}

// OSC is big-endian on the wire whatever the host is. Bytes are copied, never
// stored through a cast, so the destination needs no alignment.
template <typename T> void put_big_endian(T value, unsigned char *destination) {
  static_assert(std::is_same<T, std::int32_t>::value || std::is_same<T, std::uint32_t>::value ||
                    std::is_same<T, float>::value || std::is_same<T, std::uint64_t>::value,
                "OSC stores 32-bit integers, 32-bit floats and 64-bit time tags");
  constexpr std::size_t width = sizeof(T);
  unsigned char storage[width];
  std::memcpy(storage, &value, width);
  for (std::size_t i = 0; i < width; ++i) {
    destination[i] = host_is_big_endian() ? storage[i] : storage[width - 1 - i];
  }
}

class OscTimeTag {
public:
  explicit constexpr OscTimeTag(std::uint64_t value) : value_(value) {}

  // OSC 1.0 reserves the value 1 for "process at once".
  static constexpr OscTimeTag immediate() { return OscTimeTag(1); }

  constexpr std::uint64_t value() const { return value_; }

private:
  std::uint64_t value_;
};

// A growable byte array whose growth hands out zero-filled room in one
// memset, without std::vector's per-call resize machinery.
class ByteVector {
public:
  explicit ByteVector(std::size_t capacity)
      : storage(new unsigned char[capacity]), capacity_(capacity) {}
  ByteVector(const ByteVector &) = delete;
  ByteVector &operator=(const ByteVector &) = delete;

  std::size_t size() const { return size_; }
  std::size_t capacity() const { return capacity_; }
  bool empty() const { return size_ == 0; }
  unsigned char *data() { return storage.get(); }
  const unsigned char *data() const { return storage.get(); }

  void reserve(std::size_t capacity) {
    if (capacity <= capacity_) {
      return;
    }
    std::unique_ptr<unsigned char[]> larger(new unsigned char[capacity]);
    if (size_ != 0) {
      std::memcpy(larger.get(), storage.get(), size_);
    }
    storage = std::move(larger);
    capacity_ = capacity;
  }

  unsigned char *grow_zeroed(std::size_t n) {
    reserve(size_ + n);
    unsigned char *added = storage.get() + size_;
    std::memset(added, 0x00, n);
    size_ += n;
    return added;
  }

private:
  std::unique_ptr<unsigned char[]> storage;
  std::size_t size_ = 0;
  std::size_t capacity_;
};

class OscBuffer {
public:
  // Room for the largest packet the bridge sends (76 bytes) with margin, so
  // building an event's packet never reallocates.
  static constexpr std::size_t reserved_bytes = 200;

  OscBuffer() : data(reserved_bytes) {}
  OscBuffer(const OscBuffer &) = delete;
  OscBuffer &operator=(const OscBuffer &) = delete;

  // Lengthens the buffer by n rounded up to 4 bytes, all zero, so whatever a
  // caller leaves unwritten is already the padding. The address stays valid
  // until the next append.
  unsigned char *append_zeroed(std::uint32_t n) {
    assert((data.size() & 3) == 0);
    if (data.size() + n > data.capacity()) {
      data.reserve(2 * (data.size() + n));
    }
    return data.grow_zeroed(round_up_4(n));
  }

  const unsigned char *bytes() const { return data.empty() ? nullptr : data.data(); }
  std::uint32_t size() const { return static_cast<std::uint32_t>(data.size()); }
  std::size_t capacity() const { return data.capacity(); }

private:
  ByteVector data;
};

class OscMessage {
public:
  OscMessage(std::string address, OscTimeTag time_tag)
      : time_tag(time_tag), address(std::move(address)) {}
  OscMessage(const OscMessage &) = delete;
  OscMessage &operator=(const OscMessage &) = delete;

  OscMessage &add_float(float value) {
    type_tags.push_back('f');
    put_big_endian(value, arguments.append_zeroed(4));
    return *this;
  }

  OscMessage &add_int32(std::int32_t value) {
    type_tags.push_back('i');
    put_big_endian(value, arguments.append_zeroed(4));
    return *this;
  }

  // Appends the encoded message; inside a bundle each element is preceded by
  // its length. The message itself is left unchanged.
  void write_to(OscBuffer &out, bool with_size) const {
    const auto address_size = static_cast<std::uint32_t>(address.size() + 1);
    const auto tags_size = static_cast<std::uint32_t>(type_tags.size() + 2);
    const std::uint32_t arguments_size = arguments.size();
    if (with_size) {
      const std::uint32_t element_size =
          round_up_4(address_size) + round_up_4(tags_size) + round_up_4(arguments_size);
      put_big_endian(element_size, out.append_zeroed(4));
    }
    std::memcpy(out.append_zeroed(address_size), address.c_str(), address_size);
    // The comma goes straight into the packet; the NUL is already there.
    unsigned char *tags = out.append_zeroed(tags_size);
    tags[0] = ',';
    std::memcpy(tags + 1, type_tags.data(), type_tags.size());
    if (arguments_size != 0) {
      std::memcpy(out.append_zeroed(arguments_size), arguments.bytes(), arguments_size);
    }
  }

  // Held but never encoded: only a bundle carries a time tag on the wire.
  OscTimeTag message_time_tag() const { return time_tag; }

private:
  OscTimeTag time_tag;
  std::string address;
  std::string type_tags; // without the leading comma, which write_to adds
  OscBuffer arguments;
};

class OscPacketWriter {
public:
  // A message added to a packet that already holds one, outside any bundle.
  static constexpr std::int32_t error_message_outside_bundle = 10;

  OscPacketWriter() = default;
  OscPacketWriter(const OscPacketWriter &) = delete;
  OscPacketWriter &operator=(const OscPacketWriter &) = delete;

  OscPacketWriter &open_bundle(OscTimeTag time_tag) {
    if (!open_bundles.empty()) {
      // A nested bundle is an element and needs a size field ahead of it;
      // nothing fills it in because bundles are never closed.
      packet.append_zeroed(4);
    }
    const std::uint32_t marker_offset = packet.size();
    std::memcpy(packet.append_zeroed(8), "#bundle", 8);
    open_bundles.push_back(marker_offset);
    put_big_endian(time_tag.value(), packet.append_zeroed(8));
    return *this;
  }

  OscPacketWriter &add_message(const OscMessage &message) {
    // Outside a bundle an OSC packet holds exactly one message.
    if (packet.size() != 0 && open_bundles.empty()) {
      if (error == 0) {
        error = error_message_outside_bundle;
      }
      return *this;
    }
    message.write_to(packet, !open_bundles.empty());
    return *this;
  }

  // The top-level bundle has no size field, so the bytes written so far are
  // the whole packet; a writer in error hands out nothing.
  std::uint32_t packet_size() const { return error != 0 ? 0 : packet.size(); }
  const unsigned char *packet_bytes() const { return error != 0 ? nullptr : packet.bytes(); }
  std::int32_t error_code() const { return error; }

private:
  std::vector<std::uint32_t> open_bundles; // offsets of the "#bundle" markers
  OscBuffer packet;
  std::int32_t error = 0;
};
