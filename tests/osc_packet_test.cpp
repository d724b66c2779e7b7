// What the real process cannot show cheaply: padding of every length, a
// nested bundle and the writer's error; what the reader makes of every way a
// packet can go wrong; and the bridge's encoder held against its table.
#include "bridge/event_messages.h"
#include "osc/osc_packet.h"
#include "osc/osc_reader.h"
#include "ring/bridge_addresses.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <tuple>
#include <vector>

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

TEST(OscReader, SaysWhatIsWrongAndReadsNothingOutsideThePacket) {
  const std::string bundle = "#bundle\0\0\0\0\0\0\0\0\1"s;
  const std::string message = "/b/3\0\0\0\0,i\0\0\0\0\0\1"s;
  // Bundles in bundles, as deep as a datagram holds them: followed to the end.
  const auto in_a_bundle = [&](const std::string &element) {
    const auto n = static_cast<std::uint32_t>(element.size());
    return bundle + static_cast<char>(n >> 24) + static_cast<char>(n >> 16 & 0xFF) +
           static_cast<char>(n >> 8 & 0xFF) + static_cast<char>(n & 0xFF) + element;
  };
  std::string deep = message, deep_and_wrong = "/a\0\0,i\0\0"s;
  for (int level = 0; level < 3000; ++level) {
    deep = in_a_bundle(deep);
    deep_and_wrong = in_a_bundle(deep_and_wrong);
  }
  const std::pair<std::string, std::string> cases[] = {
      {message, ""},
      {bundle + "\0\0\0\x10"s + message + "\0\0\0\x10"s + bundle, ""},
      {"/a\0\0"s, ""}, // no type tags at all: old OSC
      {"/a\0\0,sbhTd[]\0\0\0\0abc\0\0\0\0\1x\0\0\0"s + std::string(16, '\0'), ""},
      {"/a\0\0,q\0\0"s, "unmeasured"},
      {deep, ""},
      {deep_and_wrong, "argument runs past the end"},
      {"", "empty"},
      {message.substr(0, 14), "length not a multiple of 4"},
      {"#bundle\0\0\0\0\0"s, "neither a message nor a bundle"},
      {bundle + "\0\0"s, "length not a multiple of 4"},
      {bundle + "\0\0\0\x14"s + message, "bundle element runs past the end"},
      {bundle + "\0\0\0\x04xyz\0"s, "neither a message nor a bundle"},
      {"/abc"s, "address without its NUL"},
      {"/a\0\0xi\0\0\0\0\0\0"s, "type tags without their comma"},
      {"/a\0\0,iii"s, "type tags without their NUL"},
      {"/a\0\0,i\0\0"s, "argument runs past the end"},
      {"/a\0\0,s\0\0abcd"s, "argument runs past the end"},
      {"/a\0\0,b\0\0\0\0\0\x09xyzw"s, "argument runs past the end"},
      {"/a\0\0,b\0\0\xFF\xFF\xFF\xFF"s, "argument runs past the end"},
      {"/a\0\0,\0\0\0\0\0\0\0"s, "bytes left after the arguments"},
  };
  for (const auto &[bytes, problem] : cases) {
    // A copy of its own, so that a read past the end is seen by the sanitizers.
    const std::vector<unsigned char> packet(bytes.begin(), bytes.end());
    const OscCheck check = check_osc_packet(packet.data(), packet.size());
    const std::string found = check.form == OscForm::unmeasured ? "unmeasured" : check.problem;
    EXPECT_EQ(found, problem) << testing::PrintToString(bytes);
    EXPECT_EQ(check.form == OscForm::malformed, !found.empty() && found != "unmeasured");
  }
}

// Each row of the table, sent with a value of its own, comes out of the
// encoder in its place among its event's messages, under its address, with
// its type and exact bits; a button event holds one message, others all
// their kind's rows.
TEST(BridgeAddresses, TheEncoderSendsEveryRowOfTheTable) {
  for (int row = 0; row < bridge_address_count; ++row) {
    const BridgeAddress &a = bridge_addresses[row];
    int first = row;
    while (a.kind != 0 && first > 0 && bridge_addresses[first - 1].kind == a.kind) {
      --first;
    }
    RingEvent event{};
    event.kind = a.kind;
    event.b_number = static_cast<float>(row - first_button_address);
    const std::uint32_t bits = 0x7F800001U + static_cast<std::uint32_t>(row); // NaNs as ints too
    std::memcpy(reinterpret_cast<unsigned char *>(&event) + a.offset, &bits, sizeof bits);
    OscPacketWriter pkt;
    pkt.open_bundle(OscTimeTag::immediate());
    add_event_messages(event, pkt);

    OscBundleReader bundle(pkt.packet_bytes(), pkt.packet_size());
    const unsigned char *element = nullptr;
    std::size_t size = 0;
    std::vector<OscMessageView> messages;
    while (bundle.next(element, size)) {
      messages.emplace_back();
      ASSERT_TRUE(read_osc_message(element, size, messages.back()));
    }
    const auto of_kind = std::count_if(std::begin(bridge_addresses), std::end(bridge_addresses),
                                       [&](const BridgeAddress &b) { return b.kind == a.kind; });
    ASSERT_EQ(messages.size(), a.kind == 0 ? 1U : static_cast<std::size_t>(of_kind)) << a.address;
    const OscMessageView &message = messages[static_cast<std::size_t>(row - first)];
    EXPECT_STREQ(message.address, a.address);
    EXPECT_EQ(message.type_tags, std::string(1, a.type));
    ASSERT_EQ(message.arguments_size, 4U);
    EXPECT_EQ(read_osc_uint32(message.arguments), bits) << a.address;
  }
}

} // namespace
