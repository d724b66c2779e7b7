// The tap's reading of what arrives: the bridge's datagrams back into events
// and script lines that replay the same bytes, everything else told apart as
// malformed or foreign; its command line; its live view.
#include "bridge/event_messages.h"
#include "ringsim/script_parser.h"
#include "tap/datagram_decoder.h"
#include "tap/event_text.h"
#include "tap/live_view.h"
#include "tap/recorder.h"
#include "tap/tap_options.h"
#include "tap/udp_listener.h"
#include "tests/support/faults.h"
#include "tests/support/udp_receiver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#ifndef _WIN32
#include "tests/support/child_process.h"

#include <csignal>
#include <sys/resource.h>
#endif

namespace {

using namespace std::string_literals;
using namespace std::chrono_literals;

std::string encoded(const RingEvent &event) {
  OscPacketWriter pkt;
  pkt.open_bundle(OscTimeTag::immediate());
  add_event_messages(event, pkt);
  return {reinterpret_cast<const char *>(pkt.packet_bytes()), pkt.packet_size()};
}

// The bridge's datagram for a script line.
std::string datagram_of(const std::string &script) {
  RingEvent event{};
  std::string reason;
  EXPECT_EQ(parse_script_line(script, event, reason), ScriptLine::event) << script;
  return encoded(event);
}

DatagramKind decode(const std::string &bytes, BridgeEvent &event) {
  return decode_datagram(reinterpret_cast<const unsigned char *>(bytes.data()), bytes.size(),
                         event);
}

TEST(Decoder, TheBridgesDatagramsBecomeLinesThatReplayTheSameBytes) {
  struct Case {
    std::string played, recorded, plain;
  };
  const Case cases[] = {
      {"1 x=0.25 y=-0.5 z=bits:7F800001", "1 x=0.25 y=-0.5 z=bits:7F800001",
       "2.000001 /a/x f 0.25\n2.000001 /a/y f -0.5\n2.000001 /a/z f bits:7F800001\n"},
      {"2 r_r=1e-45 r_p=-0.0 r_y=-inf x=5", "2 r_r=1e-45 r_p=-0 r_y=-inf", ""},
      {"9 x=0.1 y=3.4028235e38 z=-nan", "9 x=0.1 y=3.4028235e+38 z=bits:FFC00000", ""},
      {"3 j_x=-2147483648 j_y=2147483647 j_t=0", "3 j_x=-2147483648 j_y=2147483647 j_t=0", ""},
      {"0 b_number=-0.0 b_value=-1", "0 b_number=0 b_value=-1", "2.000001 /b/0 i -1\n"},
      {"0 b_number=9 b_value=2 gest_value=4", "0 b_number=9 b_value=2", ""},
      {"4 gest_value=5 b_value=1", "4 gest_value=5", "2.000001 /gest i 5\n"},
      {"11", "-1", ""},
      {"0 b_number=2.5 b_value=1", "-1", ""},
  };
  for (const Case &c : cases) {
    const std::string bytes = datagram_of(c.played);
    BridgeEvent event{};
    ASSERT_EQ(decode(bytes, event), DatagramKind::bridge) << c.played;
    EXPECT_EQ(script_line(event), c.recorded);
    EXPECT_EQ(datagram_of(script_line(event)), bytes) << c.played;
    if (!c.plain.empty()) {
      EXPECT_EQ(plain_lines(2000001, event), c.plain);
    }
  }
}

TEST(Decoder, AnythingElseIsMalformedOrForeign) {
  const std::string gesture = datagram_of("4 gest_value=5");
  const std::string bundle = "#bundle\0\0\0\0\0\0\0\0\1"s;
  std::string padded_with_junk = gesture;
  padded_with_junk[16 + 4 + 6] = 'x';
  const std::pair<std::string, DatagramKind> cases[] = {
      {"", DatagramKind::malformed},
      {gesture.substr(0, gesture.size() - 2), DatagramKind::malformed},       // unaligned
      {bundle + "\0\0\0\x18"s + gesture.substr(20), DatagramKind::malformed}, // runs past
      {bundle + "\0\0\0\x04xyz\0"s, DatagramKind::malformed},                 // neither
      {"/abc"s, DatagramKind::malformed},                                     // no NUL
      {"/a\0\0,i\0\0"s, DatagramKind::malformed},                             // no argument
      {"/a\0\0,s\0\0abcd"s, DatagramKind::malformed},                         // string without NUL
      {"/a\0\0,b\0\0\0\0\0\x09xyzw"s, DatagramKind::malformed},               // blob runs past
      {"/a\0\0,\0\0\0\0\0\0\0"s, DatagramKind::malformed},                    // left over
      {"/a\0\0xi\0\0\0\0\0\0"s, DatagramKind::malformed},                     // tags without comma
      {gesture.substr(16 + 4), DatagramKind::foreign},                        // not in a bundle
      {"#bundle\0\0\0\0\0\0\0\0\2"s + gesture.substr(16), DatagramKind::foreign}, // time tag
      {padded_with_junk, DatagramKind::foreign},
      {gesture + gesture.substr(16), DatagramKind::foreign},       // two messages
      {datagram_of("1 x=1").substr(0, 56), DatagramKind::foreign}, // two of three
      {bundle + "\0\0\0\x10"s + bundle, DatagramKind::foreign},    // nested bundle
      {bundle + "\0\0\0\x0C/b/3\0\0\0\0,f\0\0"s, DatagramKind::malformed},
      {bundle + "\0\0\0\x10/b/3\0\0\0\0,f\0\0\0\0\0\1"s, DatagramKind::foreign}, // float button
      {bundle + "\0\0\0\x10/zzz\0\0\0\0,i\0\0\0\0\0\1"s, DatagramKind::foreign},
      {"/a\0\0,sbhTd[]\0\0\0\0abc\0\0\0\0\1x\0\0\0"s + std::string(16, '\0'),
       DatagramKind::foreign},
      {"/a\0\0,q\0\0"s, DatagramKind::foreign}, // a type this tap cannot measure
      {"/a\0\0"s, DatagramKind::foreign},       // no type tags at all: old OSC
  };
  for (const auto &[bytes, expected] : cases) {
    BridgeEvent event{};
    EXPECT_EQ(decode(bytes, event), expected) << testing::PrintToString(bytes);
  }
}

TEST(Options, EachMistakeIsNamed) {
  const std::pair<std::string, std::string> cases[] = {
      {"--record f --force --plain", ""},
      {"--listen 0", R"(--listen: port must be a number from 1 to 65535, not "0")"},
      {"--forward 65536", R"(--forward: port must be a number from 1 to 65535, not "65536")"},
      {"--forward h:", R"(--forward: port must be a number from 1 to 65535, not "")"},
      {"--forward :9", R"(--forward: missing host in ":9")"},
      {"--forward", "--forward needs a value"},
      {"--plain --quiet", "--plain and --quiet exclude each other"},
      {"--force", "--force only goes with --record"},
      {"-x", R"(unknown option "-x")"},
      {"--forward 1 --forward 2 --forward 3 --forward 4 --forward 5 --forward 6 --forward 7 "
       "--forward 8 --forward 9 --forward 10 "
       "--forward 11 --forward 12 --forward 13 --forward 14 --forward 15 --forward 16 "
       "--forward 17",
       "at most 16 --forward destinations"},
  };
  for (const auto &[line, error] : cases) {
    std::istringstream words(line);
    TapOptions options;
    EXPECT_EQ(parse_tap_options({std::istream_iterator<std::string>(words), {}}, options), error);
  }
  TapOptions options;
  parse_tap_options({"--listen", "0.0.0.0:9000", "--forward", "9001", "--forward", "h:2"}, options);
  EXPECT_EQ(options.listen.text(), "0.0.0.0:9000");
  ASSERT_EQ(options.forwards.size(), 2U);
  EXPECT_EQ(options.forwards[0].text() + " " + options.forwards[1].text(), "127.0.0.1:9001 h:2");
}

// The frame's lines as a terminal shows them: escape sequences gone, one
// column per character.
std::vector<std::string> screen_lines(const std::string &frame, std::size_t &widest) {
  std::string text = frame;
  for (const char *escape : {"\x1b[H", "\x1b[K", "\x1b[J"}) {
    for (std::size_t at; (at = text.find(escape)) != std::string::npos;) {
      text.erase(at, std::strlen(escape));
    }
  }
  std::vector<std::string> lines;
  std::istringstream in(text);
  widest = 0;
  for (std::string line; std::getline(in, line);) {
    line.erase(std::remove(line.begin(), line.end(), '\r'), line.end());
    widest = std::max<std::size_t>(
        widest, static_cast<std::size_t>(std::count_if(line.begin(), line.end(), [](char c) {
          return (static_cast<unsigned char>(c) & 0xC0U) != 0x80U;
        })));
    lines.push_back(line);
  }
  return lines;
}

TEST(LiveView, EveryAddressFitsA132By45TerminalAndASmallerOneSaysWhatItHides) {
  TapStats stats;
  for (const char *name : {"127.0.0.1:9000", "127.0.0.1:9001", "192.168.100.200:65535", "h:4"}) {
    stats.destinations.push_back({name, 1000000, 123456});
  }
  for (const std::string line :
       {"0 b_number=0", "0 b_number=1", "0 b_number=2", "0 b_number=3", "0 b_number=4",
        "0 b_number=5", "0 b_number=6", "0 b_number=7", "0 b_number=8", "0 b_number=9",
        "3 j_x=-2147483648", "4", "2 r_r=1", "1 x=-1.17549435e-38 y=1 z=-inf",
        "1 x=3.4028235e38 y=-nan z=-0.0", "9 x=1"}) {
    const std::string bytes = datagram_of(line);
    BridgeEvent event{};
    decode(bytes, event);
    stats.count_event(event);
  }
  stats.datagrams = 16;
  LiveView view("127.0.0.1:7040", "take.txt");
  std::size_t widest = 0;
  std::vector<std::string> lines = screen_lines(view.frame(stats, 0, 132, 45), widest);
  EXPECT_LE(widest, 132U);
  ASSERT_EQ(lines.size(), 28U);
  EXPECT_NE(lines[1].find("h:4 123456 failed"), std::string::npos) << lines[1];
  for (int i = 0; i < bridge_address_count; ++i) {
    EXPECT_EQ(lines[5U + static_cast<std::size_t>(i)].rfind(bridge_addresses[i].address, 0), 0U);
  }
  // Latest, smallest and largest, exactly; NaN shown as such and kept out of the range.
  EXPECT_EQ(lines[15].substr(0, 63),
            "/a/x   3.4028235e+38         0.0 -1.1754944e-38   3.4028235e+38");
  EXPECT_EQ(lines[16].substr(0, 67),
            "/a/y   NaN                   0.0 1                1                ");
  EXPECT_EQ(lines[17].substr(0, 63),
            "/a/z   -0                    0.0 -inf             -0           ");

  // Rates over the frames of the last second: one more gesture in half a second.
  BridgeEvent gesture{};
  decode(datagram_of("4 gest_value=6"), gesture);
  stats.count_event(gesture);
  stats.datagrams = 17;
  stats.last_arrival_us = 250000;
  lines = screen_lines(view.frame(stats, 500000, 132, 45), widest);
  EXPECT_EQ(lines[0],
            "ring2osc-tap  listening on 127.0.0.1:7040  recording take.txt: 0 lines, 0 lost");
  EXPECT_EQ(lines[2].substr(0, 79),
            "received 17 datagrams  0 bytes  2.0/s  malformed 0  foreign 0  "
            "last 0.250 s ago");
  EXPECT_EQ(lines[24].substr(0, 33), "/gest  6                     2.0 ");

  lines = screen_lines(view.frame(stats, 500000, 60, 20), widest);
  EXPECT_LE(widest, 60U);
  ASSERT_EQ(lines.size(), 20U);
  EXPECT_EQ(lines.back(), "12 more rows hidden: enlarge the terminal");
}

TEST(LiveView, RatesAreRightWithinASecondOfTheFirstDatagramWheneverItComes) {
  TapStats stats;
  LiveView view("127.0.0.1:7040", "");
  BridgeEvent gesture{};
  decode(datagram_of("4 gest_value=1"), gesture);
  std::vector<std::string> lines;
  std::size_t widest = 0;
  // Ten seconds of frames with nothing, then 100 datagrams a second.
  for (std::int64_t now = 0; now <= 11000000; now += 10000) {
    if (now >= 10000000) {
      stats.count_datagram(now, 36);
      stats.count_event(gesture);
    }
    if (now % 100000 == 0) {
      lines = screen_lines(view.frame(stats, now, 132, 45), widest);
    }
  }
  EXPECT_NE(lines[2].find(" 100.0/s "), std::string::npos) << lines[2];
  EXPECT_EQ(lines[5].substr(0, 33), "/gest  1                   100.0 ");
}

TEST(Listener, ALastingReceiveErrorIsTriedAgainAfterAPauseNeverInASpin) {
  UdpListener listener;
  std::string error;
  ASSERT_EQ(listener.bind_to("127.0.0.1", 0, error), UdpListener::Bound::ok);
  faults::arm(faults::FaultPoint::receive, 3);
  unsigned char buffer[8];
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(listener.receive(buffer, sizeof buffer), -1);
  }
  EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
  EXPECT_EQ(listener.errors_in_a_row(), 3);
  UdpReceiver sender(0);
  ASSERT_TRUE(sender.send_to(ntohs(listener.address().sin_port), {}));
  EXPECT_EQ(listener.receive(buffer, sizeof buffer), 0);
  EXPECT_EQ(listener.errors_in_a_row(), 0);
}

#ifndef _WIN32
// A full disk, made by a file size limit: the line that crosses it is cut
// short and taken back out; a shorter line after it fits again.
TEST(Recorder, ALineCutShortIsTakenBackOutSoEveryLineIsWholeAndCounted) {
  const std::string path = temporary_path("recording");
  std::signal(SIGXFSZ, SIG_IGN);
  rlimit unlimited{};
  getrlimit(RLIMIT_FSIZE, &unlimited);
  Recorder recorder;
  std::string error;
  ASSERT_TRUE(recorder.open(path, false, "127.0.0.1:7040", error));
  std::string expected = read_file(path);
  rlimit limit = unlimited;
  limit.rlim_cur = expected.size() + 100;
  setrlimit(RLIMIT_FSIZE, &limit);
  const unsigned char bytes[40] = {};
  for (const std::size_t size : {20, 40, 4}) { // lines of 61, 101 and 29 bytes
    recorder.record(0, DatagramKind::foreign, BridgeEvent{}, bytes, size);
    expected += size == 40 ? "" : recording_line(0, DatagramKind::foreign, {}, bytes, size);
  }
  EXPECT_TRUE(recorder.finish());
  setrlimit(RLIMIT_FSIZE, &unlimited);
  EXPECT_EQ(read_file(path), expected);
  EXPECT_EQ(recorder.recorded(), 2U);
  EXPECT_EQ(recorder.lost(), 1U);
  std::remove(path.c_str());
}
#endif

} // namespace
