// The real ring2osc on the simulated ring, in a process of its own: what
// arrives on port 7040, byte for byte, and what the SDK was asked.
#include "ringsim/demo_stream.h"
#include "tests/support/child_process.h"
#include "tests/support/udp_receiver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <tuple>

namespace {

using namespace std::chrono_literals;
using Message = std::tuple<std::string, char, std::uint32_t>;

// An OSC bundle with the immediate time tag; each message is a 20-byte
// element: its size 16, the address NUL-padded to 8 bytes, ",f" or ",i"
// padded to 4, and the argument's 32 bits, most significant first.
Datagram bundle(const std::vector<Message> &messages) {
  Datagram bytes = {'#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 0, 0, 0, 0, 0, 0, 0, 1};
  for (const auto &[address, tag, bits] : messages) {
    std::string padded = address;
    padded.resize(8, '\0');
    bytes.insert(bytes.end(), {0, 0, 0, 16});
    bytes.insert(bytes.end(), padded.begin(), padded.end());
    bytes.insert(bytes.end(), {',', static_cast<unsigned char>(tag), 0, 0});
    for (const int shift : {24, 16, 8, 0}) {
      bytes.push_back(static_cast<unsigned char>(bits >> shift));
    }
  }
  return bytes;
}

// Every field distinct, so a message that reads the wrong one shows.
const std::string fields = " j_x=-2147483648 j_y=2147483647 x=1.5 y=-2.25 z=3.5 j_t=-4 r_r=0.5 "
                           "r_p=-0.75 r_y=6 b_value=-7 gest_value=8";

struct Row {
  std::string line;
  Datagram expected;
};

std::vector<Row> every_kind() {
  std::vector<Row> rows = {
      {"11", bundle({})},
      {"1" + fields,
       bundle({{"/a/x", 'f', 0x3FC00000}, {"/a/y", 'f', 0xC0100000}, {"/a/z", 'f', 0x40600000}})},
      {"2" + fields,
       bundle({{"/r/r", 'f', 0x3F000000}, {"/r/p", 'f', 0xBF400000}, {"/r/y", 'f', 0x40C00000}})},
      {"3" + fields,
       bundle({{"/j/x", 'i', 0x80000000}, {"/j/y", 'i', 0x7FFFFFFF}, {"/j/t", 'i', 0xFFFFFFFC}})},
      {"4" + fields, bundle({{"/gest", 'i', 8}})},
      {"9" + fields,
       bundle({{"/g/x", 'f', 0x3FC00000}, {"/g/y", 'f', 0xC0100000}, {"/g/z", 'f', 0x40600000}})},
      {"0 b_number=-0.0" + fields, bundle({{"/b/0", 'i', 0xFFFFFFF9}})},
      {"0 b_number=2.5" + fields, bundle({})},
      {"0 b_number=nan" + fields, bundle({})},
      {"0 b_number=10" + fields, bundle({})},
      {"1 x=nan y=-nan z=inf",
       bundle({{"/a/x", 'f', 0x7FC00000}, {"/a/y", 'f', 0xFFC00000}, {"/a/z", 'f', 0x7F800000}})},
      {"2 r_r=-inf r_p=-0.0 r_y=1e-45",
       bundle({{"/r/r", 'f', 0xFF800000}, {"/r/p", 'f', 0x80000000}, {"/r/y", 'f', 0x00000001}})},
  };
  for (int n = 1; n <= 9; ++n) {
    const std::string digit = std::to_string(n);
    rows.push_back({"0 b_number=" + digit + fields, bundle({{"/b/" + digit, 'i', 0xFFFFFFF9}})});
  }
  for (const char *kind : {"5", "6", "7", "8", "10", "12", "-1"}) {
    rows.push_back({kind + fields, bundle({})});
  }
  return rows;
}

std::string with_lf_line_ends(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

TEST(Process, EveryKindArrivesByteForByte) {
  UdpReceiver receiver(7040);
  ASSERT_TRUE(receiver.is_open()) << "port 7040 is taken";
  const std::vector<Row> rows = every_kind();
  std::string script = "# line 2 is malformed; the rest plays\nfour\n";
  for (const Row &row : rows) {
    script += row.line + "\n";
  }
  const BridgeRun run(script, {{"RINGSIM_RINGS", "5"}});
  ASSERT_TRUE(run.started);
  const std::vector<Datagram> arrived = receiver.receive_all(rows.size(), 10s, 300ms);
  ASSERT_EQ(arrived.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(arrived[i], rows[i].expected) << rows[i].line;
  }
  std::string subscription = "QorInitialize\nQorNumRings 5\n";
  for (const char *code : {"2", "3", "4", "1", "10", "5", "6"}) {
    subscription += std::string("QorGetRingName 0\nQorSubscribe ") + code + " ring0\n";
  }
  EXPECT_EQ(read_file(run.log_path), subscription);
  EXPECT_EQ(with_lf_line_ends(read_file(run.out_path)),
            "ringsim: " + run.script_path + ":2: bad kind \"four\"\n");
}

TEST(Process, StandardInputForTwoThreadsWithoutRings) {
  UdpReceiver receiver(7040);
  ASSERT_TRUE(receiver.is_open());
  const BridgeRun run("11\n4 gest_value=1\n",
                      {{"RINGSIM_EVENTS", "-"}, {"RINGSIM_THREADS", "2"}, {"RINGSIM_RINGS", "0"}});
  ASSERT_TRUE(run.started);
  std::vector<Datagram> arrived = receiver.receive_all(4, 10s, 300ms);
  const Datagram gesture = bundle({{"/gest", 'i', 1}});
  std::vector<Datagram> expected = {bundle({}), bundle({}), gesture, gesture};
  std::sort(arrived.begin(), arrived.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(arrived, expected);
  EXPECT_EQ(read_file(run.log_path), "QorInitialize\nQorNumRings 0\nQorNumRings 0\n");
}

TEST(Process, DemoWithoutARingSaysSoAndTheBridgeIdles) {
  UdpReceiver receiver(7040);
  ASSERT_TRUE(receiver.is_open());
  BridgeRun run("", {{"RINGSIM_EVENTS", ""}, {"RINGSIM_RINGS", "0"}});
  ASSERT_TRUE(run.started);
  EXPECT_EQ(receiver.receive_all(1, 10s, 300ms), std::vector<Datagram>{bundle({})});
  // Nothing is left to do but sleep; the bridge must not spin a core.
  const double before = run.process.cpu_seconds();
  std::this_thread::sleep_for(1s);
  EXPECT_LT(run.process.cpu_seconds() - before, 0.1);
  EXPECT_EQ(with_lf_line_ends(read_file(run.out_path)),
            "ringsim: demo waits: QorNumRings is 0, so nothing subscribes\n");
  EXPECT_TRUE(run.process.running());
}

TEST(Process, DemoHandsOverEachTicksEventsWhateverBecomesOfTheLog) {
  UdpReceiver receiver(7040);
  ASSERT_TRUE(receiver.is_open());
  const std::string log = temporary_path("missing") + "/log";
  BridgeRun run("", {{"RINGSIM_EVENTS", ""}, {"RINGSIM_LOG", log}});
  ASSERT_TRUE(run.started);
  // The first address of each datagram: the subscription, then tick by tick.
  const std::map<std::int32_t, std::string> first_address = {
      {0, "/b/"}, {1, "/a/x"}, {2, "/r/r"}, {3, "/j/x"}, {4, "/gest"}, {9, "/g/x"}};
  std::vector<std::string> expected = {""};
  RingEvent events[demo_max_events_per_tick];
  for (std::uint64_t tick = 0; expected.size() < 80; ++tick) {
    const int count = demo_tick_events(tick, events);
    for (int i = 0; i < count; ++i) {
      expected.push_back(first_address.at(events[i].kind));
    }
  }
  std::vector<std::string> arrived;
  Datagram datagram;
  while (arrived.size() < expected.size() && receiver.receive(datagram, 10s)) {
    datagram.resize(std::max<std::size_t>(datagram.size(), 28)); // an empty bundle: ""
    const std::string address = reinterpret_cast<const char *>(datagram.data() + 20);
    arrived.push_back(address.substr(0, address.rfind("/b/", 0) == 0 ? 3 : std::string::npos));
  }
  EXPECT_EQ(arrived, expected);
  const std::string errors = with_lf_line_ends(read_file(run.out_path));
  EXPECT_EQ(errors.rfind("ringsim: cannot write " + log + ": ", 0), 0U) << errors;
  EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1);
  EXPECT_TRUE(run.process.running());
}

} // namespace
