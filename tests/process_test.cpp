// The real ring2osc with the simulated ring SDK, in a process of its own,
// received on port 7040.
#include "tests/support/child_process.h"
#include "tests/support/host.h"
#include "tests/support/osc_decoder.h"
#include "tests/support/udp_receiver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

Datagram hex(const std::string &text) {
  Datagram bytes;
  std::istringstream in(text);
  unsigned value = 0;
  while (in >> std::hex >> value) {
    bytes.push_back(static_cast<unsigned char>(value));
  }
  return bytes;
}

const std::string head = "23 62 75 6E 64 6C 65 00 00 00 00 00 00 00 00 01 ";

// The bridge running one script; the process is ended when this goes.
class BridgeRun {
public:
  explicit BridgeRun(const std::string &script, const std::string &rings = "1",
                     const std::string &threads = "1")
      : script_path(temporary_path("script")), log_path(temporary_path("log")),
        out_path(temporary_path("out")), err_path(temporary_path("err")) {
    write_file(script_path, script);
    set_environment("RINGSIM_EVENTS", script_path);
    set_environment("RINGSIM_LOG", log_path);
    set_environment("RINGSIM_RINGS", rings);
    set_environment("RINGSIM_INTERVAL_US", "200");
    set_environment("RINGSIM_THREADS", threads);
    started = process.start(program_beside_tests("ring2osc"), {}, out_path, err_path);
  }
  ~BridgeRun() {
    process.kill();
    for (const std::string &path : {script_path, log_path, out_path, err_path}) {
      std::remove(path.c_str());
    }
    for (const char *name : {"RINGSIM_EVENTS", "RINGSIM_LOG", "RINGSIM_RINGS",
                             "RINGSIM_INTERVAL_US", "RINGSIM_THREADS"}) {
      unset_environment(name);
    }
  }
  BridgeRun(const BridgeRun &) = delete;
  BridgeRun &operator=(const BridgeRun &) = delete;

  std::string script_path, log_path, out_path, err_path;
  ChildProcess process;
  bool started = false;
};

std::vector<Datagram> receive_count(UdpReceiver &receiver, std::size_t count) {
  std::vector<Datagram> all;
  Datagram datagram;
  while (all.size() < count && receiver.receive(datagram, 10s)) {
    all.push_back(datagram);
  }
  // Anything beyond what was expected would be a fault too.
  while (receiver.receive(datagram, 300ms)) {
    all.push_back(datagram);
  }
  return all;
}

TEST(Process, ScriptEventsArriveByteForByteAndTheBridgeKeepsRunning) {
  UdpReceiver receiver(7040);
  ASSERT_TRUE(receiver.is_open()) << "port 7040 is taken";
  const std::string script = "# every kind once\n"
                             "11\n"
                             "1 x=1.0 y=0.0 z=-1.0\n"
                             "2 r_r=0.5 r_p=-2 r_y=inf\n"
                             "3 j_x=-1 j_y=2 j_t=1\n"
                             "4 gest_value=5\n"
                             "0 b_number=3.0 b_value=1\n"
                             "0 b_number=2.5 b_value=1\n"
                             "9 x=2 y=-0.0 z=nan\n"
                             "7 x=1\n";
  BridgeRun run(script);
  ASSERT_TRUE(run.started);
  const std::vector<Datagram> expected = {
      hex(head),
      hex(head + "00 00 00 10 2F 61 2F 78 00 00 00 00 2C 66 00 00 3F 80 00 00 "
                 "00 00 00 10 2F 61 2F 79 00 00 00 00 2C 66 00 00 00 00 00 00 "
                 "00 00 00 10 2F 61 2F 7A 00 00 00 00 2C 66 00 00 BF 80 00 00"),
      hex(head + "00 00 00 10 2F 72 2F 72 00 00 00 00 2C 66 00 00 3F 00 00 00 "
                 "00 00 00 10 2F 72 2F 70 00 00 00 00 2C 66 00 00 C0 00 00 00 "
                 "00 00 00 10 2F 72 2F 79 00 00 00 00 2C 66 00 00 7F 80 00 00"),
      hex(head + "00 00 00 10 2F 6A 2F 78 00 00 00 00 2C 69 00 00 FF FF FF FF "
                 "00 00 00 10 2F 6A 2F 79 00 00 00 00 2C 69 00 00 00 00 00 02 "
                 "00 00 00 10 2F 6A 2F 74 00 00 00 00 2C 69 00 00 00 00 00 01"),
      hex(head + "00 00 00 10 2F 67 65 73 74 00 00 00 2C 69 00 00 00 00 00 05"),
      hex(head + "00 00 00 10 2F 62 2F 33 00 00 00 00 2C 69 00 00 00 00 00 01"),
      hex(head),
      hex(head + "00 00 00 10 2F 67 2F 78 00 00 00 00 2C 66 00 00 40 00 00 00 "
                 "00 00 00 10 2F 67 2F 79 00 00 00 00 2C 66 00 00 80 00 00 00 "
                 "00 00 00 10 2F 67 2F 7A 00 00 00 00 2C 66 00 00 7F C0 00 00"),
      hex(head),
  };
  const std::vector<Datagram> arrived = receive_count(receiver, expected.size());
  EXPECT_EQ(arrived, expected);
  EXPECT_TRUE(run.process.running());
  EXPECT_EQ(read_file(run.log_path), "QorInitialize\n"
                                     "QorNumRings 1\n"
                                     "QorGetRingName 0\nQorSubscribe 2 ring0\n"
                                     "QorGetRingName 0\nQorSubscribe 3 ring0\n"
                                     "QorGetRingName 0\nQorSubscribe 4 ring0\n"
                                     "QorGetRingName 0\nQorSubscribe 1 ring0\n"
                                     "QorGetRingName 0\nQorSubscribe 10 ring0\n"
                                     "QorGetRingName 0\nQorSubscribe 5 ring0\n"
                                     "QorGetRingName 0\nQorSubscribe 6 ring0\n");
  EXPECT_EQ(read_file(run.out_path), "");
  EXPECT_EQ(with_lf_line_ends(read_file(run.err_path)), "");
}

TEST(Process, FourDeliveryThreadsLoseNothing) {
  UdpReceiver receiver(7040);
  ASSERT_TRUE(receiver.is_open());
  constexpr int lines = 1000;
  constexpr int threads = 4;
  std::string script;
  int subscribe_events = 0;
  for (int i = 0; i < lines; ++i) {
    if (i % 50 == 0) {
      script += "11\n";
      ++subscribe_events;
    } else {
      script += "3 j_x=" + std::to_string(i) + " j_y=" + std::to_string(-i) + " j_t=7\n";
    }
  }
  BridgeRun run(script, "1", std::to_string(threads));
  ASSERT_TRUE(run.started);
  const std::size_t expected = std::size_t{threads} * lines;
  const std::vector<Datagram> arrived = receive_count(receiver, expected);
  ASSERT_EQ(arrived.size(), expected);

  std::map<std::int32_t, int> joystick_x;
  int empty_bundles = 0;
  for (const Datagram &datagram : arrived) {
    const DecodedBundle bundle = decode_bundle(datagram);
    ASSERT_TRUE(bundle.valid) << bundle.error;
    if (bundle.messages.empty()) {
      ++empty_bundles;
      continue;
    }
    ASSERT_EQ(bundle.messages.size(), 3U);
    const std::int32_t x = bundle.messages[0].arguments.at(0).as_int();
    EXPECT_EQ(bundle.messages[1].arguments.at(0).as_int(), -x);
    EXPECT_EQ(bundle.messages[2].arguments.at(0).as_int(), 7);
    ++joystick_x[x];
  }
  EXPECT_EQ(empty_bundles, threads * subscribe_events);
  EXPECT_EQ(joystick_x.size(), static_cast<std::size_t>(lines - subscribe_events));
  for (const auto &entry : joystick_x) {
    ASSERT_EQ(entry.second, threads) << "j_x " << entry.first;
  }

  std::map<std::string, int> log_lines;
  std::istringstream log(read_file(run.log_path));
  for (std::string line; std::getline(log, line);) {
    ++log_lines[line];
  }
  const int subscriptions = threads * subscribe_events;
  EXPECT_EQ(log_lines["QorInitialize"], 1);
  EXPECT_EQ(log_lines["QorNumRings 1"], subscriptions);
  EXPECT_EQ(log_lines["QorGetRingName 0"], 7 * subscriptions);
  for (const char *code : {"2", "3", "4", "1", "10", "5", "6"}) {
    EXPECT_EQ(log_lines[std::string("QorSubscribe ") + code + " ring0"], subscriptions) << code;
  }
  EXPECT_EQ(log_lines.size(), 10U) << "a log line was torn";
  EXPECT_EQ(read_file(run.err_path), "");
  EXPECT_TRUE(run.process.running());
}

TEST(Process, HostileScriptLinesAreReportedAndTheRestPlays) {
  UdpReceiver receiver(7040);
  ASSERT_TRUE(receiver.is_open());
  std::string script;
  std::set<int> bad_lines;
  int line_number = 0;
  std::uint32_t seed = 12345;
  const auto random_byte = [&seed] {
    seed = seed * 1664525U + 1013904223U;
    const auto byte = static_cast<char>(seed >> 24);
    return byte == '\n' ? 'n' : byte;
  };
  const auto bad = [&](const std::string &line) {
    script += line + "\n";
    bad_lines.insert(++line_number);
  };
  const auto good = [&](int gesture) {
    script += "4 gest_value=" + std::to_string(gesture) + "\n";
    ++line_number;
  };
  good(1);
  bad("four");
  for (int i = 0; i < 20; ++i) {
    std::string noise = i % 2 == 0 ? "Z" : "1 Q";
    for (int j = 0; j < 200; ++j) {
      noise += random_byte();
    }
    bad(noise);
  }
  good(2);
  bad("4 gest_value=" + std::string(1000000, '9'));
  bad(std::string(1000000, 'x'));
  bad("1 x=1e999999");
  bad("1 x= y=2");
  bad("1 x=1 =");
  bad("-");
  bad("4 gest_value=-2147483649");
  good(3);
  BridgeRun run(script);
  ASSERT_TRUE(run.started);
  const std::vector<Datagram> arrived = receive_count(receiver, 3);
  ASSERT_EQ(arrived.size(), 3U);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(decode_bundle(arrived[i]).messages.at(0).arguments.at(0).as_int(), i + 1);
  }
  std::set<int> reported;
  std::istringstream errors(with_lf_line_ends(read_file(run.err_path)));
  const std::string prefix = "ringsim: " + run.script_path + ":";
  std::string first;
  std::getline(errors, first);
  EXPECT_EQ(first, prefix + "2: bad kind \"four\"");
  reported.insert(2);
  for (std::string line; std::getline(errors, line);) {
    ASSERT_EQ(line.rfind(prefix, 0), 0U) << line;
    EXPECT_LT(line.size(), 200U) << "a report repeats too much of its line";
    reported.insert(std::stoi(line.substr(prefix.size())));
  }
  EXPECT_EQ(reported, bad_lines);
  EXPECT_EQ(read_file(run.out_path), "");
  EXPECT_TRUE(run.process.running());
}

TEST(Process, DemoShowsEveryDataKindWithinFiveSeconds) {
  UdpReceiver receiver(7040);
  ASSERT_TRUE(receiver.is_open());
  const std::string out_path = temporary_path("demo-out");
  const std::string err_path = temporary_path("demo-err");
  ChildProcess process;
  ASSERT_TRUE(process.start(program_beside_tests("ring2osc"), {}, out_path, err_path));
  const std::set<std::string> wanted = {"/a/x", "/r/r", "/j/x", "/gest", "/b/", "/g/x"};
  std::set<std::string> seen;
  const auto deadline = std::chrono::steady_clock::now() + 5s;
  Datagram datagram;
  while (seen.size() < wanted.size() && std::chrono::steady_clock::now() < deadline &&
         receiver.receive(datagram, 1s)) {
    const DecodedBundle bundle = decode_bundle(datagram);
    ASSERT_TRUE(bundle.valid) << bundle.error;
    for (const DecodedMessage &message : bundle.messages) {
      const std::string address =
          message.address.rfind("/b/", 0) == 0 ? std::string("/b/") : message.address;
      if (wanted.count(address) != 0) {
        seen.insert(address);
      }
    }
  }
  for (const std::string &address : wanted) {
    EXPECT_EQ(seen.count(address), 1U) << address << " did not arrive within 5 seconds";
  }
  EXPECT_TRUE(process.running());
  process.kill();
  EXPECT_EQ(read_file(out_path), "");
  EXPECT_EQ(read_file(err_path), "");
  std::remove(out_path.c_str());
  std::remove(err_path.c_str());
}

} // namespace
