// Which messages each event kind puts into its bundle, checked through an
// independent decoder.
#include "bridge/event_messages.h"
#include "tests/support/osc_decoder.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace {

float float_of(std::uint32_t bits) {
  float value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

// Every field set to a distinct value, so a message that reads the wrong
// field, or a kind that reads a field it should not, shows up.
RingEvent distinct_record(std::int32_t kind) {
  RingEvent event{};
  event.kind = kind;
  event.j_x = -1;
  event.j_y = 2;
  event.unused_12 = 0x5555;
  event.x = 1.0F;
  event.y = 0.0F;
  event.z = -1.0F;
  event.j_t = 3;
  event.r_r = 0.25F;
  event.r_p = -0.5F;
  event.r_y = 180.0F;
  event.b_number = 4.0F;
  event.b_value = 7;
  event.unused_52 = 0x6666;
  event.gest_value = 5;
  return event;
}

struct Expected {
  std::string address;
  char type;
  std::uint32_t bits;
};

std::vector<Expected> decoded(const RingEvent &event) {
  OscPacketWriter pkt;
  pkt.open_bundle(OscTimeTag::immediate());
  add_event_messages(event, pkt);
  const DecodedBundle bundle = decode_bundle(pkt.packet_bytes(), pkt.packet_size());
  EXPECT_TRUE(bundle.valid) << bundle.error;
  EXPECT_EQ(bundle.time_tag, 1U);
  std::vector<Expected> messages;
  for (const DecodedMessage &message : bundle.messages) {
    EXPECT_EQ(message.arguments.size(), 1U) << message.address;
    messages.push_back(
        {message.address, message.arguments.at(0).type, message.arguments.at(0).bits});
  }
  return messages;
}

bool operator==(const Expected &a, const Expected &b) {
  return a.address == b.address && a.type == b.type && a.bits == b.bits;
}

std::ostream &operator<<(std::ostream &out, const Expected &e) {
  return out << e.address << " " << e.type << " " << std::hex << e.bits;
}

TEST(EventMessages, EachKindSendsItsFieldsInTableOrder) {
  struct Case {
    std::int32_t kind;
    std::vector<Expected> messages;
  };
  const Case cases[] = {
      {0, {{"/b/4", 'i', 7}}},
      {1, {{"/a/x", 'f', 0x3F800000}, {"/a/y", 'f', 0}, {"/a/z", 'f', 0xBF800000}}},
      {2, {{"/r/r", 'f', 0x3E800000}, {"/r/p", 'f', 0xBF000000}, {"/r/y", 'f', 0x43340000}}},
      {3, {{"/j/x", 'i', 0xFFFFFFFF}, {"/j/y", 'i', 2}, {"/j/t", 'i', 3}}},
      {4, {{"/gest", 'i', 5}}},
      {9, {{"/g/x", 'f', 0x3F800000}, {"/g/y", 'f', 0}, {"/g/z", 'f', 0xBF800000}}},
      {5, {}},
      {6, {}},
      {7, {}},
      {8, {}},
      {10, {}},
      {11, {}},
      {12, {}},
      {-1, {}},
      {INT32_MIN, {}},
      {INT32_MAX, {}},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(decoded(distinct_record(c.kind)), c.messages) << "kind " << c.kind;
  }
}

TEST(EventMessages, ButtonNumberMustBeExactlyZeroToNine) {
  struct Case {
    float b_number;
    const char *address; // nullptr: no message
  };
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  const Case cases[] = {
      {0.0F, "/b/0"}, {-0.0F, "/b/0"},  {1.0F, "/b/1"},       {2.0F, "/b/2"},    {3.0F, "/b/3"},
      {4.0F, "/b/4"}, {5.0F, "/b/5"},   {6.0F, "/b/6"},       {7.0F, "/b/7"},    {8.0F, "/b/8"},
      {9.0F, "/b/9"}, {10.0F, nullptr}, {2.5F, nullptr},      {-1.0F, nullptr},  {nan, nullptr},
      {inf, nullptr}, {-inf, nullptr},  {8.999999F, nullptr}, {1e-45F, nullptr},
  };
  for (const Case &c : cases) {
    RingEvent event = distinct_record(0);
    event.b_number = c.b_number;
    event.b_value = INT32_MIN;
    const std::vector<Expected> expected =
        c.address == nullptr ? std::vector<Expected>{}
                             : std::vector<Expected>{{c.address, 'i', 0x80000000}};
    EXPECT_EQ(decoded(event), expected) << "b_number " << c.b_number;
  }
}

TEST(EventMessages, FloatBitPatternsSurvive) {
  const std::uint32_t patterns[] = {0x7FC00000, 0xFFC00001, 0x7F800001, 0x7FA5A5A5,
                                    0x7F800000, 0xFF800000, 0x80000000, 0x00000001};
  for (const std::uint32_t pattern : patterns) {
    for (const std::int32_t kind : {1, 2, 9}) {
      RingEvent event{};
      event.kind = kind;
      event.x = event.y = event.z = float_of(pattern);
      event.r_r = event.r_p = event.r_y = float_of(pattern);
      for (const Expected &message : decoded(event)) {
        EXPECT_EQ(message.bits, pattern) << message.address;
      }
    }
  }
}

} // namespace
