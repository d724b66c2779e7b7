// The simulated ring's scripts, as people's editors save them, and its pacing.
#include "ringsim/demo_stream.h"
#include "ringsim/pacing.h"
#include "ringsim/script_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <sstream>

namespace {

// What a script, given a last line end, plays: "[@TIME ]KIND x=BITS" per
// event, "LINE: reason" per malformed line, joined by '|'.
std::string played(const std::string &script, const char *end = "\n") {
  std::istringstream input(script + end);
  ScriptReader reader(input);
  std::ostringstream out;
  std::string reason;
  RingEvent event{};
  for (;;) {
    event.kind = 77; // a line that holds no event leaves it so
    const ScriptReader::Outcome outcome = reader.next(event, reason);
    std::uint32_t x_bits = 0;
    std::memcpy(&x_bits, &event.x, sizeof x_bits);
    out << (outcome == ScriptReader::Outcome::end || out.tellp() == 0 ? "" : "|") << std::hex
        << std::uppercase;
    if (outcome == ScriptReader::Outcome::event) {
      out << std::dec << (reader.time_us() < 0 ? "" : "@" + std::to_string(reader.time_us()) + " ")
          << event.kind << " x=" << std::hex << x_bits;
    } else if (outcome == ScriptReader::Outcome::malformed) {
      out << std::dec << reader.line_number() << ": " << reason << (event.kind == 77 ? "" : "!");
    } else if (outcome == ScriptReader::Outcome::utf16) {
      out << "UTF-16";
    } else {
      return out.str();
    }
  }
}

TEST(Script, EachLineIsAnEventNothingOrAReason) {
  const std::string long_line(65537, '9'); // 64 KiB and one byte
  const std::pair<std::string, std::string> cases[] = {
      {"  \t-2147483648\r", "-2147483648 x=0"},
      {"1 x=0x1p-3\n1 x=3.4028235e38\n1 x=1e-46", "1 x=3E000000|1 x=7F7FFFFF|1 x=0"},
      {"1 x=bits:7F800001\n1 x=bits:7f80000\n1 x=bits:7F80000G\n3 j_x=bits:00000001",
       R"(1 x=7F800001|2: bad number for x: "bits:7f80000"|3: bad number for x: "bits:7F80000G"|)"
       R"(4: bad number for j_x: "bits:00000001")"},
      {"\n \t\r\n  # 1 x=2\n", ""},
      {"\xEF\xBB\xBF"
       "11\r\n4 x=1\r\n",
       "11 x=0|4 x=3F800000"},
      {"\xFF\xFE"
       "1\0\n\0",
       "UTF-16"},
      {std::string("\xFE\xFF\0"
                   "1\0\n",
                   6),
       "UTF-16"},
      {long_line + "\n4\n" + long_line, "1: line too long|4 x=0|3: line too long"},
      {long_line.substr(1) + "\n",
       R"(1: kind out of range "9999999999999999999999999999999999999999...")"},
      {"x=1", R"(1: bad kind "x=1")"},
      {"1.5\n0x10", R"(1: bad kind "1.5"|2: bad kind "0x10")"},
      {"2147483648\n-2147483649",
       R"(1: kind out of range "2147483648"|2: kind out of range "-2147483649")"},
      {"1 w=3\n1 =4", R"(1: unknown field "w"|2: unknown field "")"},
      {"1 x\n1 x=1 # no comment after an event",
       R"(1: expected FIELD=VALUE, got "x"|2: expected FIELD=VALUE, got "#")"},
      {"1 x=\n1 x=1.0f", R"(1: missing value for x|2: bad number for x: "1.0f")"},
      {"1 x=1e39\n3 j_x=1.5\n3 j_x=2147483648",
       R"(1: number out of range for x: "1e39"|2: bad number for j_x: "1.5"|)"
       R"(3: number out of range for j_x: "2147483648")"},
      {std::string("1 x=1\0\x7F", 7), R"(1: bad number for x: "1??")"},
  };
  for (const auto &[script, expected] : cases) {
    EXPECT_EQ(played(script), expected);
  }
}

TEST(Script, TimesCommentsOfAnyLengthAndALastLineCutShort) {
  const std::string long_comment = "# " + std::string(131072, 'f');
  const std::pair<std::string, std::string> cases[] = {
      {"@0 11\n@1.5 1 x=1\n  @0.000001 -1\n4", "@0 11 x=0|@1500000 1 x=3F800000|@1 -1 x=0|4 x=0"},
      {"@12.1234567 4\n@-1 4\n@1. 4\n@.5 4\n@1e3 4\n@2000000 4\n@1",
       R"(1: bad time "@12.1234567": @SECONDS, at most 6 decimals|)"
       R"(2: bad time "@-1": @SECONDS, at most 6 decimals|3: bad time "@1.": @SECONDS, at most 6 )"
       R"(decimals|4: bad time "@.5": @SECONDS, at most 6 decimals|5: bad time "@1e3": @SECONDS, )"
       R"(at most 6 decimals|6: bad time "@2000000": @SECONDS, at most 6 decimals|)"
       "7: no event after the time"},
      {long_comment + "\n4\n" + long_comment, "4 x=0"},
  };
  for (const auto &[script, expected] : cases) {
    EXPECT_EQ(played(script), expected);
  }
  EXPECT_EQ(played("4\n@1 4 gest_value=5", ""),
            "4 x=0|2: the last line has no line end: cut short?");
  EXPECT_EQ(played("4\n# cut sho", ""), "4 x=0");
}

TEST(Pacing, EachEventIsDueAtAnAbsolutePointAndOnlyAStallMovesTheRest) {
  struct Step {
    std::int64_t at, woke, due; // microseconds; at -1: no time; due -1: next pass
    bool earlier;
  };
  // One interval is 10 ms; the third sequence plays at twice the speed.
  const std::vector<std::vector<Step>> sequences = {
      {{-1, 0, 0, false},
       {-1, 15000, 10000, false},
       {-1, 20000, 20000, false},
       {-1, 269999, 30000, false},
       {-1, 340000, 40000, false},
       {-1, 350000, 350000, false}},
      {{2000000, 2000000, 2000000, false},
       {-1, 2010000, 2010000, false},
       {1000000, 2010000, 2010000, true},
       {2500000, 2500000, 2500000, false},
       {0, 0, -1, false},
       {0, 2510000, 2510000, false},
       {-1, 2520000, 2520000, false},
       {0, 0, -1, false},
       {-1, 2530000, 2530000, false}},
      {{1000000, 500000, 500000, false},
       {-1, 505000, 505000, false},
       {500000, 505000, 505000, true}},
  };
  for (std::size_t n = 0; n < sequences.size(); ++n) {
    Pacing pacing(10000, n == 2 ? 2 : 1);
    for (const Step &step : sequences[n]) {
      if (step.due < 0) {
        pacing.next_pass();
        continue;
      }
      bool earlier = false;
      EXPECT_EQ(pacing.due(step.at, earlier), step.due) << n << ": " << step.at;
      EXPECT_EQ(earlier, step.earlier) << n << ": " << step.at;
      pacing.woke(step.due, step.woke);
    }
  }
}

TEST(Demo, TheJoystickTouchAlternatesAndTheGyroscopeFollowsTheClock) {
  RingEvent events[demo_max_events_per_tick];
  std::vector<std::int32_t> touches;
  for (std::uint64_t tick = 0; tick < 50; ++tick) {
    const int count = demo_tick_events(tick, events);
    for (int i = 0; i < count; ++i) {
      if (events[i].kind == 3) {
        touches.push_back(events[i].j_t);
      }
      if (events[i].kind == 9 && tick == 0) {
        EXPECT_EQ(events[i].x, 1.3F); // 1.3 cos(0)
      }
    }
  }
  EXPECT_EQ(touches, (std::vector<std::int32_t>{0, 1, 0, 1, 0}));
}

} // namespace
