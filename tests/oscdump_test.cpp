// liblo's oscdump, a receiver that shares no code with the bridge, decodes
// what the real ring2osc sends.
#include "tests/support/child_process.h"
#include "tests/support/udp_receiver.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace std::chrono_literals;

TEST(Oscdump, DecodesTheBridgesBundles) {
  const std::string dump_path = temporary_path("oscdump");
  ChildProcess oscdump;
  ASSERT_TRUE(oscdump.start(OSCDUMP_PROGRAM, {"-L", "7040"}, {"", dump_path}));
  for (int i = 0; i < 500 && UdpReceiver(7040).is_open(); ++i) {
    std::this_thread::sleep_for(20ms); // until oscdump holds the port
  }
  const BridgeRun run("1 x=1.5 y=-inf z=-0.0\n3 j_x=-1 j_y=2147483647 j_t=-2147483648\n"
                      "0 b_number=9 b_value=1\n");
  // Each line: oscdump's time tag, then the message.
  const std::string expected = "/a/x f 1.500000\n/a/y f -inf\n/a/z f -0.000000\n/j/x i -1\n"
                               "/j/y i 2147483647\n/j/t i -2147483648\n/b/9 i 1\n";
  std::string lines;
  for (int i = 0; i < 200 && lines.size() < expected.size(); ++i) {
    std::this_thread::sleep_for(50ms);
    lines.clear();
    std::istringstream dump(read_file(dump_path));
    for (std::string line; std::getline(dump, line);) {
      lines += line.substr(line.find(' ') + 1) + "\n";
    }
  }
  EXPECT_EQ(lines, expected);
  std::remove(dump_path.c_str());
}

} // namespace
