// The MIDI messages the tap sends, made and named in one place: a note on
// and off, a control (7 bits, or 14 as a pair of controllers), the pitch
// bend and the program change. Channels are 1 to 16 as people count them;
// every value is cut to the bits its message carries.
#pragma once

#include <cstddef>

namespace midi {

struct Message {
  unsigned char bytes[3] = {};
  std::size_t size = 0;
};

namespace detail {
constexpr unsigned char status(unsigned kind, int channel) {
  return static_cast<unsigned char>(kind | (static_cast<unsigned>(channel - 1) & 0x0FU));
}
constexpr unsigned char seven(long value) { return static_cast<unsigned char>(value & 0x7F); }
} // namespace detail

constexpr Message note_on(int channel, int note, int velocity) {
  return {{detail::status(0x90, channel), detail::seven(note), detail::seven(velocity)}, 3};
}
constexpr Message note_off(int channel, int note) {
  return {{detail::status(0x80, channel), detail::seven(note), 0}, 3};
}
constexpr Message control(int channel, int controller, long value) {
  return {{detail::status(0xB0, channel), detail::seven(controller), detail::seven(value)}, 3};
}
// A 14-bit control: controller N (0 to 31) with the top 7 bits, then N + 32
// with the low 7, the order receivers expect.
constexpr Message control14_high(int channel, int controller, long value) {
  return control(channel, controller, value >> 7);
}
constexpr Message control14_low(int channel, int controller, long value) {
  return control(channel, controller + 32, value);
}
// 14 bits, 8192 the centre: the low 7 first.
constexpr Message pitch_bend(int channel, long value) {
  return {{detail::status(0xE0, channel), detail::seven(value), detail::seven(value >> 7)}, 3};
}
constexpr Message program_change(int channel, long program) {
  return {{detail::status(0xC0, channel), detail::seven(program), 0}, 2};
}

// A note on with velocity 0 is a note off too.
constexpr bool turns_note_on(const Message &m) {
  return m.size == 3 && (m.bytes[0] & 0xF0U) == 0x90 && m.bytes[2] != 0;
}
constexpr bool turns_note_off(const Message &m) {
  return m.size == 3 &&
         ((m.bytes[0] & 0xF0U) == 0x80 || ((m.bytes[0] & 0xF0U) == 0x90 && m.bytes[2] == 0));
}

} // namespace midi
