// What the real process cannot show cheaply: padding of every length, a
// nested bundle and the writer's error.
#include "osc/osc_packet.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace {

using namespace std::string_literals;

std::string text_of(const unsigned char *bytes, std::uint32_t size) {
  return bytes == nullptr ? "" : std::string(reinterpret_cast<const char *>(bytes), size);
}

TEST(OscMessage, StringsEndInOneToFourNuls) {
  const std::string one = "\x3F\x80\0\0"s; // 1.0F
  const std::tuple<std::string, int, std::string> cases[] = {
      {"/ab", 0, "\0\0\0\x08/ab\0,\0\0\0"s},
      {"/a/x", 0, "\0\0\0\x0C/a/x\0\0\0\0,\0\0\0"s},
      {"/gest", 1, "\0\0\0\x10/gest\0\0\0,f\0\0"s + one},
      {"/ab/cd", 2, "\0\0\0\x14/ab/cd\0\0,ff\0"s + one + one},
      {"/a", 3, "\0\0\0\x18/a\0\0,fff\0\0\0\0"s + one + one + one},
  };
  for (const auto &[address, floats, encoded] : cases) {
    OscMessage message(address, OscTimeTag(0x0102030405060708));
    for (int i = 0; i < floats; ++i) {
      message.add_float(1.0F);
    }
    OscBuffer out;
    message.write_to(out, true);
    EXPECT_EQ(text_of(out.bytes(), out.size()), encoded) << address;
  }
}

TEST(OscPacketWriter, NestedBundleHasAZeroSizeFieldAndItsOwnTimeTag) {
  OscPacketWriter writer;
  EXPECT_EQ(writer.packet_bytes(), nullptr);
  writer.open_bundle(OscTimeTag::immediate()).open_bundle(OscTimeTag(0x0102030405060708));
  EXPECT_EQ(text_of(writer.packet_bytes(), writer.packet_size()),
            "#bundle\0\0\0\0\0\0\0\0\1\0\0\0\0#bundle\0\1\2\3\4\5\6\7\x08"s);
}

TEST(OscPacketWriter, AMessageAloneIsThePacketAndASecondIsErrorTenForGood) {
  OscMessage message("/a/x", OscTimeTag::immediate());
  message.add_int32(-2);
  OscPacketWriter writer;
  writer.add_message(message);
  EXPECT_EQ(text_of(writer.packet_bytes(), writer.packet_size()),
            "/a/x\0\0\0\0,i\0\0\xFF\xFF\xFF\xFE"s);
  EXPECT_EQ(writer.add_message(message).error_code(), 10);
  writer.open_bundle(OscTimeTag::immediate()).add_message(message);
  EXPECT_EQ(writer.error_code(), 10);
  EXPECT_EQ(writer.packet_size(), 0U);
  EXPECT_EQ(writer.packet_bytes(), nullptr);
}

} // namespace
