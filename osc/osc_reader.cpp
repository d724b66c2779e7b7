#include "osc/osc_reader.h"

#include <cstring>
#include <vector>

namespace {

constexpr OscCheck well_formed{OscForm::well_formed, ""};
constexpr OscCheck unmeasured{OscForm::unmeasured, ""};
constexpr OscCheck malformed(const char *problem) { return {OscForm::malformed, problem}; }

// The padded length of the string at `at`, or 0 when it has no NUL before `end`.
std::size_t padded_string(const unsigned char *at, const unsigned char *end) {
  const void *nul = std::memchr(at, 0, static_cast<std::size_t>(end - at));
  if (nul == nullptr) {
    return 0;
  }
  const auto length = static_cast<std::size_t>(static_cast<const unsigned char *>(nul) - at);
  const std::size_t padded = (length + 4) & ~std::size_t{3};
  return padded <= static_cast<std::size_t>(end - at) ? padded : 0;
}

// How many bytes an argument of type `tag` takes at `at`: runs_past when it
// would end after `end`, unknown_tag for a type without a known size.
constexpr long runs_past = -1;
constexpr long unknown_tag = -2;
long argument_size(char tag, const unsigned char *at, const unsigned char *end) {
  const auto left = static_cast<std::size_t>(end - at);
  switch (tag) {
  case 'i':
  case 'f':
  case 'c':
  case 'r':
  case 'm':
    return left >= 4 ? 4 : runs_past;
  case 'h':
  case 't':
  case 'd':
    return left >= 8 ? 8 : runs_past;
  case 's':
  case 'S': {
    const std::size_t padded = padded_string(at, end);
    return padded != 0 ? static_cast<long>(padded) : runs_past;
  }
  case 'b': {
    if (left < 4) {
      return runs_past;
    }
    const std::uint32_t length = read_osc_uint32(at);
    const std::size_t padded = (std::size_t{length} + 3) & ~std::size_t{3};
    return padded <= left - 4 ? static_cast<long>(4 + padded) : runs_past;
  }
  case 'T':
  case 'F':
  case 'N':
  case 'I':
  case '[':
  case ']':
    return 0;
  default:
    return unknown_tag;
  }
}

OscCheck check_message(const unsigned char *at, const unsigned char *end, OscMessageView *view) {
  const std::size_t address = padded_string(at, end);
  if (address == 0) {
    return malformed("address without its NUL");
  }
  const unsigned char *tags = at + address;
  // A message without a type-tag string is old but valid OSC.
  if (tags == end) {
    if (view != nullptr) {
      *view = {reinterpret_cast<const char *>(at), "", end, 0};
    }
    return well_formed;
  }
  if (*tags != ',') {
    return malformed("type tags without their comma");
  }
  const std::size_t tags_size = padded_string(tags, end);
  if (tags_size == 0) {
    return malformed("type tags without their NUL");
  }
  const unsigned char *arguments = tags + tags_size;
  const unsigned char *next = arguments;
  for (const unsigned char *tag = tags + 1; *tag != 0; ++tag) {
    const long size = argument_size(static_cast<char>(*tag), next, end);
    if (size == unknown_tag) {
      return unmeasured;
    }
    if (size == runs_past) {
      return malformed("argument runs past the end");
    }
    next += size;
  }
  if (next != end) {
    return malformed("bytes left after the arguments");
  }
  if (view != nullptr) {
    *view = {reinterpret_cast<const char *>(at), reinterpret_cast<const char *>(tags + 1),
             arguments, static_cast<std::size_t>(end - arguments)};
  }
  return well_formed;
}

// The bundles a walk is inside, outermost first: bundles nest to any depth
// that fits a packet, and a walk keeps a cursor per level instead of
// recursing. The first levels live in the walk itself.
class OpenBundles {
public:
  struct Open {
    const unsigned char *at;
    std::size_t size;
    std::size_t offset; // of its next element's length
  };

  bool empty() const { return count == 0; }
  Open &top() { return count <= inside_count ? inside[count - 1] : more.back(); }
  void push(const unsigned char *at, std::size_t size) {
    if (count < inside_count) {
      inside[count] = {at, size, 16};
    } else {
      more.push_back({at, size, 16});
    }
    ++count;
  }
  void pop() {
    if (count > inside_count) {
      more.pop_back();
    }
    --count;
  }

private:
  static constexpr std::size_t inside_count = 16;
  Open inside[inside_count] = {};
  std::vector<Open> more;
  std::size_t count = 0;
};

// What is wrong with a packet, or an element of a bundle, apart from the
// elements of a bundle, which the walk checks one by one.
OscCheck check_alone(const unsigned char *at, std::size_t size) {
  if (size == 0) {
    return malformed("empty");
  }
  if ((size & 3U) != 0) {
    return malformed("length not a multiple of 4");
  }
  if (at[0] == '/') {
    return check_message(at, at + size, nullptr);
  }
  return is_osc_bundle(at, size) ? well_formed : malformed("neither a message nor a bundle");
}

} // namespace

std::uint32_t read_osc_uint32(const unsigned char *at) {
  return static_cast<std::uint32_t>(at[0]) << 24U | static_cast<std::uint32_t>(at[1]) << 16U |
         static_cast<std::uint32_t>(at[2]) << 8U | static_cast<std::uint32_t>(at[3]);
}

bool is_osc_bundle(const unsigned char *bytes, std::size_t size) {
  return size >= 16 && std::memcmp(bytes, "#bundle", 8) == 0;
}

OscCheck check_osc_packet(const unsigned char *bytes, std::size_t size) {
  OscCheck found = check_alone(bytes, size);
  if (found.form != OscForm::well_formed || bytes[0] == '/') {
    return found;
  }
  OpenBundles open;
  open.push(bytes, size);
  while (!open.empty()) {
    OpenBundles::Open &bundle = open.top();
    if (bundle.offset == bundle.size) {
      open.pop();
      continue;
    }
    if (bundle.size - bundle.offset < 4) {
      return malformed("bundle element without its length");
    }
    const std::uint32_t length = read_osc_uint32(bundle.at + bundle.offset);
    bundle.offset += 4;
    if (length > bundle.size - bundle.offset) {
      return malformed("bundle element runs past the end");
    }
    const unsigned char *element = bundle.at + bundle.offset;
    bundle.offset += length;
    const OscCheck inner = check_alone(element, length);
    if (inner.form == OscForm::malformed) {
      return inner;
    }
    found = inner.form == OscForm::unmeasured ? inner : found;
    if (element[0] != '/') {
      open.push(element, length);
    }
  }
  return found;
}

void for_each_bundle_leaf(const unsigned char *bytes, std::size_t size,
                          const std::function<void(const unsigned char *, std::size_t)> &each) {
  OpenBundles open;
  open.push(bytes, size);
  while (!open.empty()) {
    OpenBundles::Open &bundle = open.top();
    if (bundle.size - bundle.offset < 4 ||
        read_osc_uint32(bundle.at + bundle.offset) > bundle.size - bundle.offset - 4) {
      open.pop();
      continue;
    }
    const std::size_t length = read_osc_uint32(bundle.at + bundle.offset);
    const unsigned char *element = bundle.at + bundle.offset + 4;
    bundle.offset += 4 + length;
    if (is_osc_bundle(element, length)) {
      open.push(element, length);
    } else {
      each(element, length);
    }
  }
}

std::uint64_t OscBundleReader::time_tag() const {
  return std::uint64_t{read_osc_uint32(bytes + 8)} << 32U | read_osc_uint32(bytes + 12);
}

bool OscBundleReader::next(const unsigned char *&element, std::size_t &element_size) {
  if (offset >= size || size - offset < 4) {
    return false;
  }
  const std::uint32_t length = read_osc_uint32(bytes + offset);
  if (length > size - offset - 4) {
    return false;
  }
  element = bytes + offset + 4;
  element_size = length;
  offset += 4 + std::size_t{length};
  return true;
}

bool read_osc_message(const unsigned char *bytes, std::size_t size, OscMessageView &view) {
  return size != 0 && (size & 3U) == 0 && bytes[0] == '/' &&
         check_message(bytes, bytes + size, &view).form == OscForm::well_formed;
}
