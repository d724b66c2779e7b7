// The simulated ring's script lines: what a line holds, and why a bad one is
// refused without touching the record.
#include "ringsim/script_parser.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

TEST(ScriptParser, EachLineGivesAnEventNothingOrAReason) {
  struct Case {
    std::string line;
    std::string reason;   // "event", "nothing" or why the line is malformed
    std::int32_t kind;    // 77: the record was left alone
    std::uint32_t x_bits; // the record's x
  };
  const Case cases[] = {
      {"  \t-2147483648\r", "event", INT32_MIN, 0},
      {"1 x=0x1p-3", "event", 1, 0x3E000000},
      {"1 x=3.4028235e38", "event", 1, 0x7F7FFFFF},
      {"1 x=1e-46", "event", 1, 0}, // underflow gives the nearest float
      {"", "nothing", 77, 0},
      {" \t\r", "nothing", 77, 0},
      {"  # 1 x=2", "nothing", 77, 0},
      {"x=1", "bad kind \"x=1\"", 77, 0},
      {"1.5", "bad kind \"1.5\"", 77, 0},
      {"0x10", "bad kind \"0x10\"", 77, 0},
      {"2147483648", "kind out of range \"2147483648\"", 77, 0},
      {"-2147483649", "kind out of range \"-2147483649\"", 77, 0},
      {"1 w=3", "unknown field \"w\"", 77, 0},
      {"1 =4", "unknown field \"\"", 77, 0},
      {"1 x", "expected FIELD=VALUE, got \"x\"", 77, 0},
      {"1 x=1 # no comments after an event", "expected FIELD=VALUE, got \"#\"", 77, 0},
      {"1 x=", "missing value for x", 77, 0},
      {"1 x=1.0f", "bad number for x: \"1.0f\"", 77, 0},
      {"1 x=1e39", "number out of range for x: \"1e39\"", 77, 0},
      {"3 j_x=1.5", "bad number for j_x: \"1.5\"", 77, 0},
      {"3 j_x=2147483648", "number out of range for j_x: \"2147483648\"", 77, 0},
      {std::string("1 x=1\0\x7F", 7), "bad number for x: \"1??\"", 77, 0},
      {"1 x=" + std::string(99, 'q'), "bad number for x: \"" + std::string(40, 'q') + "...\"", 77,
       0},
  };
  for (const Case &c : cases) {
    RingEvent event{};
    event.kind = 77;
    std::string reason;
    const ScriptLine result = parse_script_line(c.line, event, reason);
    EXPECT_EQ(result == ScriptLine::event     ? "event"
              : result == ScriptLine::nothing ? "nothing"
                                              : reason,
              c.reason);
    std::uint32_t x_bits = 0;
    std::memcpy(&x_bits, &event.x, sizeof x_bits);
    EXPECT_EQ(event.kind, c.kind) << c.line;
    EXPECT_EQ(x_bits, c.x_bits) << c.line;
  }
}

} // namespace
