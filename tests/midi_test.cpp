// MIDI out of the real tap, on a JACK server of the test's own (the dummy
// backend: no sound hardware needed) with jack_midi_dump as the receiver:
// the MIDI preset unedited on the whole table, a port that goes and comes
// back, the tap's own port, one that does not exist. (Without any MIDI:
// tap_process_test.)
#include "tests/support/child_process.h"
#include "tests/support/every_kind.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <iostream>
#include <regex>
#include <thread>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;

const std::string preset = RING2OSC_SOURCE_DIR "/examples/maps/midi.map";

// The output of a program run to its end.
std::string output_of(const std::vector<std::string> &command, int *status = nullptr) {
  const std::string out = temporary_path("out");
  ChildProcess program;
  program.start(command, {"", out});
  const int exit = program.wait_exit(0, 10s);
  if (status != nullptr) {
    *status = exit;
  }
  const std::string text = read_file(out);
  std::remove(out.c_str());
  return text;
}

// A JACK server of the test's own and jack_midi_dump, whose port is
// "midi-monitor:input".
struct Jack {
  Jack() {
    const std::string name = "ring2osc-test-" + std::to_string(getpid());
    set_environment("JACK_NO_START_SERVER", "1");
    set_environment("JACK_DEFAULT_SERVER", name);
    // Few ports: the server's shared memory then takes about 38 MB of
    // /dev/shm instead of 107 MB.
    server.start(
        {JACKD_PROGRAM, "--port-max", "16", "-n", name, "-d", "dummy", "-r", "48000", "-p", "256"},
        {"", server_log});
    // jack_wait can give up early while another server's shared memory is
    // being set up or taken down (another test run on this machine).
    for (int attempt = 0; attempt < 3 && !up && server.running(); ++attempt) {
      int status = -1;
      output_of({JACK_WAIT_PROGRAM, "-w", "-t", "10"}, &status);
      up = status == 0;
    }
    if (!up) {
      std::error_code error;
      std::cerr << "the JACK server did not start (/dev/shm has "
                << std::filesystem::space("/dev/shm", error).available / 1000000 << " MB free):\n"
                << read_file(server_log);
    }
  }
  ~Jack() {
    dump.kill();
    server.wait_exit(SIGTERM, 10s);
    std::remove(server_log.c_str());
  }
  Jack(const Jack &) = delete;
  Jack &operator=(const Jack &) = delete;

  // JACK's clients may say on the same output that they cannot lock memory
  // or run in real time (no such privileges).
  bool has(const std::string &port) {
    for (int i = 0; i < 100; ++i) {
      if (("\n" + output_of({JACK_LSP_PROGRAM, port})).find("\n" + port + "\n") !=
          std::string::npos) {
        return true;
      }
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }
  bool start_dump() {
    dump_path = temporary_path("dump");
    if (dump.start({JACK_MIDI_DUMP_PROGRAM}, {"", dump_path}) && has("midi-monitor:input")) {
      return true;
    }
    std::cerr << "jack_midi_dump did not start:\n" << read_file(dump_path);
    return false;
  }
  // The bytes of each message dumped, once `lines` of them came.
  std::string dumped(std::size_t lines) const {
    std::string shown;
    for (int i = 0;
         i < 100 && static_cast<std::size_t>(std::count(shown.begin(), shown.end(), '\n')) < lines;
         ++i) {
      std::this_thread::sleep_for(50ms);
      const std::string text = read_file(dump_path);
      const std::regex message(R"(\s*\d+: ((?:[0-9a-f]{2} )+))");
      shown.clear();
      for (auto m = std::sregex_iterator(text.begin(), text.end(), message);
           m != std::sregex_iterator(); ++m) {
        shown += (*m)[1].str() + "\n";
      }
    }
    return shown;
  }

  const std::string server_log = temporary_path("jackd");
  ChildProcess server, dump;
  std::string dump_path;
  bool up = false;
};

TEST(Midi, ThePresetOnEveryKindThenAPortThatGoesAndComesBack) {
  Jack jack;
  ASSERT_TRUE(jack.up && jack.start_dump());
  TapRun tap({"--quiet", "--map", preset, "--midi-port", "MONITOR"});
  ASSERT_TRUE(tap.listening());
  // Whether the tap has said `text` `times` times, within 10 s.
  const auto said = [&tap](const std::string &text, int times) {
    for (int i = 0; i < 200; ++i) {
      const std::string out = tap.output();
      int n = 0;
      for (auto at = out.find(text); at != std::string::npos; at = out.find(text, at + 1)) {
        ++n;
      }
      if (n >= times) {
        return true;
      }
      std::this_thread::sleep_for(50ms);
    }
    return false;
  };
  std::string script;
  for (const auto &row : every_kind()) {
    script += row.first + "\n";
  }
  {
    const BridgeRun bridge(script + "0 b_number=0 b_value=0\n");
    // Notes on while a button is not 0; controls from their ranges to
    // 0..127, each only when its value changes; what is not finite dropped.
    EXPECT_EQ(jack.dumped(19), "b0 17 6f \nb0 18 00 \nb0 19 7f \n" // /a: 1.5 -2.25 3.5
                               "b0 14 40 \nb0 15 3f \nb0 16 42 \n" // /r: 0.5 -0.75 6
                               "b0 1d 00 \nb0 1e 7f \nb0 1f 7f \n" // /j and touched
                               "b0 1a 6f \nb0 1b 00 \nb0 1c 7f \n" // /g
                               "90 3c 64 \n"                       // /b/0 -7
                               "b0 15 40 \nb0 16 40 \n"            // -0 and 1e-45
                               "b0 1c 40 \n"                       // -1.2e-38
                               "90 3d 64 \n90 3e 64 \n90 3f 64 \n90 40 64 \n90 41 64 \n"
                               "90 42 64 \n90 43 64 \n90 44 64 \n90 45 64 \n80 3c 00 \n");
  }
  jack.dump.kill();
  ASSERT_TRUE(said("is gone", 1));
  {
    const BridgeRun bridge("0 b_number=1 b_value=0\n"); // missed: the port is gone
    std::this_thread::sleep_for(1s);
  }
  ASSERT_TRUE(jack.start_dump());
  ASSERT_TRUE(said("input is back\n", 1)); // not "until it is back"
  {
    const BridgeRun bridge("0 b_number=2 b_value=0\n");
    EXPECT_EQ(jack.dumped(1), "80 3e 00 \n");
  }
  jack.dump.kill(); // gone again as the tap ends
  EXPECT_TRUE(said("is gone", 2));
  EXPECT_EQ(tap.process.wait_exit(SIGINT, 10s), 0);
  const std::string gone = "ring2osc-tap: MIDI port midi-monitor:input is gone: what it misses "
                           "counts as failed until it is back\n";
  EXPECT_EQ(
      tap.output(),
      "ring2osc-tap: MIDI through JACK\n" + gone +
          "ring2osc-tap: MIDI port midi-monitor:input is back\n" + gone +
          "ring2osc-tap: 33 datagrams received (1288 bytes), 0 malformed, 0 foreign, 0 dropped "
          "by the system; " +
          preset +
          " -> MIDI midi-monitor:input: 27 sent, 1 failed, 9 not "
          "finite dropped, the port is gone; 0 output lines dropped\n");
}

TEST(Midi, TheTapsOwnPortAListAndAPortThatDoesNotExist) {
  Jack jack;
  ASSERT_TRUE(jack.up && jack.start_dump());
  {
    TapRun own({"--quiet", "--map", preset});
    ASSERT_TRUE(own.listening() && jack.has("ring2osc:ring2osc"));
    int connected = -1;
    output_of({JACK_CONNECT_PROGRAM, "ring2osc:ring2osc", "midi-monitor:input"}, &connected);
    EXPECT_EQ(connected, 0);
    const BridgeRun bridge("0 b_number=9 b_value=1\n");
    EXPECT_EQ(jack.dumped(1), "90 45 64 \n");
  }
  int status = -1;
  const std::string tap = program_beside_tests("ring2osc-tap");
  EXPECT_EQ(output_of({tap, "--list-midi"}, &status), "midi-monitor:input\n");
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output_of({tap, "--map", preset, "--midi-port", "nosuch"}, &status),
            "ring2osc-tap: " + preset +
                ": MIDI output \"nosuch\" does not exist; the outputs are: midi-monitor:input\n");
  EXPECT_EQ(status, 1);
}

} // namespace
