// Golden bytes: every packet is compared with bytes written out by hand.
#include "osc/osc_packet.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes packet_of(const OscPacketWriter &writer) {
  const unsigned char *bytes = writer.packet_bytes();
  return bytes == nullptr ? Bytes{} : Bytes(bytes, bytes + writer.packet_size());
}

Bytes message_bytes(const OscMessage &message, bool with_size) {
  OscBuffer buffer;
  message.write_to(buffer, with_size);
  return Bytes(buffer.bytes(), buffer.bytes() + buffer.size());
}

const Bytes bundle_head = {0x23, 0x62, 0x75, 0x6E, 0x64, 0x6C, 0x65, 0x00,
                           0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01};

Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes &part : parts) {
    all.insert(all.end(), part.begin(), part.end());
  }
  return all;
}

TEST(PutBigEndian, WritesMostSignificantByteFirstForEveryType) {
  unsigned char out[8] = {};
  put_big_endian(std::uint64_t{0x0102030405060708}, out);
  EXPECT_EQ(Bytes(out, out + 8), (Bytes{1, 2, 3, 4, 5, 6, 7, 8}));
  put_big_endian(std::int32_t{-2}, out);
  EXPECT_EQ(Bytes(out, out + 4), (Bytes{0xFF, 0xFF, 0xFF, 0xFE}));
  put_big_endian(std::uint32_t{0xA1B2C3D4}, out);
  EXPECT_EQ(Bytes(out, out + 4), (Bytes{0xA1, 0xB2, 0xC3, 0xD4}));
  put_big_endian(1.0F, out);
  EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x3F, 0x80, 0x00, 0x00}));
}

TEST(OscBuffer, AppendZeroedGrowsByWholeWordsOfZeros) {
  OscBuffer buffer;
  EXPECT_EQ(buffer.bytes(), nullptr);
  EXPECT_EQ(buffer.size(), 0U);
  unsigned char *first = buffer.append_zeroed(1);
  EXPECT_EQ(buffer.size(), 4U);
  EXPECT_EQ(first, buffer.bytes());
  first[0] = 0xAA;
  unsigned char *second = buffer.append_zeroed(8);
  EXPECT_EQ(buffer.size(), 12U);
  EXPECT_EQ(second, buffer.bytes() + 4);
  const Bytes expected = {0xAA, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Bytes(buffer.bytes(), buffer.bytes() + buffer.size()), expected);
}

TEST(OscBuffer, GrowsPastItsReserveWithZeroFill) {
  OscBuffer buffer;
  std::uint32_t total = 0;
  for (std::uint32_t n = 1; n < 120; n += 7) {
    const unsigned char *added = buffer.append_zeroed(n);
    EXPECT_EQ(added, buffer.bytes() + total);
    for (std::uint32_t i = 0; i < round_up_4(n); ++i) {
      ASSERT_EQ(added[i], 0) << "append of " << n;
    }
    total += round_up_4(n);
    ASSERT_EQ(buffer.size(), total);
    ASSERT_EQ(buffer.size() % 4, 0U);
  }
  EXPECT_GT(total, OscBuffer::reserved_bytes);
}

TEST(OscPacketWriter, NewWriterHandsOutNothing) {
  OscPacketWriter writer;
  EXPECT_EQ(writer.packet_size(), 0U);
  EXPECT_EQ(writer.packet_bytes(), nullptr);
  EXPECT_EQ(writer.error_code(), 0);
}

TEST(OscPacketWriter, ImmediateBundleIsSixteenBytes) {
  OscPacketWriter writer;
  EXPECT_EQ(&writer.open_bundle(OscTimeTag::immediate()), &writer);
  EXPECT_EQ(packet_of(writer), bundle_head);
}

TEST(OscPacketWriter, TimeTagIsBigEndian) {
  OscPacketWriter writer;
  writer.open_bundle(OscTimeTag(0x0102030405060708));
  const Bytes expected = {0x23, 0x62, 0x75, 0x6E, 0x64, 0x6C, 0x65, 0x00, 1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(packet_of(writer), expected);
}

TEST(OscPacketWriter, NestedBundleGetsAZeroSizeFieldAhead) {
  OscPacketWriter writer;
  writer.open_bundle(OscTimeTag::immediate()).open_bundle(OscTimeTag::immediate());
  EXPECT_EQ(packet_of(writer), concat({bundle_head, Bytes{0, 0, 0, 0}, bundle_head}));
}

const Bytes a_x_with_one = {0x2F, 0x61, 0x2F, 0x78, 0, 0, 0, 0, 0x2C, 0x66, 0, 0, 0x3F, 0x80, 0, 0};

TEST(OscMessage, AddressesArePaddedWithOneToFourNuls) {
  struct Case {
    const char *address;
    Bytes encoded;
  };
  const Case cases[] = {
      {"/ab", {0x2F, 0x61, 0x62, 0, 0x2C, 0, 0, 0}},
      {"/a/x", {0x2F, 0x61, 0x2F, 0x78, 0, 0, 0, 0, 0x2C, 0, 0, 0}},
      {"/gest", {0x2F, 0x67, 0x65, 0x73, 0x74, 0, 0, 0, 0x2C, 0, 0, 0}},
      {"", {0, 0, 0, 0, 0x2C, 0, 0, 0}},
  };
  for (const Case &c : cases) {
    const OscMessage message(c.address, OscTimeTag::immediate());
    EXPECT_EQ(message_bytes(message, false), c.encoded) << c.address;
  }
}

TEST(OscMessage, WithoutArgumentsEndsAfterTheTypeTags) {
  const OscMessage message("/a/x", OscTimeTag::immediate());
  const Bytes expected = {0, 0, 0, 0x0C, 0x2F, 0x61, 0x2F, 0x78, 0, 0, 0, 0, 0x2C, 0, 0, 0};
  EXPECT_EQ(message_bytes(message, true), expected);
}

TEST(OscMessage, ArgumentsKeepTheirOrderAndBits) {
  OscMessage message("/m", OscTimeTag::immediate());
  EXPECT_EQ(&message.add_float(1.0F).add_int32(-2), &message);
  const Bytes expected = {0x2F, 0x6D, 0, 0, 0x2C, 0x66, 0x69, 0,
                          0x3F, 0x80, 0, 0, 0xFF, 0xFF, 0xFF, 0xFE};
  EXPECT_EQ(message_bytes(message, false), expected);
}

TEST(OscMessage, TimeTagIsNeverWritten) {
  OscMessage message("/a/x", OscTimeTag(0x0102030405060708));
  message.add_float(1.0F);
  EXPECT_EQ(message_bytes(message, false), a_x_with_one);
  EXPECT_EQ(message.message_time_tag().value(), 0x0102030405060708U);
}

TEST(OscMessage, ManyArgumentsGrowPastTheReserve) {
  OscMessage message("/many", OscTimeTag::immediate());
  for (std::int32_t i = 0; i < 100; ++i) {
    message.add_int32(i);
  }
  const Bytes bytes = message_bytes(message, true);
  // size field (8 + 104 + 400 = 0x200), address, type tags (comma, 100 tags, NUL: 102 -> 104),
  // arguments
  ASSERT_EQ(bytes.size(), 4U + 8U + 104U + 400U);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 4), (Bytes{0, 0, 0x02, 0x00}));
  EXPECT_EQ(Bytes(bytes.end() - 4, bytes.end()), (Bytes{0, 0, 0, 99}));
}

TEST(OscPacketWriter, ThreeFloatBundleIsSeventySixBytes) {
  OscMessage px("/a/x", OscTimeTag::immediate());
  OscMessage py("/a/y", OscTimeTag::immediate());
  OscMessage pz("/a/z", OscTimeTag::immediate());
  OscPacketWriter writer;
  writer.open_bundle(OscTimeTag::immediate())
      .add_message(px.add_float(1.0F))
      .add_message(py.add_float(2.0F))
      .add_message(pz.add_float(-0.5F));
  const Bytes expected = concat(
      {bundle_head,
       {0, 0, 0, 0x10, 0x2F, 0x61, 0x2F, 0x78, 0, 0, 0, 0, 0x2C, 0x66, 0, 0, 0x3F, 0x80, 0, 0},
       {0, 0, 0, 0x10, 0x2F, 0x61, 0x2F, 0x79, 0, 0, 0, 0, 0x2C, 0x66, 0, 0, 0x40, 0x00, 0, 0},
       {0, 0, 0, 0x10, 0x2F, 0x61, 0x2F, 0x7A, 0, 0, 0, 0, 0x2C, 0x66, 0, 0, 0xBF, 0x00, 0, 0}});
  EXPECT_EQ(writer.packet_size(), 76U);
  EXPECT_EQ(packet_of(writer), expected);
}

TEST(OscPacketWriter, GestureBundleIsThirtySixBytes) {
  OscMessage gest("/gest", OscTimeTag::immediate());
  OscPacketWriter writer;
  writer.open_bundle(OscTimeTag::immediate()).add_message(gest.add_int32(3));
  const Bytes expected = concat({bundle_head, {0, 0, 0,    0x10, 0x2F, 0x67, 0x65, 0x73, 0x74, 0,
                                               0, 0, 0x2C, 0x69, 0,    0,    0,    0,    0,    3}});
  EXPECT_EQ(packet_of(writer), expected);
}

TEST(OscPacketWriter, SameMessageTwiceWritesTwoIdenticalElements) {
  OscMessage message("/a/x", OscTimeTag::immediate());
  message.add_float(1.0F);
  OscPacketWriter writer;
  writer.open_bundle(OscTimeTag::immediate()).add_message(message).add_message(message);
  const Bytes element = concat({{0, 0, 0, 0x10}, a_x_with_one});
  EXPECT_EQ(packet_of(writer), concat({bundle_head, element, element}));
}

TEST(OscPacketWriter, MessageAloneIsTheWholePacket) {
  OscMessage message("/a/x", OscTimeTag::immediate());
  OscPacketWriter writer;
  writer.add_message(message.add_float(1.0F));
  EXPECT_EQ(packet_of(writer), a_x_with_one);
  EXPECT_EQ(writer.error_code(), 0);
}

TEST(OscPacketWriter, SecondMessageOutsideABundleIsAnErrorThatStays) {
  OscMessage message("/a/x", OscTimeTag::immediate());
  message.add_float(1.0F);
  OscPacketWriter writer;
  writer.add_message(message).add_message(message);
  EXPECT_EQ(writer.error_code(), 10);
  EXPECT_EQ(writer.packet_size(), 0U);
  EXPECT_EQ(writer.packet_bytes(), nullptr);
  // Later appends happen but are never handed out, and the error stays.
  writer.open_bundle(OscTimeTag::immediate()).add_message(message);
  EXPECT_EQ(writer.error_code(), 10);
  EXPECT_EQ(writer.packet_size(), 0U);
  EXPECT_EQ(writer.packet_bytes(), nullptr);
}

} // namespace
