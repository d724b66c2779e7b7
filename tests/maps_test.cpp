// Map files and the engine that runs them, in-process: every kind of
// mistake once, and what each feature makes of a run of values.
#include "maps/map_engine.h"
#include "maps/map_file.h"
#include "ring/bridge_addresses.h"
#include "tap/message_splitter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

namespace {

using namespace std::string_literals;

std::vector<std::string> mistakes_in(const std::string &text) {
  MapFile map;
  std::vector<std::string> mistakes;
  const bool read = parse_map_text("m", text, map, mistakes);
  EXPECT_EQ(read, mistakes.empty());
  return mistakes;
}

TEST(MapFile, EveryMistakeIsSaidWithItsLineAndNoneStopsTheOthers) {
  const std::pair<const char *, const char *> lines[] = {
      {"/a <- /r/q", "unknown source /r/q (the bridge sends /b/0 /b/1 /b/2 /b/3 /b/4 /b/5 /b/6 "
                     "/b/7 /b/8 /b/9 /a/x /a/y /a/z /r/r /r/p /r/y /j/x /j/y /j/t /gest /g/x /g/y "
                     "/g/z)"},
      {"/a <- /r/r from 5..5 to 0..1", "the range 5..5 has equal ends"},
      {"/a/ <- /r/r", "\"/a/\" is not an OSC address (\"/\" and parts without spaces or #*,?[]{})"},
      {"/a b <- /r/r", "a rule reads ADDRESS <- SOURCE ..."},
      {"/a <- /r/r sometimes", "unknown word \"sometimes\""},
      {"/a <- /r/r clamp", "clamp needs a range (clamp 0..255) or a scale before it"},
      {"/a <- /r/r at most 0/s", "a rate limit reads \"at most 10/s\""},
      {"/a <- f /r/r", "\"f\" before any source: a rule reads ADDRESS <- SOURCE ..."},
      {"to 70000", "to: port must be a number from 1 to 65535, not \"70000\""},
      {"to 9001", "a second destination: a map has one (line 1)"},
      {"bundel", "unknown word \"bundel\" (a line is \"to\", \"midi\", \"bundle\" or a rule)"},
      {"\xC3(", "not UTF-8 text"},
  };
  std::string text = "to 9000\n";
  std::vector<std::string> expected;
  for (const auto &[line, reason] : lines) {
    text += line + "\n"s;
    expected.push_back("m:" + std::to_string(expected.size() + 2) + ": " + reason);
  }
  text += std::string(4097, '#') + "\n\x7F"
                                   "ELF\0\n"s;
  expected.push_back("m:14: a line longer than 4096 bytes");
  expected.push_back("m:15: a NUL byte: this is not a text file");
  EXPECT_EQ(mistakes_in(text), expected);
  EXPECT_EQ(mistakes_in("midi\ncc 200 <- /r/r\ncc 2 <- /r/r from 0..1 to 0..9\n"
                        "note 6 <- /b/0 channel 17\n/x <- /r/r\n"),
            (std::vector<std::string>{"m:2: cc needs a number from 0 to 127",
                                      "m:3: a MIDI value scales \"from -180..180\" to MIDI's range",
                                      "m:4: channel needs a whole number from 1 to 16",
                                      "m:5: an OSC rule in a map that sends MIDI"}));
  EXPECT_EQ(mistakes_in("/a <- /r/r\n"),
            std::vector<std::string>{"m: no destination: a line \"to [HOST:]PORT\" is missing"});
  MapFile map;
  std::vector<std::string> mistakes;
  EXPECT_FALSE(read_map_file("/nonexistent/x.map", map, mistakes));
  EXPECT_EQ(mistakes, std::vector<std::string>{
                          "/nonexistent/x.map: cannot be read (No such file or directory)"});
}

TEST(MapFile, ReadsEveryWordAsTheCheckShowsItWithAByteOrderMarkAndCrLf) {
  MapFile map;
  std::vector<std::string> mistakes;
  ASSERT_TRUE(parse_map_text(
      "m",
      "\xEF\xBB\xBF# a comment\r\nto [::1]:9000 # where\r\nbundle\r\n"
      "/x <- /j/x deadzone 5 around 1 from -100..100 to 1..-1 clamp /j/t bool above 0.5 "
      "changes\r\n/y <- /r/r smooth 50ms i clamp -3..3 /b/0 bool at most 2.5/s\r\n",
      map, mistakes));
  EXPECT_EQ(describe_map(map),
            "m: to [::1]:9000, one bundle per datagram received, 2 rules\n"
            "line 4: /x <- /j/x, dead zone 5 around 1, from -100..100 to 1..-1, clamped to -1..1, "
            "float (f); /j/t, bool: T above 0.5, else F; sent on change only\n"
            "line 5: /y <- /r/r, smoothed over 0.05 s, clamped to -3..3, int rounded (i); /b/0, "
            "bool: T when not 0, else F; at most 2.5/s, the last value always sent\n");
}

// A message as "ADDRESS,TAGS VALUE ..." (numbers as %g), a bundle as its
// elements in brackets.
std::string osc_text(const unsigned char *bytes, std::size_t size) {
  const auto word = [bytes](std::size_t at) {
    return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
           std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
  };
  if (size >= 16 && std::memcmp(bytes, "#bundle", 8) == 0) {
    std::string text = "[";
    for (std::size_t at = 16; at + 4 <= size; at += 4 + word(at)) {
      text += (text.size() > 1 ? " " : "") + osc_text(bytes + at + 4, word(at));
    }
    return text + "]";
  }
  std::string text(reinterpret_cast<const char *>(bytes),
                   strnlen(reinterpret_cast<const char *>(bytes), size));
  std::size_t at = (text.size() + 4) & ~std::size_t{3};
  const std::string tags(reinterpret_cast<const char *>(bytes + at));
  text += tags;
  at += (tags.size() + 4) & ~std::size_t{3};
  for (const char tag : tags.substr(1)) {
    if (tag == 'f' || tag == 'i') {
      const std::uint32_t bits = word(at);
      float value = 0;
      std::memcpy(&value, &bits, 4);
      char number[32];
      std::snprintf(number, sizeof number, " %g",
                    tag == 'f' ? value : static_cast<double>(static_cast<std::int32_t>(bits)));
      text += number;
      at += 4;
    }
  }
  return text;
}

// What a map sends for values arriving at times, each datagram as
// "ADDRESS,TAGS VALUE ..." and bundles in brackets, then how many values
// were dropped as not finite.
struct Arrival {
  const char *address;
  double value;
  std::int64_t at_ms;
};

std::string run_map(const std::string &rules, const std::vector<Arrival> &arrivals) {
  MapFile map;
  std::vector<std::string> mistakes;
  const bool midi = rules.rfind("midi", 0) == 0;
  EXPECT_TRUE(parse_map_text("m", (midi ? "" : "to 9000\n") + rules, map, mistakes)) << mistakes[0];
  MapEngine engine(map);
  std::string sent;
  const MapEngine::Send send = [&](const unsigned char *bytes, std::uint32_t size) {
    std::string text;
    for (std::uint32_t i = 0; midi && i < size; ++i) {
      char hex[4];
      std::snprintf(hex, sizeof hex, i == 0 ? "%02x" : " %02x", bytes[i]);
      text += hex;
    }
    sent += (sent.empty() ? "" : " | ") + (midi ? text : osc_text(bytes, size));
  };
  for (const Arrival &a : arrivals) {
    const int address = find_bridge_address(a.address);
    std::uint32_t bits = 0;
    if (bridge_addresses[address].type == 'i') {
      bits = static_cast<std::uint32_t>(static_cast<std::int32_t>(a.value));
    } else {
      const auto value = static_cast<float>(a.value);
      std::memcpy(&bits, &value, 4);
    }
    engine.send_due(a.at_ms * 1000, send);
    engine.take(address, 1, &bits, a.at_ms * 1000, send);
  }
  engine.send_due(1000000000, send);
  return engine.not_finite() == 0
             ? sent
             : sent + " (" + std::to_string(engine.not_finite()) + " not finite)";
}

TEST(MapEngine, EachWordDoesWhatItSays) {
  const double nan = std::nan("");
  const struct Case {
    const char *rules;
    std::vector<Arrival> arrivals;
    const char *sent;
  } cases[] = {
      {"/o <- /r/r from -180..180 to 1..-1 clamp",
       {{"/r/r", 90, 0}, {"/r/r", -400, 1}},
       "/o,f -0.5 | /o,f 1"},
      {"/o <- /j/x deadzone 10 around 5 i",
       {{"/j/x", 14, 0}, {"/j/x", 16, 1}, {"/j/x", -6, 2}},
       "/o,i 5 | /o,i 16 | /o,i -6"},
      {"/o <- /a/x deadzone 0.5", {{"/a/x", 0.3, 0}, {"/a/x", 0.7, 1}}, "/o,f 0 | /o,f 0.7"},
      {"/o <- /r/p i clamp 0..255",
       {{"/r/p", 2.5, 0}, {"/r/p", -2.5, 1}, {"/r/p", 300, 2}},
       "/o,i 3 | /o,i 0 | /o,i 255"},
      {"/o <- /a/x bool above 0.5 changes",
       {{"/a/x", 0.2, 0}, {"/a/x", 0.4, 1}, {"/a/x", 0.6, 2}, {"/a/x", 1, 3}, {"/a/x", 0, 4}},
       "/o,F | /o,T | /o,F"},
      // One time constant after a step, 63.2% of the way, at any rate.
      {"/o <- /a/x smooth 100ms", {{"/a/x", 0, 0}, {"/a/x", 1, 100}}, "/o,f 0 | /o,f 0.632121"},
      {"/o <- /a/x smooth 100ms from 0..1 to 100..200",
       {{"/a/x", 0, 0}, {"/a/x", 1, 100}},
       "/o,f 100 | /o,f 163.212"},
      {"/o <- /a/x smooth 0.1s",
       {{"/a/x", 0, 0}, {"/a/x", 1, 50}, {"/a/x", 1, 100}},
       "/o,f 0 | /o,f 0.393469 | /o,f 0.632121"},
      // The first value at once, the latest of those held at its turn.
      {"/o <- /g/x at most 10/s",
       {{"/g/x", 1, 0}, {"/g/x", 2, 20}, {"/g/x", 3, 50}, {"/g/x", 4, 250}},
       "/o,f 1 | /o,f 3 | /o,f 4"},
      // Not finite: counted, and the last finite value kept.
      {"/w <- /a/x /a/y /gest",
       {{"/a/y", 2, 0}, {"/gest", 7, 1}, {"/a/x", nan, 2}},
       "/w,ffi 0 2 0 | /w,ffi 0 2 7 (1 not finite)"},
      {"/o <- /r/r from -180..180 to -1..1 clamp /r/p",
       {{"/r/r", 90, 0}, {"/r/r", -HUGE_VAL, 1}, {"/r/p", nan, 2}, {"/r/p", 1, 3}},
       "/o,ff 0.5 0 | /o,ff 0.5 1 (2 not finite)"},
      {"bundle\n/p <- /a/x\n/q <- /a/x i\n/r <- /a/y", {{"/a/x", 1.25, 0}}, "[/p,f 1.25 /q,i 1]"},
      {"/o <- /a/x from 0..1e-30 to 0..1e30",
       {{"/a/x", 1, 0}, {"/a/x", 1e-31, 1}},
       "/o,f 1e+29 (1 not finite)"},
      // MIDI: the controls, the bend and the program change sent only on change.
      {"midi\ncc14 1 <- /r/r from -180..180 channel 2",
       {{"/r/r", 0, 0}, {"/r/r", 0.001, 1}, {"/r/r", 400, 2}},
       "b1 01 40 | b1 21 00 | b1 01 7f | b1 21 7f"},
      {"midi\nbend <- /a/x",
       {{"/a/x", 0, 0}, {"/a/x", 1, 1}, {"/a/x", -5, 2}},
       "e0 00 40 | e0 7f 7f | e0 00 00"},
      {"midi\nprogram <- /gest channel 16",
       {{"/gest", 5, 0}, {"/gest", 5, 1}, {"/gest", 200, 2}},
       "cf 05 | cf 7f"},
      {"midi\nnote 60 <- /a/x velocity from 0..2",
       {{"/a/x", 1, 0}, {"/a/x", 2, 1}, {"/a/x", 0, 2}, {"/a/x", 9, 3}},
       "90 3c 40 | 80 3c 00 | 90 3c 7f"},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(run_map(c.rules, c.arrivals), c.sent) << c.rules;
  }
}

TEST(MessageSplitter, EachMessageOfABundleDepthFirstAndAnythingElseWhole) {
  const unsigned char message[] = {'/', 'm', 0, 0, ',', 0, 0, 0};
  std::vector<unsigned char> inner = {'#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 0, 0, 0, 0, 0, 0, 0, 1};
  inner.insert(inner.end(), {0, 0, 0, 8});
  inner.insert(inner.end(), message, message + 8);
  std::vector<unsigned char> outer(inner.begin(), inner.begin() + 16);
  outer.insert(outer.end(), {0, 0, 0, 4, '/', 'a', 0, 0, 0, 0, 0, 28});
  outer.insert(outer.end(), inner.begin(), inner.end());
  outer.insert(outer.end(), {0, 0, 0, 16}); // an empty bundle
  outer.insert(outer.end(), inner.begin(), inner.begin() + 16);
  std::vector<std::vector<unsigned char>> sent;
  const auto send = [&](const unsigned char *bytes, std::uint32_t size) {
    sent.emplace_back(bytes, bytes + size);
  };
  split_messages(outer.data(), static_cast<std::uint32_t>(outer.size()), send);
  EXPECT_EQ(sent,
            (std::vector<std::vector<unsigned char>>{{'/', 'a', 0, 0}, {message, message + 8}}));
  sent.clear();
  split_messages(message, 8, send);
  outer.pop_back(); // no longer OSC: whole
  split_messages(outer.data(), static_cast<std::uint32_t>(outer.size()), send);
  EXPECT_EQ(sent, (std::vector<std::vector<unsigned char>>{{message, message + 8}, outer}));
}

} // namespace
