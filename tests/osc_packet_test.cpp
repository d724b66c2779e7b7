// What the real process cannot show cheaply: padding of every length, a
// nested bundle and the writer's error.
#include "osc/osc_packet.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes bytes_of(const OscBuffer &buffer) {
  return buffer.size() == 0 ? Bytes{} : Bytes(buffer.bytes(), buffer.bytes() + buffer.size());
}

Bytes packet_of(const OscPacketWriter &writer) {
  const unsigned char *bytes = writer.packet_bytes();
  return bytes == nullptr ? Bytes{} : Bytes(bytes, bytes + writer.packet_size());
}

TEST(OscMessage, StringsEndInOneToFourNuls) {
  struct Case {
    const char *address;
    int floats;
    Bytes encoded; // with the element size
  };
  const Case cases[] = {
      {"/ab", 0, {0, 0, 0, 8, '/', 'a', 'b', 0, ',', 0, 0, 0}},
      {"/a/x", 0, {0, 0, 0, 12, '/', 'a', '/', 'x', 0, 0, 0, 0, ',', 0, 0, 0}},
      {"/gest", 1, {0, 0, 0,   16,  '/', 'g', 'e',  's',  't', 0,
                    0, 0, ',', 'f', 0,   0,   0x3F, 0x80, 0,   0}},
      {"/ab/cd", 2, {0,   0,   0,   20, '/',  'a',  'b', '/', 'c',  'd',  0, 0,
                     ',', 'f', 'f', 0,  0x3F, 0x80, 0,   0,   0x3F, 0x80, 0, 0}},
      {"/a", 3, {0, 0, 0,    24,   '/', 'a', 0,    0,    ',', 'f', 'f',  'f',  0, 0,
                 0, 0, 0x3F, 0x80, 0,   0,   0x3F, 0x80, 0,   0,   0x3F, 0x80, 0, 0}},
  };
  for (const Case &c : cases) {
    OscMessage message(c.address, OscTimeTag(0x0102030405060708));
    for (int i = 0; i < c.floats; ++i) {
      message.add_float(1.0F);
    }
    OscBuffer out;
    message.write_to(out, true);
    EXPECT_EQ(bytes_of(out), c.encoded) << c.address;
  }
}

TEST(OscPacketWriter, NestedBundleHasAZeroSizeFieldAndItsOwnTimeTag) {
  OscPacketWriter writer;
  EXPECT_EQ(packet_of(writer), Bytes{});
  writer.open_bundle(OscTimeTag::immediate()).open_bundle(OscTimeTag(0x0102030405060708));
  const Bytes expected = {'#', 'b', 'u', 'n', 'd', 'l', 'e', 0,   0,   0, 0, 0, 0, 0, 0, 1, 0, 0,
                          0,   0,   '#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(packet_of(writer), expected);
}

TEST(OscPacketWriter, AMessageAloneIsThePacketAndASecondIsErrorTenForGood) {
  OscMessage message("/a/x", OscTimeTag::immediate());
  message.add_int32(-2);
  OscPacketWriter writer;
  writer.add_message(message);
  EXPECT_EQ(packet_of(writer),
            (Bytes{'/', 'a', '/', 'x', 0, 0, 0, 0, ',', 'i', 0, 0, 0xFF, 0xFF, 0xFF, 0xFE}));
  EXPECT_EQ(writer.add_message(message).error_code(), 10);
  writer.open_bundle(OscTimeTag::immediate()).add_message(message);
  EXPECT_EQ(writer.error_code(), 10);
  EXPECT_EQ(writer.packet_size(), 0U);
  EXPECT_EQ(writer.packet_bytes(), nullptr);
}

} // namespace
