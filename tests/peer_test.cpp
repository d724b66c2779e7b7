// Real OSC receivers that share no code with the bridge, fed by the real
// ring2osc through the real ring2osc-tap, all at once: liblo's oscdump, the
// SuperCollider example and the Pd patch, each on a port of its own, each
// show every address with its value.
#include "tests/support/child_process.h"
#include "tests/support/udp_receiver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <regex>
#include <sstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Shown = std::vector<std::pair<std::string, double>>;
const std::string source = RING2OSC_SOURCE_DIR;

// All 23 addresses, in the order in which the peers show them.
const std::string script =
    "1 x=1.5 y=-inf z=nan\n2 r_r=0.25 r_p=-90 r_y=180\n"
    "3 j_x=-2147483648 j_y=2147483647 j_t=1\n4 gest_value=5\n"
    "9 x=inf y=-0.5 z=3\n" +
    [] {
      std::string buttons;
      for (int n = 0; n < 10; ++n) {
        buttons += "0 b_number=" + std::to_string(n) + " b_value=" + std::to_string(n * 11) + "\n";
      }
      return buttons;
    }();
const Shown expected = {
    {"/a/x", 1.5},      {"/a/y", -INFINITY},   {"/a/z", NAN},        {"/r/r", 0.25}, {"/r/p", -90},
    {"/r/y", 180},      {"/j/x", -2147483648}, {"/j/y", 2147483647}, {"/j/t", 1},    {"/gest", 5},
    {"/g/x", INFINITY}, {"/g/y", -0.5},        {"/g/z", 3},          {"/b/0", 0},    {"/b/1", 11},
    {"/b/2", 22},       {"/b/3", 33},          {"/b/4", 44},         {"/b/5", 55},   {"/b/6", 66},
    {"/b/7", 77},       {"/b/8", 88},          {"/b/9", 99}};

// From each line showing an address: the address and the line's last word,
// its value ("/a/x 1.5", Pd's "/a/x: 1.5", oscdump's "TIME /a/x f 1.500000").
Shown shown_in(const std::string &output) {
  static const std::regex shown_line(R"((^|\s)(/[a-z]/[a-z0-9]|/gest):? (.* )?(\S+)$)");
  Shown shown;
  std::istringstream lines(output);
  std::smatch match;
  for (std::string line; std::getline(lines, line);) {
    if (std::regex_search(line, match, shown_line)) {
      shown.emplace_back(match[2], std::strtod(match[4].str().c_str(), nullptr));
    }
  }
  return shown;
}

struct Peer {
  std::string name;
  std::vector<std::string> command;
  unsigned port;
  std::size_t shows; // how often each address is shown
};

TEST(Peers, AllAtOnceThroughTheTapEachShowsEveryAddressWithItsValue) {
  set_environment("QT_QPA_PLATFORM", "offscreen");
  set_environment("QTWEBENGINE_DISABLE_SANDBOX", "1");
  set_environment("RING2OSC_POST", "1");
  set_environment("RING2OSC_PORT", "7042");
  set_environment("RING2OSC_EXAMPLE", source + "/examples/ring2osc.scd");
  const Peer peers[] = {
      {"pd",
       {PD_PROGRAM, "-nogui", "-nosound", "-nomidi", "-stderr", "-open",
        source + "/tests/pd_harness.pd", "-open", source + "/examples/ring2osc.pd", "-send",
        "ring2osc-port 7041"},
       7041,
       1},
      {"sclang", {SCLANG_PROGRAM, source + "/tests/sc_harness.scd"}, 7042, 2},
      {"oscdump", {OSCDUMP_PROGRAM, "-L", "7043"}, 7043, 1},
  };
  ChildProcess listeners[std::size(peers)];
  std::string outputs[std::size(peers)];
  for (std::size_t p = 0; p < std::size(peers); ++p) {
    outputs[p] = temporary_path(peers[p].name);
    ASSERT_TRUE(listeners[p].start(peers[p].command, {"", outputs[p]}));
    ASSERT_TRUE(wait_for_udp_port(peers[p].port, 20s)) << peers[p].name;
  }
  ChildProcess tap;
  ASSERT_TRUE(tap.start({program_beside_tests("ring2osc-tap"), "--quiet", "--forward", "7041",
                         "--forward", "7042", "--forward", "7043"}));
  ASSERT_TRUE(wait_for_udp_port(7040, 20s));
  const BridgeRun run(script);

  for (std::size_t p = 0; p < std::size(peers); ++p) {
    const Peer &peer = peers[p];
    Shown shown;
    for (int i = 0; i < 300 && shown.size() < peer.shows * expected.size(); ++i) {
      shown = shown_in(read_file(outputs[p]));
      std::this_thread::sleep_for(shown.size() < peer.shows * expected.size() ? 50ms : 0ms);
    }
    ASSERT_EQ(shown.size(), peer.shows * expected.size()) << read_file(outputs[p]);
    for (std::size_t i = 0; i < shown.size(); ++i) {
      const auto &[address, sent] = expected[i % expected.size()];
      // Pd's number boxes show six significant digits, and a NaN as 0.
      const double value = std::isnan(sent) && peer.name == "pd" ? 0 : sent;
      EXPECT_EQ(shown[i].first, address) << peer.name;
      EXPECT_TRUE(std::isnan(value)
                      ? std::isnan(shown[i].second)
                      : shown[i].second == value ||
                            std::abs(shown[i].second - value) <= 1e-5 * std::abs(value))
          << peer.name << ": " << address << " showed " << shown[i].second;
    }
    std::remove(outputs[p].c_str());
  }
}

} // namespace
