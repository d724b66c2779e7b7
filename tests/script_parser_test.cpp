// The simulated ring's script lines: what a line holds, and why a bad one is
// refused.
#include "ringsim/script_parser.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(ScriptParser, LinesAndWhatTheyHold) {
  struct Case {
    std::string line;
    ScriptLine result;
    std::int32_t kind;     // 77: the record was left alone
    std::uint32_t x_bits;  // the record's x
  };
  const Case cases[] = {
      {"  \t-2147483648\r", ScriptLine::event, INT32_MIN, 0},
      {"1 x=0x1p-3", ScriptLine::event, 1, 0x3E000000},
      {"1 x=3.4028235e38", ScriptLine::event, 1, 0x7F7FFFFF},
      {"1 x=1e-46", ScriptLine::event, 1, 0}, // underflow gives the nearest float
      {"", ScriptLine::nothing, 77, 0},
      {" \t\r", ScriptLine::nothing, 77, 0},
      {"  # 1 x=2", ScriptLine::nothing, 77, 0},
  };
  for (const Case &c : cases) {
    RingEvent event{};
    event.kind = 77;
    std::string reason;
    EXPECT_EQ(parse_script_line(c.line, event, reason), c.result) << c.line;
    std::uint32_t x_bits = 0;
    std::memcpy(&x_bits, &event.x, sizeof x_bits);
    EXPECT_EQ(event.kind, c.kind) << c.line;
    EXPECT_EQ(x_bits, c.x_bits) << c.line;
  }
}

TEST(ScriptParser, MalformedLinesSayWhyAndChangeNothing) {
  struct Case {
    std::string line;
    std::string reason;
  };
  const Case cases[] = {
      {"x=1", "bad kind \"x=1\""},
      {"1.5", "bad kind \"1.5\""},
      {"0x10", "bad kind \"0x10\""},
      {"2147483648", "kind out of range \"2147483648\""},
      {"-2147483649", "kind out of range \"-2147483649\""},
      {"1 w=3", "unknown field \"w\""},
      {"1 =4", "unknown field \"\""},
      {"1 x", "expected FIELD=VALUE, got \"x\""},
      {"1 x=1 # no comments after an event", "expected FIELD=VALUE, got \"#\""},
      {"1 x=", "missing value for x"},
      {"1 x=1.0f", "bad number for x: \"1.0f\""},
      {"1 x=1e39", "number out of range for x: \"1e39\""},
      {"3 j_x=1.5", "bad number for j_x: \"1.5\""},
      {"3 j_x=2147483648", "number out of range for j_x: \"2147483648\""},
      {std::string("1 x=1\0\x7F", 7), "bad number for x: \"1??\""},
      {"1 x=" + std::string(1000, 'q'), "bad number for x: \"" + std::string(40, 'q') + "...\""},
  };
  for (const Case &c : cases) {
    RingEvent event{};
    event.kind = 77;
    std::string reason;
    EXPECT_EQ(parse_script_line(c.line, event, reason), ScriptLine::malformed) << c.line;
    EXPECT_EQ(reason, c.reason);
    EXPECT_EQ(event.kind, 77) << c.line;
  }
}

} // namespace
