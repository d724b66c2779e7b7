// The real ring2osc on the simulated ring, in a process of its own: what
// arrives on port 7040, byte for byte, and what the SDK was asked.
#include "ringsim/demo_stream.h"
#include "tests/support/child_process.h"
#include "tests/support/every_kind.h"
#include "tests/support/udp_receiver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;

std::string with_lf_line_ends(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

TEST(Process, EveryKindArrivesByteForByte) {
  UdpReceiver receiver(7040);
  ASSERT_TRUE(receiver.is_open()) << "port 7040 is taken";
  const auto rows = every_kind();
  std::string script = "# line 2 is malformed; the rest plays\nfour\n";
  for (const auto &row : rows) {
    script += row.first + "\n";
  }
  const BridgeRun run(script, {{"RINGSIM_EVENTS", "-"}, {"RINGSIM_RINGS", "5"}});
  ASSERT_TRUE(run.started);
  const std::vector<Datagram> arrived = receiver.receive_all(rows.size(), 10s, 300ms);
  ASSERT_EQ(arrived.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(arrived[i], bundle(rows[i].second)) << rows[i].first;
  }
  std::string subscription = "QorInitialize\nQorNumRings 5\n";
  for (const char *code : {"2", "3", "4", "1", "10", "5", "6"}) {
    subscription += std::string("QorGetRingName 0\nQorSubscribe ") + code + " ring0\n";
  }
  EXPECT_EQ(read_file(run.log_path), subscription);
  EXPECT_EQ(with_lf_line_ends(read_file(run.out_path)), "ringsim: -:2: bad kind \"four\"\n");
}

TEST(Process, StandardInputForTwoThreadsWithoutRingsThenIdle) {
  UdpReceiver receiver(7040);
  BridgeRun run("11\n4 gest_value=1\n",
                {{"RINGSIM_EVENTS", "-"}, {"RINGSIM_THREADS", "2"}, {"RINGSIM_RINGS", "0"}});
  std::vector<Datagram> arrived = receiver.receive_all(4, 10s, 300ms);
  const Datagram gesture = bundle("/gest i 1");
  std::vector<Datagram> expected = {bundle(""), bundle(""), gesture, gesture};
  std::sort(arrived.begin(), arrived.end());
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(arrived, expected);
  EXPECT_EQ(read_file(run.log_path), "QorInitialize\nQorNumRings 0\nQorNumRings 0\n");
  // Played out, the bridge only sleeps; it must not spin a core.
  const double before = run.process.cpu_seconds();
  std::this_thread::sleep_for(1s);
  EXPECT_LT(run.process.cpu_seconds() - before, 0.1);
}

TEST(Process, StandardInputLoopsOnOneScheduleAndAnEarlierTimeIsSaidOnce) {
  UdpReceiver receiver(7040);
  const std::string stamps = temporary_path("stamps");
  const BridgeRun run("@0.02 4 gest_value=1\n@0.01 4 gest_value=2\n", {{"RINGSIM_EVENTS", "-"},
                                                                       {"RINGSIM_LOOP", "1"},
                                                                       {"RINGSIM_SPEED", "2"},
                                                                       {"RINGSIM_STAMPS", stamps}});
  const Datagram one = bundle("/gest i 1"), two = bundle("/gest i 2");
  std::vector<Datagram> arrived = receiver.receive_all(6, 10s, 0ms);
  arrived.resize(6);
  EXPECT_EQ(arrived, (std::vector<Datagram>{one, two, one, two, one, two}));
  EXPECT_EQ(with_lf_line_ends(read_file(run.out_path)),
            "ringsim: -:2: time before the line before's; played right after it\n");
  // The first pass's two hand-overs, in order, while the loop goes on.
  std::istringstream times(read_file(stamps));
  long long first = 0, second = 0, more = 0;
  EXPECT_TRUE(times >> first >> second && first > 0 && second >= first) << stamps;
  EXPECT_FALSE(times >> more);
  std::remove(stamps.c_str());
}

TEST(Process, ALoopThatTakesNoTimePlaysOnceAndSaysSo) {
  UdpReceiver receiver(7040);
  const BridgeRun run(
      "@0 4 gest_value=1\n",
      {{"RINGSIM_EVENTS", "-"}, {"RINGSIM_LOOP", "1"}, {"RINGSIM_INTERVAL_US", "0"}});
  EXPECT_EQ(receiver.receive_all(1, 10s, 0ms), std::vector<Datagram>{bundle("/gest i 1")});
  Datagram again;
  EXPECT_FALSE(receiver.receive(again, 500ms));
  EXPECT_EQ(with_lf_line_ends(read_file(run.out_path)),
            "ringsim: -: a pass takes no time (no @SECONDS past 0, RINGSIM_INTERVAL_US 0): "
            "played once, not looped\n");
}

TEST(Process, AUtf16ScriptAndStampsThatCannotBeWrittenAreSaid) {
  const std::string stamps = temporary_path("missing") + "/stamps";
  BridgeRun run(std::string("\xFF\xFE"
                            "4\0\n\0",
                            6),
                {{"RINGSIM_EVENTS", "-"}, {"RINGSIM_STAMPS", stamps}});
  std::string said;
  for (int i = 0; i < 100 && std::count(said.begin(), said.end(), '\n') < 2; ++i) {
    std::this_thread::sleep_for(100ms);
    said = with_lf_line_ends(read_file(run.out_path));
  }
  EXPECT_EQ(said, "ringsim: -: UTF-16 text; save the script as UTF-8\nringsim: cannot write " +
                      stamps + ".partial: No such file or directory\n");
  EXPECT_TRUE(run.process.running());
}

TEST(Process, EachThreadPlaysTheWholeScriptFile) {
  UdpReceiver receiver(7040);
  const BridgeRun run("4 gest_value=7\n", {{"RINGSIM_THREADS", "3"}});
  EXPECT_EQ(receiver.receive_all(3, 10s, 300ms), std::vector<Datagram>(3, bundle("/gest i 7")));
}

TEST(Process, DemoWithoutARingSaysSo) {
  UdpReceiver receiver(7040);
  const BridgeRun run("", {{"RINGSIM_EVENTS", ""}, {"RINGSIM_RINGS", "0"}});
  EXPECT_EQ(receiver.receive_all(1, 10s, 300ms), std::vector<Datagram>{bundle("")});
  EXPECT_EQ(with_lf_line_ends(read_file(run.out_path)),
            "ringsim: demo waits: QorNumRings is 0, so nothing subscribes\n");
}

TEST(Process, DemoHandsOverEachTicksEventsWhateverBecomesOfTheLog) {
  UdpReceiver receiver(7040);
  const std::string log = temporary_path("missing") + "/log";
  BridgeRun run("", {{"RINGSIM_EVENTS", ""}, {"RINGSIM_LOG", log}});
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
