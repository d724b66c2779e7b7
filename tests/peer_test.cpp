// Real OSC receivers that share no code with the bridge, fed by the real
// ring2osc: liblo's oscdump, the SuperCollider example and the Pd patch each
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
  std::size_t shows; // how often each address is shown
};

class Peers : public ::testing::TestWithParam<Peer> {};

TEST_P(Peers, ShowEveryAddressWithItsValue) {
  const Peer &peer = GetParam();
  set_environment("QT_QPA_PLATFORM", "offscreen");
  set_environment("QTWEBENGINE_DISABLE_SANDBOX", "1");
  set_environment("RING2OSC_POST", "1");
  set_environment("RING2OSC_EXAMPLE", source + "/examples/ring2osc.scd");
  const std::string output = temporary_path(peer.name);
  ChildProcess listener;
  ASSERT_TRUE(listener.start(peer.command, {"", output}));
  for (int i = 0; i < 500 && UdpReceiver(7040).is_open(); ++i) {
    std::this_thread::sleep_for(20ms); // until the peer holds the port
  }
  const BridgeRun run(script);
  Shown shown;
  for (int i = 0; i < 300 && shown.size() < peer.shows * expected.size(); ++i) {
    std::this_thread::sleep_for(50ms);
    shown = shown_in(read_file(output));
  }
  ASSERT_EQ(shown.size(), peer.shows * expected.size()) << read_file(output);
  for (std::size_t i = 0; i < shown.size(); ++i) {
    const auto &[address, sent] = expected[i % expected.size()];
    // Pd's number boxes show six significant digits, and a NaN as 0.
    const double value = std::isnan(sent) && peer.name == "pd" ? 0 : sent;
    EXPECT_EQ(shown[i].first, address);
    EXPECT_TRUE(std::isnan(value) ? std::isnan(shown[i].second)
                                  : shown[i].second == value ||
                                        std::abs(shown[i].second - value) <= 1e-5 * std::abs(value))
        << address << " showed " << shown[i].second;
  }
  std::remove(output.c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Receivers, Peers,
    ::testing::Values(Peer{"oscdump", {OSCDUMP_PROGRAM, "-L", "7040"}, 1},
                      Peer{"sclang", {SCLANG_PROGRAM, source + "/tests/sc_harness.scd"}, 2},
                      Peer{"pd",
                           {PD_PROGRAM, "-nogui", "-nosound", "-nomidi", "-stderr", "-open",
                            source + "/tests/pd_harness.pd", "-open",
                            source + "/examples/ring2osc.pd"},
                           1}),
    [](const ::testing::TestParamInfo<Peer> &info) { return info.param.name; });

} // namespace
