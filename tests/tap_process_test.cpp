// The real ring2osc-tap in a process of its own, on port 7040: what it hands
// on, byte for byte and in order, what it prints, how it starts and ends.
#include "tests/support/child_process.h"
#include "tests/support/every_kind.h"
#include "tests/support/udp_receiver.h"

#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <regex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

// A pipe whose reader reads nothing until asked to.
struct UnreadPipe {
  UnreadPipe() = default;
  ~UnreadPipe() {
    close(reader);
    std::remove(path.c_str());
  }
  UnreadPipe(const UnreadPipe &) = delete;
  UnreadPipe &operator=(const UnreadPipe &) = delete;

  // Everything written until the last writer closes.
  std::string read_to_end() const {
    std::string text;
    char chunk[65536];
    for (ssize_t got = 0; (got = read(reader, chunk, sizeof chunk)) != 0;) {
      text.append(chunk, got > 0 ? static_cast<std::size_t>(got) : 0);
      std::this_thread::sleep_for(got > 0 ? 0ms : 10ms);
    }
    return text;
  }

  std::string path = [] {
    std::string fifo = temporary_path("fifo");
    mkfifo(fifo.c_str(), 0600);
    return fifo;
  }();
  int reader = open(path.c_str(), O_RDONLY | O_NONBLOCK);
};

// The bridge's acceleration datagram: about 30 bytes a line
// ("0.123456 /a/x f -1.1754945e-38").
const Datagram acceleration = bundle("/a/x f 80800001 /a/y f 80800001 /a/z f 80800001");

std::string port_of(const UdpReceiver &receiver) {
  return "127.0.0.1:" + std::to_string(receiver.port());
}

TEST(TapProcess, ForwardsEveryDatagramUnchangedToEachDestinationAndSumsUp) {
  UdpReceiver a(0), b(0), sender(0);
  std::uint16_t comes_back = 0;
  {
    const UdpReceiver closed(0);
    comes_back = closed.port();
  }
  TapRun tap({"--quiet", "--forward", port_of(a), "--forward", std::to_string(b.port()),
              "--forward", "127.0.0.1:" + std::to_string(comes_back)});
  ASSERT_TRUE(tap.listening());
  const Datagram gesture = bundle("/gest i 5");
  Datagram largest(65507, 0x5A); // malformed: no OSC at all
  const Datagram foreign = {'/', 'x', 0, 0, ',', 'i', 0, 0, 1, 2, 3, 4};
  const std::vector<Datagram> sent = {gesture, largest, foreign, {0x01}, {}, gesture, foreign};
  const std::vector<Datagram> late = {gesture, {}};
  for (const Datagram &d : sent) {
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(sender.send_to(7040, d));
  }
  EXPECT_EQ(a.receive_all(sent.size(), 10s, 300ms), sent);
  EXPECT_EQ(b.receive_all(sent.size(), 10s, 300ms), sent);
  // The third destination comes back after them and gets the rest; each
  // datagram it missed counts as failed, each it got as forwarded (Linux
  // reports a miss at once; under Wine the report can come a datagram late).
  UdpReceiver back(comes_back);
  ASSERT_TRUE(back.is_open());
  for (const Datagram &d : late) {
    ASSERT_TRUE(sender.send_to(7040, d));
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_EQ(back.receive_all(late.size(), 10s, 300ms), late);
  EXPECT_EQ(a.receive_all(late.size(), 10s, 300ms), late);

  EXPECT_EQ(tap.process.wait_exit(SIGINT, 10s), 0);
  const std::string expected = "ring2osc-tap: 9 datagrams received \\(65640 bytes\\), 4 malformed, "
                               "2 foreign, (?:0|unknown) dropped by the system; " +
                               port_of(a) + ": 9 forwarded, 0 failed; " + port_of(b) +
                               ": 9 forwarded, 0 failed; 127.0.0.1:" + std::to_string(comes_back) +
                               ": ([23]) forwarded, ([67]) failed; 0 output lines dropped\n";
  const std::string summary = tap.output();
  std::smatch counts;
  ASSERT_TRUE(std::regex_match(summary, counts, std::regex(expected))) << summary;
  EXPECT_EQ(std::stoi(counts[1]) + std::stoi(counts[2]), 9);
}

// Standard output and the recording each into a pipe that nobody reads:
// forwarding goes on, at 5,000 datagrams a second, and only lines are lost.
TEST(TapProcess, OutputAndARecordingThatCannotBeWrittenCostLinesNeverDatagrams) {
  const UnreadPipe out, recording;
  UdpReceiver a(0), b(0), sender(0);
  TapRun tap(
      {"--record", recording.path, "--force", "--forward", port_of(a), "--forward", port_of(b)},
      out.path);
  ASSERT_TRUE(tap.listening());
  constexpr std::size_t sent = 20000; // more lines than the queues and the pipes hold
  std::atomic<std::size_t> arrived[2] = {};
  std::thread receivers[2];
  for (int i = 0; i < 2; ++i) {
    receivers[i] = std::thread([&, i] {
      Datagram datagram;
      while (arrived[i] < sent && (i == 0 ? a : b).receive(datagram, 10s)) {
        ++arrived[i];
      }
    });
  }
  // 5,000 a second, but never more than 200 ahead of what arrived, so that
  // an emulated tap (Wine, qemu) is not simply outrun; one that waited for
  // its output would stall here for good.
  const auto start = std::chrono::steady_clock::now();
  bool stalled = false;
  for (std::size_t i = 0; i < sent && !stalled; ++i) {
    std::this_thread::sleep_until(start + i * 200us);
    for (int waited = 0; i >= std::min(arrived[0], arrived[1]) + 200 && !stalled; ++waited) {
      stalled = waited == 10000;
      std::this_thread::sleep_for(1ms);
    }
    EXPECT_TRUE(sender.send_to(7040, acceleration));
  }
  for (std::thread &receiver : receivers) {
    receiver.join();
  }
  EXPECT_FALSE(stalled);
  EXPECT_EQ(arrived[0], sent);
  EXPECT_EQ(arrived[1], sent);

  kill(static_cast<pid_t>(tap.process.id()), SIGINT);
  const std::string output = out.read_to_end();
  EXPECT_EQ(tap.process.wait_exit(0, 10s), 0);
  std::smatch counts;
  ASSERT_TRUE(std::regex_search(
      output, counts,
      std::regex("; ([0-9]+) output lines dropped; recorded ([0-9]+) lines, ([0-9]+) lost\n$")))
      << output.substr(output.size() - std::min<std::size_t>(300, output.size()));
  EXPECT_GT(std::stoul(counts[1]), 0UL);
  EXPECT_EQ(std::stoul(counts[2]) + std::stoul(counts[3]), sent);
}

TEST(TapProcess, StartUpProblemsAreOneLineAndAStatus) {
  // No MIDI here: a JACK server nobody runs; Wine (without its sound driver)
  // has no MIDI outputs, and the 32-bit Linux build no MIDI at all.
  set_environment("JACK_DEFAULT_SERVER", "ring2osc-none");
  const std::string midi_map = RING2OSC_SOURCE_DIR "/examples/maps/midi.map";
  const std::string tap = std::getenv("RING2OSC_TAP") != nullptr ? std::getenv("RING2OSC_TAP") : "";
  const bool wine = tap.find("wine") != std::string::npos;
  const std::string no_midi = tap.find("qemu") != std::string::npos
                                  ? "this build of the tap has no MIDI"
                                  : "no MIDI here: neither the ALSA sequencer nor a JACK server "
                                    "is running";
  const std::string no_such_port =
      wine ? "MIDI output \"nosuch\" does not exist; the outputs are: none" : no_midi;
  const std::string existing = temporary_path("existing");
  std::ofstream(existing) << "keep me\n";
  struct Case {
    std::vector<std::string> arguments;
    int status;
    std::string output;
  };
  const Case cases[] = {
      {{"--forward", "7040"},
       2,
       "--forward 127.0.0.1:7040 is the address the tap listens on: it would loop"},
      {{"--listen", "0.0.0.0:7041", "--forward", "7041"},
       2,
       "--forward 127.0.0.1:7041 is the address the tap listens on: it would loop"},
      {{"--listen", "nosuch.invalid:7041"}, 2, "cannot resolve nosuch.invalid"},
      {{"--forward", "nosuch.invalid:7041"}, 2, "--forward: cannot resolve nosuch.invalid"},
      {{"--record", existing}, 1, existing + ": File exists (--force replaces a file)"},
      {{"--listen"}, 2, "--listen needs a value (ring2osc-tap --help shows the usage)"},
      {{"--port-taken"}, 1, "127.0.0.1:7040 is already in use by another program"},
      {{"--map", midi_map, "--midi-port", "nosuch"}, 1, midi_map + ": " + no_such_port},
      {{"--list-midi"}, wine ? 0 : 1, wine ? "no MIDI outputs (through Windows MIDI)" : no_midi},
  };
  for (const Case &c : cases) {
    const bool take_port = c.arguments[0] == "--port-taken";
    const UdpReceiver holder(take_port ? 7040 : 0);
    TapRun tap(take_port ? std::vector<std::string>{} : c.arguments);
    EXPECT_EQ(tap.process.wait_exit(0, 10s), c.status) << c.output;
    EXPECT_EQ(tap.output(), "ring2osc-tap: " + c.output + "\n");
  }
  EXPECT_EQ(read_file(existing), "keep me\n");
  std::remove(existing.c_str());
}

TEST(TapProcess, PrintsAndRecordsTheBridgeExactlyAndTheRecordingReplaysItByteForByte) {
  UdpReceiver a(0), sender(0);
  const std::string recording = temporary_path("recording");
  TapRun tap({"--record", recording, "--forward", port_of(a)});
  ASSERT_TRUE(tap.listening());
  const std::string script = "11\n1 x=1e-7 y=nan z=-0.0\n0 b_number=3 b_value=-1\n"
                             "9 x=bits:7F800001 y=-inf z=1e-45\n7 gest_value=1\n";
  std::vector<Datagram> live;
  {
    const BridgeRun bridge(script);
    live = a.receive_all(5, 10s, 300ms);
  }
  ASSERT_EQ(live.size(), 5U);
  ASSERT_TRUE(sender.send_to(7040, {'/', 'x', 0, 0}));
  ASSERT_EQ(a.receive_all(1, 10s, 300ms).size(), 1U);
  // Killed outright, the tap has still written every line it made.
  tap.process.kill();

  const std::regex time(R"(\d+\.\d{6})");
  EXPECT_EQ(std::regex_replace(tap.output(), time, "T"),
            "T /a/x f 1e-07\nT /a/y f bits:7FC00000\nT /a/z f -0\nT /b/3 i -1\n"
            "T /g/x f bits:7F800001\nT /g/y f -inf\nT /g/z f 1e-45\n");
  const std::string recorded = read_file(recording);
  const std::string heading = "# ring2osc-tap recording, started ";
  ASSERT_EQ(recorded.rfind(heading, 0), 0U);
  EXPECT_EQ(std::regex_replace(recorded.substr(recorded.find('\n') + 1), time, "T"),
            "@T -1\n@T 1 x=1e-07 y=bits:7FC00000 z=-0\n@T 0 b_number=3 b_value=-1\n"
            "@T 9 x=bits:7F800001 y=-inf z=1e-45\n@T -1\n# @T foreign 2F780000\n");

  UdpReceiver replay(7040);
  const BridgeRun bridge(recorded);
  EXPECT_EQ(replay.receive_all(live.size(), 10s, 300ms), live);
  std::remove(recording.c_str());
}

// The whole table, then rotations in one burst and a button pressed twice
// and let go, into --messages and both presets unedited; oscdump receives
// Wekinator's.
TEST(TapProcess, PlainMessagesAndBothPresetsFromEveryKind) {
  const std::string maps = RING2OSC_SOURCE_DIR "/examples/maps/";
  const std::string wekinator_out = temporary_path("wekinator");
  ChildProcess wekinator;
  ASSERT_TRUE(wekinator.start({OSCDUMP_PROGRAM, "-L", "6448"}, {"", wekinator_out}));
  ASSERT_TRUE(wait_for_udp_port(6448, 20s));
  UdpReceiver messages(0), vrchat(9000);
  ASSERT_TRUE(vrchat.is_open());
  TapRun tap({"--quiet", "--messages", port_of(messages), "--map", maps + "vrchat.map", "--map",
              maps + "wekinator.map"});
  ASSERT_TRUE(tap.listening());
  auto rows = every_kind();
  for (const auto &[r, bits] : {std::pair{"@1 2 r_r=90", "42B40000"},
                                {"2 r_r=-90", "C2B40000"},
                                {"2 r_r=360", "43B40000"}}) {
    rows.emplace_back(r, std::string("/r/r f ") + bits + " /r/p f 0 /r/y f 0");
  }
  rows.emplace_back("0 b_number=3 b_value=1", "/b/3 i 00000001");
  rows.emplace_back("0 b_number=3 b_value=0", "/b/3 i 00000000");
  std::string script;
  std::vector<Datagram> elements;
  for (const auto &[line, sent] : rows) {
    script += line + "\n";
    const Datagram whole = bundle(sent);
    for (std::size_t at = 16; at < whole.size(); at += 20) {
      elements.emplace_back(whole.begin() + static_cast<long>(at) + 4,
                            whole.begin() + static_cast<long>(at) + 20);
    }
  }
  const BridgeRun bridge(script);
  // Each message exactly as its element.
  EXPECT_EQ(messages.receive_all(elements.size(), 10s, 500ms), elements);

  std::map<std::string, std::vector<std::string>> shown; // per parameter, in order
  for (const Datagram &d : vrchat.receive_all(26, 10s, 500ms)) {
    const std::string text = osc_text(d.data(), d.size());
    const std::size_t comma = text.find(',');
    shown[text.substr(19, comma - 19)].push_back(text.substr(comma));
  }
  std::map<std::string, std::vector<std::string>> expected = {
      {"RingRoll", {",f 0.00277778", ",f 0.5", ",f 1"}}, // 90, then -90 and 360 held
      {"RingPitch", {",f -0.00416667", ",f 0", ",f 0", ",f 0"}},
      {"RingYaw", {",f 0.0333333", ",f 0", ",f 0", ",f 0"}},
      {"RingJoyX", {",f -1"}},
      {"RingJoyY", {",f 1"}},
      {"RingTouch", {",T"}},
      {"RingGesture", {",i 8"}},
  };
  for (int b = 0; b < 10; ++b) {
    expected["RingButton" + std::to_string(b)] = {",T"};
  }
  expected["RingButton3"].push_back(",F");
  EXPECT_EQ(shown, expected);

  const char *const held[] = {
      "1.500000 -2.250000 3.500000 0.000000 0.000000 0.000000 0.000000 0.000000 0.000000",
      "1.500000 -2.250000 3.500000 0.000000 0.000000 0.000000 0.500000 -0.750000 6.000000",
      "1.500000 -2.250000 3.500000 1.500000 -2.250000 3.500000 0.500000 -0.750000 6.000000",
      "1.500000 -2.250000 3.500000 1.500000 -2.250000 3.500000 0.500000 -0.000000 0.000000",
      "1.500000 -2.250000 3.500000 1.500000 -2.250000 -0.000000 0.500000 -0.000000 0.000000",
      "1.500000 -2.250000 3.500000 1.500000 -2.250000 -0.000000 90.000000 0.000000 0.000000",
      "1.500000 -2.250000 3.500000 1.500000 -2.250000 -0.000000 -90.000000 0.000000 0.000000",
      "1.500000 -2.250000 3.500000 1.500000 -2.250000 -0.000000 360.000000 0.000000 0.000000"};
  std::string wekinator_expected;
  for (const char *inputs : held) {
    wekinator_expected += std::string("/wek/inputs fffffffff ") + inputs + "\n";
  }
  std::string wekinator_shown;
  for (int i = 0; i < 100 && wekinator_shown.size() < wekinator_expected.size(); ++i) {
    std::this_thread::sleep_for(50ms);
    wekinator_shown = std::regex_replace(read_file(wekinator_out), std::regex("(^|\n)\\S+ "), "$1");
  }
  EXPECT_EQ(wekinator_shown, wekinator_expected);
  EXPECT_EQ(wekinator.wait_exit(SIGINT, 10s), 0);
  std::remove(wekinator_out.c_str());

  EXPECT_EQ(tap.process.wait_exit(SIGINT, 10s), 0);
  EXPECT_TRUE(std::regex_search(
      tap.output(), std::regex("vrchat.map -> 127.0.0.1:9000: 26 sent, 0 failed, 4 not finite "
                               "dropped; .*wekinator.map -> 127.0.0.1:6448: 8 sent, 0 failed, 9 "
                               "not finite dropped;")))
      << tap.output();
}

} // namespace
