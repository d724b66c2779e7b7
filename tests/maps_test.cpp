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
      {"//a <- /r/r", "\"//a\" is not an OSC address (\"/\" and parts without spaces or #*,?[]{})"},
      {"/a b <- /r/r", "a rule reads ADDRESS <- SOURCE ..."},
      {"/a <- /r/r sometimes", "unknown word \"sometimes\""},
      {"/a <- /r/r clamp", "clamp needs a range (clamp 0..255) or a scale before it"},
      {"/a <- /r/r at most 0/s", "a rate limit reads \"at most 10/s\""},
      {"/a <- f /r/r", "\"f\" before any source: a rule reads ADDRESS <- SOURCE ..."},
      {"to 70000", "to: port must be a number from 1 to 65535, not \"70000\""},
      {"to 9001", "a second destination: a map has one (line 1)"},
      {"bundel", "unknown word \"bundel\" (a line is \"to\", \"midi\", \"bundle\" or a rule)"},
      {"to service VRChat-*", "a service reads \"to service NAME-PATTERN else [HOST:]PORT\""},
      {"to service V-* else 70000",
       "to service V-* else: port must be a number from 1 to 65535, not \"70000\""},
      {"\xC3(", "not UTF-8 text"},
      // A word twice, or one that means nothing for the rule: both named.
      {"/a <- /r/r from 0..1 to 0..2 from 0..1 to 0..3",
       "\"from 0..1 to 0..3\" after \"from 0..1 to 0..2\": a value takes one scale"},
      {"/a <- /r/r f i", "\"i\" after \"f\": a value takes one type"},
      {"/a <- /r/r at most 5/s at most 7/s",
       "\"at most 7/s\" after \"at most 5/s\": a rule takes one rate limit"},
      {"/a <- /r/r clamp 5..-5", "clamp 5..-5 has its low end above its high end"},
      {"/a <- /r/r channel 2", "channel is for MIDI rules"},
      {"/a <- /r/r from 1e39..2e39 to 0..1",
       "the range 1e39..2e39: 1e39 is past a float's range (at most 3.4028235e+38)"},
      {"/a <- /r/r deadzone inf", "\"inf\" is not finite"},
      {"/a <- /r/r bool above nan", "\"nan\" is not a number (NaN)"},
      {"/a <- /r/r zero on /b/x", "zero on /b/x: not one of the bridge's addresses"},
      {"/a <- /r/r deadzone 5 around", "\"around\" needs a number"},
  };
  std::string text = "to 9000\n";
  std::vector<std::string> expected;
  for (const auto &[line, reason] : lines) {
    text += line + "\n"s;
    expected.push_back("m:" + std::to_string(expected.size() + 2) + ": " + reason);
  }
  text += std::string(4097, '#') + "\n\x7F"
                                   "ELF\0\n"s;
  expected.push_back("m:27: a line longer than 4096 bytes");
  expected.push_back("m:28: a NUL byte: this is not a text file");
  EXPECT_EQ(mistakes_in(text), expected);
  EXPECT_EQ(
      mistakes_in("midi\ncc 200 <- /r/r\ncc 2 <- /r/r from 0..1 to 0..9\n"
                  "note 6 <- /b/0 channel 17\n/x <- /r/r\nnote 6 <- /b/0 velocity 9 velocity 8\n"
                  "cc 1 <- /r/r velocity 9\nbend <- /r/r i\nnote 6 <- /b/0 smooth 100ms\n"
                  "note 6 <- /b/0 channel 2 channel 3\n"),
      (std::vector<std::string>{
          "m:2: cc needs a number from 0 to 127",
          "m:3: a MIDI value scales \"from -180..180\" to MIDI's range",
          "m:4: channel needs a whole number from 1 to 16",
          "m:6: \"velocity 8\" after \"velocity 9\": a note takes one velocity",
          "m:7: velocity is for note rules",
          "m:8: a MIDI value is MIDI's: f and i are for OSC rules",
          "m:9: a smoothed note needs \"bool above T\": a smoothed value comes back to exactly "
          "0 only slowly, and the note would stay on",
          "m:10: \"channel 3\" after \"channel 2\": a rule takes one channel",
          "m:5: an OSC rule in a map that sends MIDI"}));
  // The rule limit counts every kind of rule; old Mac line ends are named.
  std::string many = "midi\n";
  for (int i = 0; i <= 256; ++i) {
    many += "cc 1 <- /r/r\n";
  }
  EXPECT_EQ(mistakes_in(many), std::vector<std::string>{"m:258: more than 256 rules"});
  EXPECT_EQ(mistakes_in("to 9000\r/a <- /r/r\r"),
            std::vector<std::string>{"m:1: lines end with CR alone (old Mac text): save the file "
                                     "with LF or CR LF line ends"});
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
      "\xEF\xBB\xBF# a comment, caf\xC3\xA9\r\nto [::1]:9000 # where\r\nbundle\r\n"
      "/x <- /j/x deadzone 5 around 1 from -100..100 to 1..-1 clamp /j/t bool above 0.5 "
      "changes\r\n/y <- /r/r smooth 50ms i clamp -3..3 /b/0 bool at most 2.5/s\r\n"
      "/z <- /r/y zero on /b/1 from 1..1.0000001 to 0..1e-7\r\n",
      map, mistakes));
  EXPECT_EQ(describe_map(map),
            "m: to [::1]:9000, one bundle per datagram received, 3 rules\n"
            "line 4: /x <- /j/x, dead zone 5 around 1, from -100..100 to 1..-1, clamped to -1..1, "
            "float (f); /j/t, bool: T when above 0.5, else F; sent on change only\n"
            "line 5: /y <- /r/r, smoothed over 0.05 s, clamped to -3..3, int rounded (i); /b/0, "
            "bool: T when not 0, else F; at most 2.5/s, the last value always sent\n"
            "line 6: /z <- /r/y, less its value at each press of /b/1, from 1..1.0000001 to "
            "0..1e-07, float (f)\n");
}

TEST(MapFile, AMidiPortNamedInSeveralWordsAndA14BitControlsPair) {
  MapFile map;
  std::vector<std::string> mistakes;
  ASSERT_TRUE(parse_map_text("m", "midi loopMIDI  Port 1\ncc14 1 <- /j/x\n", map, mistakes));
  EXPECT_EQ(map.midi_port, "loopMIDI Port 1");
  EXPECT_NE(describe_map(map).find("14-bit control 1/33 on channel 1"), std::string::npos)
      << describe_map(map);
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
  const auto said = [&sent](const std::string &text) {
    sent += (sent.empty() ? "" : " | ") + text;
  };
  const MapOut out{
      [&](const unsigned char *bytes, std::uint32_t size) { said(osc_text(bytes, size)); },
      [&](const MidiValue &v) {
        static const char *const kinds[] = {"", "cc", "cc14", "note", "bend", "program"};
        said(kinds[static_cast<int>(v.kind)] + " "s + std::to_string(v.number) + " ch" +
             std::to_string(v.channel) + " " + std::to_string(v.value));
      }};
  for (const Arrival &a : arrivals) {
    if (a.address == nullptr) {
      engine.send_due(a.at_ms * 1000, out); // a tick between datagrams
      continue;
    }
    const int address = find_bridge_address(a.address);
    std::uint32_t bits = 0;
    if (bridge_addresses[address].type == 'i') {
      bits = static_cast<std::uint32_t>(static_cast<std::int32_t>(a.value));
    } else {
      const auto value = static_cast<float>(a.value);
      std::memcpy(&bits, &value, 4);
    }
    engine.take(address, 1, &bits, a.at_ms * 1000, out);
  }
  engine.send_due(1000000000, out);
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
      // Smoothing holds the last value over a gap: a step goes 63.2% of the
      // way in one time constant after it arrives, however long the gap.
      {"/o <- /a/x smooth 100ms",
       {{"/a/x", 0, 0}, {"/a/x", 0, 100}, {"/a/x", 1, 200}, {"/a/x", 1, 201}, {"/a/x", 1, 300}},
       "/o,f 0 | /o,f 0 | /o,f 0 | /o,f 0.00995017 | /o,f 0.632121 | /o,f 1"},
      // Between datagrams it glides on, and once settled it sends no more.
      {"/o <- /a/x smooth 100ms from 0..1 to 100..200",
       {{"/a/x", 0, 0}, {"/a/x", 1, 100}, {nullptr, 0, 200}, {nullptr, 0, 5000}},
       "/o,f 100 | /o,f 100 | /o,f 163.212 | /o,f 200"},
      // The first value at once, the latest of those held at its turn.
      {"/o <- /g/x at most 10/s",
       {{"/g/x", 1, 0}, {"/g/x", 2, 20}, {"/g/x", 3, 50}, {nullptr, 0, 100}, {"/g/x", 4, 250}},
       "/o,f 1 | /o,f 3 | /o,f 4"},
      // Byte for byte: -0 after 0 is a change.
      {"/o <- /a/x changes",
       {{"/a/x", 0, 0}, {"/a/x", -0.0, 1}, {"/a/x", 0, 2}, {"/a/x", 0, 3}},
       "/o,f 0 | /o,f -0 | /o,f 0"},
      // Recentring: a yaw zeroed at 170 and turned 20 further reads 20, and
      // a press again recentres.
      {"/o <- /r/y zero on /b/0",
       {{"/r/y", 170, 0},
        {"/b/0", 1, 1},
        {"/r/y", 190, 2},
        {"/r/y", -170, 3},
        {"/b/0", 0, 4},
        {"/b/0", 1, 5},
        {"/r/y", -160, 6}},
       "/o,f 170 | /o,f 20 | /o,f 20 | /o,f 10"},
      // Pressed before the source is seen: its first value is the centre.
      {"/o <- /a/x zero on /b/1",
       {{"/b/1", 1, 0}, {"/a/x", 5, 1}, {"/a/x", 7, 2}},
       "/o,f 0 | /o,f 2"},
      // One button for two rules, and a rule's source itself.
      {"/p <- /r/r zero on /b/2\n/q <- /r/p zero on /b/2\n/b <- /b/2",
       {{"/r/r", 10, 0}, {"/r/p", 20, 1}, {"/b/2", 1, 2}, {"/r/r", 15, 3}, {"/r/p", 25, 4}},
       "/p,f 10 | /q,f 20 | /b,i 1 | /p,f 5 | /q,f 5"},
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
       "cc14 1 ch2 8192 | cc14 1 ch2 16383"},
      {"midi\nbend <- /a/x",
       {{"/a/x", 0, 0}, {"/a/x", 1, 1}, {"/a/x", -5, 2}},
       "bend 0 ch1 8192 | bend 0 ch1 16383 | bend 0 ch1 0"},
      {"midi\nprogram <- /gest channel 16",
       {{"/gest", 5, 0}, {"/gest", 5, 1}, {"/gest", 200, 2}},
       "program 0 ch16 5 | program 0 ch16 127"},
      {"midi\nnote 60 <- /a/x velocity from 0..2",
       {{"/a/x", 1, 0}, {"/a/x", 2, 1}, {"/a/x", 0, 2}, {"/a/x", 9, 3}},
       "note 60 ch1 64 | note 60 ch1 0 | note 60 ch1 127"},
      // A note's threshold; smoothed, it still ends once the value falls below it.
      {"midi\nnote 60 <- /a/x bool above 0.5",
       {{"/a/x", 0.2, 0}, {"/a/x", 0.6, 1}, {"/a/x", 0.4, 2}},
       "note 60 ch1 100 | note 60 ch1 0"},
      {"midi\nnote 65 <- /b/0 smooth 100ms bool above 0.5",
       {{"/b/0", 1, 0}, {"/b/0", 0, 500}},
       "note 65 ch1 100 | note 65 ch1 0"},
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
  // 3,000 bundles deep, 60 KB: its one message.
  std::vector<unsigned char> deep(message, message + 8);
  for (int level = 0; level < 3000; ++level) {
    const auto n = static_cast<std::uint32_t>(deep.size());
    std::vector<unsigned char> around(inner.begin(), inner.begin() + 16);
    around.insert(around.end(),
                  {static_cast<unsigned char>(n >> 24), static_cast<unsigned char>(n >> 16),
                   static_cast<unsigned char>(n >> 8), static_cast<unsigned char>(n)});
    around.insert(around.end(), deep.begin(), deep.end());
    deep.swap(around);
  }
  split_messages(deep.data(), static_cast<std::uint32_t>(deep.size()), send);
  outer.pop_back(); // no longer OSC: whole
  split_messages(outer.data(), static_cast<std::uint32_t>(outer.size()), send);
  EXPECT_EQ(sent, (std::vector<std::vector<unsigned char>>{
                      {message, message + 8}, {message, message + 8}, outer}));
}

} // namespace
