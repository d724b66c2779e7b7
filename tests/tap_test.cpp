// The tap's reading of what arrives: the bridge's datagrams back into events
// and script lines that replay the same bytes, everything else told apart as
// malformed or foreign; its command line; its live view.
#include "bridge/event_messages.h"
#include "ring/script_format.h"
#include "tap/datagram_decoder.h"
#include "tap/discovery.h"
#include "tap/event_text.h"
#include "tap/live_view.h"
#include "tap/outputs.h"
#include "tap/recorder.h"
#include "tap/status_json.h"
#include "tap/tap_options.h"
#include "tests/support/faults.h"
#ifndef _WIN32
#include "tests/support/processes.h"
#endif
#include "tests/support/udp_receiver.h"
#include "udp/destination.h"
#include "udp/udp_listener.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <regex>
#include <sstream>
#include <thread>
#include <tuple>
#ifndef _WIN32
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <unistd.h>
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

// Printed lines: tap_process_test.
TEST(Decoder, TheBridgesDatagramsBecomeLinesThatReplayTheSameBytes) {
  const std::pair<std::string, std::string> cases[] = {
      {"1 x=0.25 y=-0.5 z=bits:7F800001", "1 x=0.25 y=-0.5 z=bits:7F800001"},
      {"2 r_r=1e-45 r_p=-0.0 r_y=-inf x=5", "2 r_r=1e-45 r_p=-0 r_y=-inf"},
      {"9 x=0.1 y=3.4028235e38 z=-nan", "9 x=0.1 y=3.4028235e+38 z=bits:FFC00000"},
      {"3 j_x=-2147483648 j_y=2147483647 j_t=0", "3 j_x=-2147483648 j_y=2147483647 j_t=0"},
      {"0 b_number=-0.0 b_value=-1", "0 b_number=0 b_value=-1"},
      {"0 b_number=9 b_value=2 gest_value=4", "0 b_number=9 b_value=2"},
      {"4 gest_value=5 b_value=1", "4 gest_value=5"},
      {"11", "-1"},
      {"0 b_number=2.5 b_value=1", "-1"},
  };
  for (const auto &[played, recorded] : cases) {
    const std::string bytes = datagram_of(played);
    BridgeEvent event{};
    ASSERT_EQ(decode(bytes, event), DatagramKind::bridge) << played;
    EXPECT_EQ(script_line(event.event), recorded);
    EXPECT_EQ(datagram_of(script_line(event.event)), bytes) << played;
  }
}

// What is malformed is the reader's to say (osc_packet_test); here, which
// well-formed OSC is still not the bridge's.
TEST(Decoder, AnythingElseIsMalformedOrForeign) {
  const std::string gesture = datagram_of("4 gest_value=5");
  const std::string bundle = "#bundle\0\0\0\0\0\0\0\0\1"s;
  std::string padded_with_junk = gesture;
  padded_with_junk[16 + 4 + 6] = 'x';
  const std::pair<std::string, DatagramKind> cases[] = {
      {"", DatagramKind::malformed},
      {bundle + "\0\0\0\x18"s + gesture.substr(20), DatagramKind::malformed},     // runs past
      {gesture.substr(16 + 4), DatagramKind::foreign},                            // not in a bundle
      {"#bundle\0\0\0\0\0\0\0\0\2"s + gesture.substr(16), DatagramKind::foreign}, // time tag
      {padded_with_junk, DatagramKind::foreign},
      {gesture + gesture.substr(16), DatagramKind::foreign},                     // two messages
      {datagram_of("1 x=1").substr(0, 56), DatagramKind::foreign},               // two of three
      {bundle + "\0\0\0\x10"s + bundle, DatagramKind::foreign},                  // nested bundle
      {bundle + "\0\0\0\x10/b/3\0\0\0\0,f\0\0\0\0\0\1"s, DatagramKind::foreign}, // float button
      {bundle + "\0\0\0\x10/zzz\0\0\0\0,i\0\0\0\0\0\1"s, DatagramKind::foreign},
      {bundle + "\0\0\0\x14/b/3\0\0\0\0,ii\0\0\0\0\1\0\0\0\1"s, DatagramKind::foreign},
      {"/a\0\0,q\0\0"s, DatagramKind::foreign}, // a type the reader cannot measure
  };
  for (const auto &[bytes, expected] : cases) {
    BridgeEvent event{};
    EXPECT_EQ(decode(bytes, event), expected) << testing::PrintToString(bytes);
  }
}

TEST(Discovery, APatternMatchesInstanceNamesInAnyCase) {
  const std::tuple<const char *, const char *, bool> cases[] = {
      {"VRChat-Client-*", "VRChat-Client-A1B2C3", true},
      {"vrchat-client-*", "VRChat-Client-A1", true},
      {"VRChat-Client-*", "VRChat-Client-", true},
      {"VRChat-Client-*", "VRChat-Clien", false},
      {"*-Client-*", "VRChat-Client-A1", true},
      {"a*b*c", "axbyc", true},
      {"a*b*c", "axbyd", false},
      {"Stage", "Stage Ring", false}};
  for (const auto &[pattern, name, expected] : cases) {
    EXPECT_EQ(Discovery::matches(pattern, name), expected) << pattern << " " << name;
  }
}

TEST(Options, EachMistakeIsNamed) {
  std::string seventeen;
  for (int i = 1; i <= 17; ++i) {
    seventeen += " --forward " + std::to_string(i);
  }
  const std::pair<std::string, std::string> cases[] = {
      {"--record f --force --plain --check-map m", ""},
      {"--listen 0", R"(--listen: port must be a number from 1 to 65535, not "0")"},
      {"--forward 65536", R"(--forward: port must be a number from 1 to 65535, not "65536")"},
      {"--forward h:", R"(--forward: port must be a number from 1 to 65535, not "")"},
      {"--forward :9", R"(--forward: missing host in ":9")"},
      {"--forward", "--forward needs a value"},
      {"--plain --quiet", "--plain and --quiet exclude each other"},
      {"--multicast-ttl 256", R"(--multicast-ttl: hops must be a number from 1 to 255, not "256")"},
      {"--force", "--force only goes with --record"},
      {"-x", R"(unknown option "-x")"},
      {seventeen, "at most 16 destinations (--forward, --messages and --map together)"},
  };
  for (const auto &[line, error] : cases) {
    std::istringstream words(line);
    TapOptions options;
    EXPECT_EQ(parse_tap_options({std::istream_iterator<std::string>(words), {}}, options), error);
  }
}

// The frame's lines as a terminal shows them, split into words (escape
// sequences gone); `widest` gets the widest line in columns.
std::vector<std::vector<std::string>> screen(const std::string &frame, std::size_t &widest) {
  std::vector<std::vector<std::string>> lines;
  widest = 0;
  std::istringstream in(std::regex_replace(frame, std::regex("\x1b\\[[HKJ]|\r"), ""));
  for (std::string line; std::getline(in, line);) {
    widest = std::max<std::size_t>(widest, std::count_if(line.begin(), line.end(), [](char c) {
                                     return (static_cast<unsigned char>(c) & 0xC0U) != 0x80U;
                                   }));
    std::istringstream words(line);
    lines.emplace_back(std::istream_iterator<std::string>(words),
                       std::istream_iterator<std::string>());
  }
  return lines;
}

TEST(LiveView, EveryAddressExactlyAndRatesRightWithinASecondOfAFirstArrivalAtAnyTime) {
  TapStats stats;
  for (const char *name : {"127.0.0.1:9000", "127.0.0.1:9001", "192.168.100.200:65535", "h:4"}) {
    stats.destinations.push_back({name, 1000000, 123456, false, 0, false, true, {}});
  }
  stats.drops_known = stats.web = true;
  stats.system_dropped = 7;
  stats.web_clients = 2;
  stats.web_dropped = 5;
  LiveView view("127.0.0.1:7040", "take.txt", "http://[::1]:8080/");
  const auto arrives = [&](const std::string &line, std::int64_t now) {
    BridgeEvent event{};
    decode(datagram_of(line), event);
    EXPECT_EQ(stats.count_datagram(now, 36), now - 10000000); // printed times count from the first
    stats.count_event(event);
  };
  // Ten seconds of frames with nothing, then 100 gestures a second, and
  // every other address once just before the last frame.
  std::vector<std::vector<std::string>> lines;
  std::size_t widest = 0;
  for (std::int64_t now = 0; now <= 11000000; now += 10000) {
    if (now >= 10000000) {
      arrives("4 gest_value=6", now);
    }
    for (int b = 0; b < 10 && now == 11000000; ++b) {
      arrives("0 b_number=" + std::to_string(b), now);
    }
    if (now == 11000000) {
      for (const char *line : {"3 j_x=-2147483648", "2 r_r=1", "1 x=-1.17549435e-38 y=1 z=-inf",
                               "1 x=3.4028235e38 y=-nan z=-0.0", "9 x=1"}) {
        arrives(line, now);
      }
    }
    if (now % 100000 == 0) {
      lines = screen(view.frame(stats, now, 132, 45), widest);
    }
  }
  EXPECT_LE(widest, 132U);
  ASSERT_EQ(lines.size(), 6U + bridge_address_count);
  EXPECT_EQ(lines[1].back(), "failed"); // all four destinations on one line
  EXPECT_EQ(lines[1][lines[1].size() - 3], "h:4");
  EXPECT_EQ(lines[2][5], "115.0/s"); // in the last second: 100 gestures and 15 others
  EXPECT_EQ(lines[3], (std::vector<std::string>{"dropped", "by", "the", "system", "7", "page",
                                                "http://[::1]:8080/", "web", "clients", "2,", "5",
                                                "messages", "dropped", "for", "slow", "ones"}));
  for (int i = 0; i < bridge_address_count; ++i) {
    EXPECT_EQ(lines[6U + static_cast<std::size_t>(i)][0], bridge_addresses[i].address);
  }
  // Latest, rate, smallest and largest; NaN shown as such and kept out of the range.
  const std::vector<std::string> rows[] = {
      {"/a/x", "3.4028235e+38", "2.0", "-1.1754944e-38", "3.4028235e+38"},
      {"/a/y", "NaN", "2.0", "1", "1"},
      {"/a/z", "-0", "2.0", "-inf", "-0"},
      {"/gest", "6", "100.0", "6", "6"},
  };
  for (const std::vector<std::string> &row : rows) {
    const int index = find_bridge_address(row[0].c_str());
    const std::vector<std::string> &shown = lines[6U + static_cast<std::size_t>(index)];
    EXPECT_EQ(std::vector<std::string>(shown.begin(), shown.begin() + 5), row);
  }
  lines = screen(view.frame(stats, 11000000, 60, 20), widest);
  EXPECT_LE(widest, 60U);
  ASSERT_EQ(lines.size(), 20U);
  EXPECT_EQ(lines.back()[0] + " " + lines.back()[3], "13 hidden:");
  // A map's recentred sources beside it, once their button was pressed.
  stats.destinations = {{"m", 5, 0, true, 0, false, true, {{15, 170, true}, {13, 0, false}}}};
  lines = screen(view.frame(stats, 11000000, 132, 45), widest);
  EXPECT_EQ(lines[1], (std::vector<std::string>{"sending", "m", "5", "sent", "0", "failed", "0",
                                                "not", "finite", "zeroed", "/r/y", "170.0"}));
}

// What the monitor page reads: names escaped, infinities as strings (JSON
// has none), a NaN kept out of the range, null where the system cannot tell.
TEST(StatusJson, EveryCountAsThePageReadsIt) {
  TapStats stats;
  stats.destinations = {{"a\"b\\\x01", 3, 1, false, 0, false, true, {}},
                        {"m -> MIDI p", 2, 0, true, 4, true, false, {}}};
  stats.count_datagram(1000, 36);
  for (const char *line : {"1 x=-inf y=nan z=0.5", "0 b_number=3 b_value=-2"}) {
    BridgeEvent event{};
    decode(datagram_of(line), event);
    stats.count_event(event);
  }
  EXPECT_EQ(
      status_json(stats, {"127.0.0.1:7040", "take.txt"}, 3500),
      R"({"listen":"127.0.0.1:7040","datagrams":1,"bytes":36,"malformed":0,"foreign":0,)"
      R"("system_dropped":null,"since_last_us":2500,"destinations":[{"name":"a\"b\\\u0001",)"
      R"("forwarded":3,"failed":1},{"name":"m -> MIDI p","forwarded":2,"failed":0,)"
      R"("not_finite":4,"port_there":false}],"recording":"take.txt","recorded":0,)"
      R"("record_lost":0,"web_clients":0,"web_served":0,"web_dropped":0,"oscquery":null,"addresses":[)"
      R"({"address":"/b/3","type":"i","bits":4294967294,"messages":1,"low":-2,"high":-2},)"
      R"({"address":"/a/x","type":"f","bits":4286578688,"messages":1,"low":"-Infinity",)"
      R"("high":"-Infinity"},{"address":"/a/y","type":"f","bits":2143289344,"messages":1},)"
      R"({"address":"/a/z","type":"f","bits":1056964608,"messages":1,"low":0.5,"high":0.5}]})");
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
  ASSERT_TRUE(sender.send_to(listener.port(), {}));
  EXPECT_EQ(listener.receive(buffer, sizeof buffer), 0);
  EXPECT_EQ(listener.errors_in_a_row(), 0);
}

#ifndef _WIN32
// Without its receive time-out the tap would wait in a receive for ever,
// and a blocking destination in the read of its reports: neither starts.
TEST(Sockets, WithoutTheOptionsTheyNeedTheyRefuseToStart) {
  UdpListener listener;
  Destination destination;
  std::string error;
  faults::arm(faults::FaultPoint::socket_option, 2);
  EXPECT_EQ(listener.bind_to("127.0.0.1", 0, error), UdpListener::Bound::failed);
  EXPECT_NE(error.find("no receive time-out"), std::string::npos) << error;
  EXPECT_FALSE(destination.open("127.0.0.1", 9, error));
  EXPECT_EQ(error, "cannot use a socket for 127.0.0.1:9: error 10022");
}
#endif

// Every destination of the tap at once, in process: the datagram whole, its
// messages apart, a map's message made of its values, each counted; and the
// listening address refused.
TEST(Outputs, EachDestinationGetsItsOwnFormAndCounts) {
  UdpReceiver whole(0), apart(0), mapped(0);
  Outputs outputs([&](const SocketAddress &) { return false; }, [](const std::string &) {});
  std::string error;
  bool usage = false;
  MapFile map;
  std::vector<std::string> mistakes;
  ASSERT_TRUE(parse_map_text(
      "m", "to " + std::to_string(mapped.port()) + "\n/o <- /a/y from 0..1 to 0..10\n", map,
      mistakes));
  ASSERT_TRUE(outputs.add_forward({"127.0.0.1", whole.port()}, error) &&
              outputs.add_messages({"127.0.0.1", apart.port()}, error) &&
              outputs.add_map(map, "", error, usage))
      << error;
  const std::string bytes = datagram_of("1 x=0.5 y=0.25 z=-1");
  const auto *data = reinterpret_cast<const unsigned char *>(bytes.data());
  outputs.forward(data, static_cast<std::uint32_t>(bytes.size()), 0);
  BridgeEvent event{};
  ASSERT_EQ(decode(bytes, event), DatagramKind::bridge);
  outputs.feed(&event, 0);
  EXPECT_EQ(whole.receive_all(1, 5s, 100ms), std::vector<Datagram>{Datagram(data, data + 76)});
  std::vector<Datagram> messages;
  for (int i = 0; i < 3; ++i) {
    messages.emplace_back(data + 20 + 20 * i, data + 36 + 20 * i);
  }
  EXPECT_EQ(apart.receive_all(3, 5s, 100ms), messages);
  const unsigned char two_and_a_half[] = {'/', 'o', 0, 0, ',', 'f', 0, 0, 0x40, 0x20, 0, 0};
  EXPECT_EQ(mapped.receive_all(1, 5s, 100ms),
            std::vector<Datagram>{Datagram(two_and_a_half, two_and_a_half + 12)});
  std::vector<DestinationStats> counts;
  outputs.counts(counts);
  ASSERT_EQ(counts.size(), 3U);
  EXPECT_EQ(counts[1].name, "messages 127.0.0.1:" + std::to_string(apart.port()));
  EXPECT_EQ(counts[1].forwarded, 3U);
  EXPECT_EQ(counts[2].name, "m -> 127.0.0.1:" + std::to_string(mapped.port()));
  EXPECT_TRUE(counts[2].map && counts[0].forwarded == 1 && counts[2].forwarded == 1);
  Outputs looping([](const SocketAddress &) { return true; }, [](const std::string &) {});
  EXPECT_FALSE(looping.add_forward({"127.0.0.1", 7040}, error));
  EXPECT_EQ(error, "--forward 127.0.0.1:7040 is the address the tap listens on: it would loop");
}

// A datagram the destination sends back is no loss, however long (Windows
// fails the read of one longer than the buffer); only the system's report
// that nobody listens is.
TEST(Destination, OnlyTheReportThatNobodyListensCountsAsFailed) {
  auto receiver = std::make_unique<UdpReceiver>(0);
  Destination destination;
  std::string error;
  ASSERT_TRUE(destination.open("127.0.0.1", receiver->port(), error)) << error;
  destination.forward(reinterpret_cast<const unsigned char *>("ring"), 4, 0);
  Datagram got;
  ASSERT_TRUE(receiver->receive(got, 5s));
  ASSERT_TRUE(receiver->send_to(receiver->sender_port(), Datagram(100, 7)));
  std::this_thread::sleep_for(100ms);
  destination.read_reports(1);
  EXPECT_EQ(destination.forwarded(), 1U);
  EXPECT_EQ(destination.failed(), 0U);
  receiver.reset();
  destination.forward(reinterpret_cast<const unsigned char *>("gone"), 4, 2);
  std::this_thread::sleep_for(100ms);
  destination.read_reports(3);
  destination.forward(reinterpret_cast<const unsigned char *>("gone"), 4, 4);
  std::this_thread::sleep_for(100ms);
  destination.read_reports(5);
  EXPECT_EQ(destination.forwarded() + destination.failed(), 3U);
  EXPECT_GE(destination.failed(), 1U);
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
