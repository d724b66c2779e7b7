#include "tests/support/every_kind.h"

#include <cstdio>
#include <cstring>
#include <sstream>

Datagram bundle(const std::string &messages) {
  Datagram bytes = {'#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 0, 0, 0, 0, 0, 0, 0, 1};
  std::istringstream in(messages);
  std::string address;
  char tag = 0;
  for (std::uint32_t bits = 0; in >> address >> tag >> std::hex >> bits;) {
    address.resize(8, '\0');
    bytes.insert(bytes.end(), {0, 0, 0, 16});
    bytes.insert(bytes.end(), address.begin(), address.end());
    bytes.insert(bytes.end(), {',', static_cast<unsigned char>(tag), 0, 0});
    for (const int shift : {24, 16, 8, 0}) {
      bytes.push_back(static_cast<unsigned char>(bits >> shift));
    }
  }
  return bytes;
}

namespace {

// Every field distinct, so a message that reads the wrong one shows.
const std::string fields = " j_x=-2147483648 j_y=2147483647 x=1.5 y=-2.25 z=3.5 j_t=-4 r_r=0.5 "
                           "r_p=-0.75 r_y=6 b_value=-7 gest_value=8";

} // namespace

std::vector<std::pair<std::string, std::string>> every_kind() {
  std::vector<std::pair<std::string, std::string>> rows = {
      {"11", ""},
      {"1" + fields, "/a/x f 3FC00000 /a/y f C0100000 /a/z f 40600000"},
      {"2" + fields, "/r/r f 3F000000 /r/p f BF400000 /r/y f 40C00000"},
      {"3" + fields, "/j/x i 80000000 /j/y i 7FFFFFFF /j/t i FFFFFFFC"},
      {"4" + fields, "/gest i 8"},
      {"9" + fields, "/g/x f 3FC00000 /g/y f C0100000 /g/z f 40600000"},
      {"0 b_number=-0.0" + fields, "/b/0 i FFFFFFF9"},
      {"0 b_number=2.5" + fields, ""},
      {"0 b_number=nan" + fields, ""},
      {"0 b_number=10" + fields, ""},
      {"1 x=nan y=-nan z=inf", "/a/x f 7FC00000 /a/y f FFC00000 /a/z f 7F800000"},
      {"2 r_r=-inf r_p=-0.0 r_y=1e-45", "/r/r f FF800000 /r/p f 80000000 /r/y f 00000001"},
      // Signalling NaNs, negative and with payloads, and denormals: bit for bit.
      {"9 x=bits:7F800001 y=bits:FFBFFFFF z=bits:807FFFFF",
       "/g/x f 7F800001 /g/y f FFBFFFFF /g/z f 807FFFFF"},
      {"2 r_r=bits:7FA5A5A5 r_p=bits:ff800001 r_y=bits:FFC00001",
       "/r/r f 7FA5A5A5 /r/p f FF800001 /r/y f FFC00001"},
  };
  for (const char *n : {"1", "2", "3", "4", "5", "6", "7", "8", "9"}) {
    rows.emplace_back(std::string("0 b_number=") + n + fields,
                      std::string("/b/") + n + " i FFFFFFF9");
  }
  for (const char *kind : {"5", "6", "7", "8", "10", "12", "-1"}) {
    rows.emplace_back(kind + fields, "");
  }
  return rows;
}

std::string osc_text(const unsigned char *bytes, std::size_t size) {
  const auto word = [bytes](std::size_t at) {
    return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
           std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
  };
  if (size >= 16 && std::memcmp(bytes, "#bundle", 8) == 0) {
    std::string text = "[";
    for (std::size_t at = 16; at + 4 <= size; at += 4 + word(at)) {
      text += (text.size() > 1 ? " " : "") + osc_text(bytes + at + 4, word(at));
    }
    return text + "]";
  }
  std::string text(reinterpret_cast<const char *>(bytes),
                   strnlen(reinterpret_cast<const char *>(bytes), size));
  std::size_t at = (text.size() + 4) & ~std::size_t{3};
  const std::string tags(reinterpret_cast<const char *>(bytes + at));
  text += tags;
  at += (tags.size() + 4) & ~std::size_t{3};
  for (const char tag : tags.substr(1)) {
    if (tag == 'f' || tag == 'i') {
      const std::uint32_t bits = word(at);
      float value = 0;
      std::memcpy(&value, &bits, 4);
      char number[32];
      std::snprintf(number, sizeof number, " %g",
                    tag == 'f' ? value : static_cast<double>(static_cast<std::int32_t>(bits)));
      text += number;
      at += 4;
    }
  }
  return text;
}
