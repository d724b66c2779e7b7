// End to end into an OSC receiver that shares no code with the bridge:
// liblo's oscdump decodes what the real ring2osc sends.
#include "tests/support/child_process.h"
#include "tests/support/udp_receiver.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

// oscdump's lines without the time tag it puts first.
std::vector<std::string> decoded_lines(const std::string &output) {
  std::vector<std::string> lines;
  std::istringstream in(output);
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t space = line.find(' ');
    lines.push_back(space == std::string::npos ? line : line.substr(space + 1));
  }
  return lines;
}

TEST(Oscdump, DecodesEveryMessageOfEveryKind) {
  const std::string dump_path = temporary_path("oscdump");
  ChildProcess oscdump;
  ASSERT_TRUE(oscdump.start(OSCDUMP_PROGRAM, {"-L", "7040"}, dump_path, ""));
  // oscdump is listening once the port is no longer free.
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (UdpReceiver(7040).is_open() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }

  const std::string script_path = temporary_path("script");
  write_file(script_path, "11\n"
                          "1 x=1.5 y=0 z=-1\n"
                          "2 r_r=0.25 r_p=-90 r_y=180\n"
                          "3 j_x=-1 j_y=2147483647 j_t=-2147483648\n"
                          "4 gest_value=5\n"
                          "0 b_number=0 b_value=1\n"
                          "0 b_number=9 b_value=0\n"
                          "0 b_number=10 b_value=1\n"
                          "9 x=inf y=-inf z=-0.0\n"
                          "12 x=3\n");
  set_environment("RINGSIM_EVENTS", script_path);
  ChildProcess bridge;
  ASSERT_TRUE(bridge.start(program_beside_tests("ring2osc"), {}, "", ""));

  const std::vector<std::string> expected = {
      "/a/x f 1.500000",    "/a/y f 0.000000",   "/a/z f -1.000000", "/r/r f 0.250000",
      "/r/p f -90.000000",  "/r/y f 180.000000", "/j/x i -1",        "/j/y i 2147483647",
      "/j/t i -2147483648", "/gest i 5",         "/b/0 i 1",         "/b/9 i 0",
      "/g/x f inf",         "/g/y f -inf",       "/g/z f -0.000000",
  };
  std::vector<std::string> lines;
  while (lines.size() < expected.size() && std::chrono::steady_clock::now() < deadline + 10s) {
    std::this_thread::sleep_for(50ms);
    lines = decoded_lines(read_file(dump_path));
  }
  std::this_thread::sleep_for(200ms);
  lines = decoded_lines(read_file(dump_path));
  EXPECT_EQ(lines, expected);
  EXPECT_TRUE(bridge.running());

  bridge.kill();
  oscdump.kill();
  unset_environment("RINGSIM_EVENTS");
  std::remove(script_path.c_str());
  std::remove(dump_path.c_str());
}

} // namespace
