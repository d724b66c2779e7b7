// The simulated ring's script lines, good and malformed.
#include "ringsim/script_parser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

std::uint32_t bits(float value) {
  std::uint32_t out = 0;
  std::memcpy(&out, &value, sizeof out);
  return out;
}

TEST(ScriptParser, ReadsKindAndEveryField) {
  RingEvent event{};
  std::string reason;
  ASSERT_EQ(parse_script_line("0 j_x=-1 j_y=2 x=1.5 y=-0.0 z=0x1p-2 j_t=3 r_r=4 r_p=5 r_y=6 "
                              "b_number=7 b_value=-8 gest_value=2147483647",
                              event, reason),
            ScriptLine::event)
      << reason;
  EXPECT_EQ(event.kind, 0);
  EXPECT_EQ(event.j_x, -1);
  EXPECT_EQ(event.j_y, 2);
  EXPECT_EQ(event.x, 1.5F);
  EXPECT_EQ(bits(event.y), 0x80000000U);
  EXPECT_EQ(event.z, 0.25F);
  EXPECT_EQ(event.j_t, 3);
  EXPECT_EQ(event.r_r, 4.0F);
  EXPECT_EQ(event.r_p, 5.0F);
  EXPECT_EQ(event.r_y, 6.0F);
  EXPECT_EQ(event.b_number, 7.0F);
  EXPECT_EQ(event.b_value, -8);
  EXPECT_EQ(event.gest_value, 2147483647);
}

TEST(ScriptParser, FieldsNotNamedAreZero) {
  RingEvent event{};
  event.x = 9.0F;
  std::string reason;
  ASSERT_EQ(parse_script_line("  \t-2147483648\r", event, reason), ScriptLine::event);
  EXPECT_EQ(event.kind, INT32_MIN);
  EXPECT_EQ(bits(event.x), 0U);
  EXPECT_EQ(event.gest_value, 0);
}

TEST(ScriptParser, TakesWhatStrtofTakes) {
  struct Case {
    const char *text;
    std::uint32_t bits;
  };
  const Case cases[] = {{"inf", 0x7F800000U},     {"-inf", 0xFF800000U},
                        {"-0.0", 0x80000000U},    {"1e-45", 0x00000001U},
                        {"0x1.8p1", 0x40400000U}, {"3.4028235e38", 0x7F7FFFFFU}};
  for (const Case &c : cases) {
    RingEvent event{};
    std::string reason;
    ASSERT_EQ(parse_script_line(std::string("1 x=") + c.text, event, reason), ScriptLine::event)
        << c.text << ": " << reason;
    EXPECT_EQ(bits(event.x), c.bits) << c.text;
  }
  RingEvent event{};
  std::string reason;
  ASSERT_EQ(parse_script_line("1 x=nan y=-nan", event, reason), ScriptLine::event);
  EXPECT_TRUE(std::isnan(event.x));
  EXPECT_TRUE(std::isnan(event.y));
}

TEST(ScriptParser, BlankAndCommentLinesHoldNoEvent) {
  for (const char *line : {"", "   ", "\t\r", "# 1 x=2", "   #comment", "#"}) {
    RingEvent event{};
    std::string reason;
    EXPECT_EQ(parse_script_line(line, event, reason), ScriptLine::nothing) << line;
  }
}

TEST(ScriptParser, MalformedLinesSayWhy) {
  struct Case {
    std::string line;
    const char *reason;
  };
  const Case cases[] = {
      {"x=1", "bad kind \"x=1\""},
      {"one", "bad kind \"one\""},
      {"1.5", "bad kind \"1.5\""},
      {"0x10", "bad kind \"0x10\""},
      {"2147483648", "kind out of range \"2147483648\""},
      {"-2147483649", "kind out of range \"-2147483649\""},
      {"99999999999999999999999", "kind out of range \"99999999999999999999999\""},
      {"1 w=3", "unknown field \"w\""},
      {"1 X=3", "unknown field \"X\""},
      {"1 x", "expected FIELD=VALUE, got \"x\""},
      {"1 x=", "missing value for x"},
      {"1 x=1.0f", "bad number for x: \"1.0f\""},
      {"1 x=1e39", "number out of range for x: \"1e39\""},
      {"3 j_x=1.5", "bad number for j_x: \"1.5\""},
      {"3 j_x=2147483648", "number out of range for j_x: \"2147483648\""},
      {"1 x=1 # comment", "expected FIELD=VALUE, got \"#\""},
      {std::string("1 x=1\0"
                   "5",
                   7),
       "bad number for x: \"1?5\""},
      {"1 =4", "unknown field \"\""},
  };
  for (const Case &c : cases) {
    RingEvent event{};
    event.kind = 77;
    std::string reason;
    EXPECT_EQ(parse_script_line(c.line, event, reason), ScriptLine::malformed) << c.line;
    EXPECT_EQ(reason, c.reason) << c.line;
    EXPECT_EQ(event.kind, 77) << "a malformed line changed the record";
  }
}

TEST(ScriptParser, LongTokensAreShortenedInTheReason) {
  RingEvent event{};
  std::string reason;
  const std::string garbage(100000, 'q');
  EXPECT_EQ(parse_script_line("1 x=" + garbage, event, reason), ScriptLine::malformed);
  EXPECT_LT(reason.size(), 80U);
}

} // namespace
