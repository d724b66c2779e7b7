// Arbitrary text as a map file. Every mistake is said with the map's name,
// and a map is read exactly when none is; a map that reads runs on every
// address of the bridge, odd values included, and every datagram it makes is
// well-formed OSC, every MIDI value within its message's range.
#include "maps/map_engine.h"
#include "maps/map_file.h"
#include "osc/osc_reader.h"
#include "ring/bridge_addresses.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string text(reinterpret_cast<const char *>(data), size);
  MapFile map;
  std::vector<std::string> mistakes;
  const bool read = parse_map_text("m", text, map, mistakes);
  for (const std::string &mistake : mistakes) {
    if (mistake.rfind("m:", 0) != 0) {
      std::abort();
    }
  }
  if (read != mistakes.empty()) {
    std::abort();
  }
  if (!read) {
    return 0;
  }
  if (map.rules.size() > MapFile::max_rules || describe_map(map).empty()) {
    std::abort();
  }
  MapEngine engine(map);
  const MapOut out{[](const unsigned char *bytes, std::uint32_t length) {
                     if (check_osc_packet(bytes, length).form == OscForm::malformed) {
                       std::abort();
                     }
                   },
                   [](const MidiValue &v) {
                     const long top =
                         v.kind == MidiKind::control14 || v.kind == MidiKind::bend ? 16383 : 127;
                     if (v.channel < 1 || v.channel > 16 || v.value < 0 || v.value > top) {
                       std::abort();
                     }
                   }};
  const float odd[] = {0,
                       1,
                       -1,
                       0.5F,
                       -180,
                       180,
                       1e30F,
                       -0.0F,
                       std::numeric_limits<float>::infinity(),
                       std::nanf("")};
  const std::int32_t whole[] = {0,
                                1,
                                -1,
                                0,
                                -180,
                                180,
                                std::numeric_limits<std::int32_t>::max(),
                                0,
                                std::numeric_limits<std::int32_t>::min(),
                                7};
  std::int64_t now_us = 0;
  for (std::size_t v = 0; v < sizeof odd / sizeof odd[0]; ++v) {
    for (int address = 0; address < bridge_address_count; ++address) {
      std::uint32_t bits = static_cast<std::uint32_t>(whole[v]);
      if (bridge_addresses[address].type == 'f') {
        std::memcpy(&bits, &odd[v], sizeof bits);
      }
      engine.take(address, 1, &bits, now_us += 7000, out);
    }
    engine.send_due(now_us += 150000, out);
  }
  return 0;
}
