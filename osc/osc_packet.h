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

// Building a packet is a few small steps made together, which compilers
// inline on their own only at -O3: said here, they are inlined at the -O2
// that releases build at, whoever includes this header. Growth past a
// buffer's reserve stays a call of its own.
#if defined(__GNUC__)
#define OSC_INLINE __attribute__((always_inline)) inline
#elif defined(_MSC_VER)
#define OSC_INLINE __forceinline
#else
#define OSC_INLINE inline
#endif

// Every piece of an OSC packet starts on a 4-byte boundary.
OSC_INLINE std::uint32_t round_up_4(std::uint32_t n) { return (n + 3U) & ~3U; }

OSC_INLINE bool host_is_big_endian() {
  const std::uint32_t probe = 0x12345678U;
  unsigned char first = 0;
  std::memcpy(&first, &probe, 1);
  return first == 0x12U;
}

// OSC is big-endian on the wire whatever the host is. Bytes are copied, never
// stored through a cast, so the destination needs no alignment.
template <typename T> OSC_INLINE void put_big_endian(T value, unsigned char *destination) {
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

// A growable byte buffer whose length is always a multiple of 4. The first
// 200 bytes live inside the object, more than any packet of the bridge needs
// (76 bytes), so building an event's packet never touches the heap.
class OscBuffer {
public:
  static constexpr std::size_t reserved_bytes = 200;

  OscBuffer() = default;
  OscBuffer(const OscBuffer &) = delete;
  OscBuffer &operator=(const OscBuffer &) = delete;

  // Lengthens the buffer by n rounded up to 4 bytes, all zero, so whatever a
  // caller leaves unwritten is already the padding. The address stays valid
  // until the next append. Past the reserve, growth doubles the length needed.
  OSC_INLINE unsigned char *append_zeroed(std::uint32_t n) {
    assert((length & 3) == 0);
    const std::size_t added = round_up_4(n);
    if (length + n > capacity_) {
      grow(2 * (length + n));
    }
    if (length + added > capacity_) {
      grow(length + added);
    }
    unsigned char *first = data() + length;
    std::memset(first, 0x00, added);
    length += added;
    return first;
  }

  // Empty again, keeping what it has grown to.
  OSC_INLINE void clear() { length = 0; }

  OSC_INLINE const unsigned char *bytes() const { return length == 0 ? nullptr : data(); }
  OSC_INLINE std::uint32_t size() const { return static_cast<std::uint32_t>(length); }
  std::size_t capacity() const { return capacity_; }

private:
  OSC_INLINE unsigned char *data() { return heap ? heap.get() : reserve; }
  OSC_INLINE const unsigned char *data() const { return heap ? heap.get() : reserve; }

  // Leaves the buffer as it was when memory runs out.
  void grow(std::size_t capacity) {
    std::unique_ptr<unsigned char[]> larger(new unsigned char[capacity]);
    std::memcpy(larger.get(), data(), length);
    heap = std::move(larger);
    capacity_ = capacity;
  }

  // Not zeroed here: every append zeroes what it adds.
  unsigned char reserve[reserved_bytes];
  std::unique_ptr<unsigned char[]> heap;
  std::size_t length = 0;
  std::size_t capacity_ = reserved_bytes;
};

// A short text held inside the object and a longer one on the heap, so
// that a message of the bridge's (an address of four or five characters,
// one type tag) is built and dropped without a call out of line.
class OscText {
public:
  static constexpr std::size_t inside_bytes = 24;

  OscText() = default;
  OscText(const OscText &) = delete;
  OscText &operator=(const OscText &) = delete;

  OSC_INLINE void assign(const char *text, std::size_t size) {
    length = 0;
    reserve(size);
    std::memcpy(data(), text, size);
    length = size;
  }
  OSC_INLINE void push_back(char c) {
    if (length == capacity_) {
      reserve(2 * capacity_);
    }
    data()[length++] = c;
  }
  OSC_INLINE void clear() { length = 0; }

  OSC_INLINE const char *data() const { return heap ? heap.get() : inside; }
  OSC_INLINE std::size_t size() const { return length; }

private:
  OSC_INLINE char *data() { return heap ? heap.get() : inside; }
  void reserve(std::size_t capacity) {
    if (capacity <= capacity_) {
      return;
    }
    std::unique_ptr<char[]> larger(new char[capacity]);
    std::memcpy(larger.get(), data(), length);
    heap = std::move(larger);
    capacity_ = capacity;
  }

  char inside[inside_bytes];
  std::unique_ptr<char[]> heap;
  std::size_t length = 0;
  std::size_t capacity_ = inside_bytes;
};

class OscMessage {
public:
  OSC_INLINE OscMessage(const char *address, OscTimeTag time_tag) : time_tag(time_tag) {
    address_.assign(address, std::strlen(address));
  }
  OscMessage(const std::string &address, OscTimeTag time_tag) : time_tag(time_tag) {
    address_.assign(address.data(), address.size());
  }
  OSC_INLINE ~OscMessage() = default;
  OscMessage(const OscMessage &) = delete;
  OscMessage &operator=(const OscMessage &) = delete;

  OSC_INLINE OscMessage &add_float(float value) {
    type_tags.push_back('f');
    put_big_endian(value, arguments.append_zeroed(4));
    return *this;
  }

  OSC_INLINE OscMessage &add_int32(std::int32_t value) {
    type_tags.push_back('i');
    put_big_endian(value, arguments.append_zeroed(4));
    return *this;
  }

  // OSC's true and false are type tags alone, with no argument bytes.
  OSC_INLINE OscMessage &add_bool(bool value) {
    type_tags.push_back(value ? 'T' : 'F');
    return *this;
  }

  // The same address with no arguments again, to be built anew without
  // allocating.
  OSC_INLINE OscMessage &clear_arguments() {
    type_tags.clear();
    arguments.clear();
    return *this;
  }

  // Appends the encoded message; inside a bundle each element is preceded by
  // its length. The message itself is left unchanged.
  OSC_INLINE void write_to(OscBuffer &out, bool with_size) const {
    const auto address_size = static_cast<std::uint32_t>(address_.size() + 1);
    const auto tags_size = static_cast<std::uint32_t>(type_tags.size() + 2);
    const std::uint32_t arguments_size = arguments.size();
    if (with_size) {
      const std::uint32_t element_size =
          round_up_4(address_size) + round_up_4(tags_size) + round_up_4(arguments_size);
      put_big_endian(element_size, out.append_zeroed(4));
    }
    // The NULs after the address and the tags are already there.
    std::memcpy(out.append_zeroed(address_size), address_.data(), address_size - 1);
    // The comma goes straight into the packet.
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
  OscText address_;
  OscText type_tags; // without the leading comma, which write_to adds
  OscBuffer arguments;
};

class OscPacketWriter {
public:
  // A message added to a packet that already holds one, outside any bundle.
  static constexpr std::int32_t error_message_outside_bundle = 10;

  OscPacketWriter() = default;
  OscPacketWriter(const OscPacketWriter &) = delete;
  OscPacketWriter &operator=(const OscPacketWriter &) = delete;

  // An empty packet again, without error, keeping its buffer.
  OSC_INLINE OscPacketWriter &clear() {
    open_bundles = 0;
    packet.clear();
    error = 0;
    return *this;
  }

  OSC_INLINE OscPacketWriter &open_bundle(OscTimeTag time_tag) {
    if (open_bundles != 0) {
      // A nested bundle is an element and needs a size field ahead of it;
      // nothing fills it in because bundles are never closed.
      packet.append_zeroed(4);
    }
    std::memcpy(packet.append_zeroed(8), "#bundle", 8);
    ++open_bundles;
    put_big_endian(time_tag.value(), packet.append_zeroed(8));
    return *this;
  }

  OSC_INLINE OscPacketWriter &add_message(const OscMessage &message) {
    // Outside a bundle an OSC packet holds exactly one message.
    if (packet.size() != 0 && open_bundles == 0) {
      if (error == 0) {
        error = error_message_outside_bundle;
      }
      return *this;
    }
    message.write_to(packet, open_bundles != 0);
    return *this;
  }

  // The top-level bundle has no size field, so the bytes written so far are
  // the whole packet; a writer in error hands out nothing.
  OSC_INLINE std::uint32_t packet_size() const { return error != 0 ? 0 : packet.size(); }
  OSC_INLINE const unsigned char *packet_bytes() const {
    return error != 0 ? nullptr : packet.bytes();
  }
  std::int32_t error_code() const { return error; }

private:
  // How many bundles are open. Nothing closes a bundle, so where each one
  // starts is never needed.
  std::uint32_t open_bundles = 0;
  OscBuffer packet;
  std::int32_t error = 0;
};
