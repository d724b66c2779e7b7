// The real ring2osc with the simulated ring in script mode, received on
// port 7040: events per second flat out, and the latency from the moment the
// simulated SDK hands an event over to its arrival, at fixed rates.
//   end_to_end [--quick]   latency and throughput
//   end_to_end --soak N    N events flat out, with the bridge's resident memory
//                          after a tenth of them and after all
#include "tests/support/processes.h"
#include "tests/support/udp_receiver.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct Result {
  std::size_t sent = 0;
  std::size_t received = 0;
  std::size_t malformed = 0;
  double events_per_second = 0;
  std::vector<double> latencies_us;
};

std::int64_t now_ns() { return Clock::now().time_since_epoch().count(); }

// Kind 3 carries the event's index in j_x, the first message's argument.
std::int32_t index_of(const Datagram &datagram) {
  if (datagram.size() != 76) {
    return -1;
  }
  const unsigned char *p = datagram.data() + 32;
  return static_cast<std::int32_t>((std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                                   (std::uint32_t{p[2]} << 8) | std::uint32_t{p[3]});
}

// Called with the running bridge's process id and the count received so far.
using Progress = std::function<void(unsigned long, std::size_t)>;

// With `stamped`, the simulated ring records when it handed each event over,
// which the latencies need; the record grows with the script, so a memory
// measurement runs without it.
Result run(std::size_t events, long interval_us, bool stamped, const Progress &progress = nullptr) {
  const std::string script_path = temporary_path("bench-script");
  const std::string stamps_path = temporary_path("bench-stamps");
  {
    std::ofstream script(script_path);
    for (std::size_t i = 0; i < events; ++i) {
      script << "3 j_x=" << i << " j_y=1 j_t=2\n";
    }
  }
  set_environment("RINGSIM_EVENTS", script_path);
  set_environment("RINGSIM_INTERVAL_US", std::to_string(interval_us));
  if (stamped) {
    set_environment("RINGSIM_STAMPS", stamps_path);
  }

  Result result;
  result.sent = events;
  std::vector<std::int64_t> arrival(events, -1);
  UdpReceiver receiver(7040);
  if (!receiver.is_open()) {
    std::fprintf(stderr, "port 7040 is taken\n");
    return result;
  }
  ChildProcess bridge;
  if (!bridge.start({program_beside("ring2osc")})) {
    std::fprintf(stderr, "cannot start ring2osc\n");
    return result;
  }
  Datagram datagram;
  const std::int64_t started = now_ns();
  std::int64_t last_arrival = 0;
  for (;;) {
    if (receiver.receive(datagram, 500ms)) {
      const std::int64_t now = now_ns();
      const std::int32_t index = index_of(datagram);
      if (index < 0 || static_cast<std::size_t>(index) >= events || arrival[index] != -1) {
        ++result.malformed;
        continue;
      }
      arrival[index] = now;
      last_arrival = now;
      ++result.received;
      if (progress) {
        progress(bridge.id(), result.received);
      }
      if (result.received == events) {
        break;
      }
    } else if (!stamped || !read_file(stamps_path).empty()) {
      break; // the script has played and the stream has gone quiet
    }
  }
  for (int wait = 0; stamped && wait < 100 && read_file(stamps_path).empty(); ++wait) {
    std::this_thread::sleep_for(50ms);
  }
  bridge.kill();

  std::vector<std::int64_t> stamps;
  std::ifstream stamp_file(stamps_path);
  for (long long stamp = 0; stamp_file >> stamp;) {
    stamps.push_back(stamp);
  }
  if (!stamped && result.received > 0) {
    result.events_per_second =
        static_cast<double>(result.received) / (static_cast<double>(last_arrival - started) / 1e9);
  }
  if (stamps.size() == events && result.received > 0) {
    for (std::size_t i = 0; i < events; ++i) {
      if (arrival[i] != -1) {
        result.latencies_us.push_back(static_cast<double>(arrival[i] - stamps[i]) / 1000.0);
      }
    }
    result.events_per_second = static_cast<double>(result.received) /
                               (static_cast<double>(last_arrival - stamps[0]) / 1e9);
  }
  std::sort(result.latencies_us.begin(), result.latencies_us.end());
  for (const char *name : {"RINGSIM_EVENTS", "RINGSIM_INTERVAL_US", "RINGSIM_STAMPS"}) {
    set_environment(name, "");
  }
  std::remove(script_path.c_str());
  std::remove(stamps_path.c_str());
  return result;
}

double percentile(const std::vector<double> &sorted, double p) {
  if (sorted.empty()) {
    return 0;
  }
  const auto at = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1));
  return sorted[at];
}

void report(const char *label, const Result &r) {
  std::printf("| %-12s | %8zu | %8zu | %5zu | %10.0f | %8.1f | %8.1f | %8.1f | %8.1f |\n", label,
              r.sent, r.received, r.sent - r.received, r.events_per_second,
              percentile(r.latencies_us, 0.5), percentile(r.latencies_us, 0.99),
              percentile(r.latencies_us, 0.999),
              r.latencies_us.empty() ? 0.0 : r.latencies_us.back());
  if (r.malformed != 0) {
    std::printf("  %zu datagrams were malformed or duplicated\n", r.malformed);
  }
}

// The resident set, now and at its peak, in kilobytes.
struct Memory {
  long rss_kb = -1;
  long peak_kb = -1;
};

Memory memory_of(unsigned long pid) {
  return {process_status(pid, "VmRSS"), process_status(pid, "VmHWM")};
}

int soak(std::size_t events) {
  const std::size_t first_sample = events / 10;
  Memory early;
  Memory late;
  const Result r = run(events, 0, false, [&](unsigned long pid, std::size_t received) {
    if (received == first_sample) {
      early = memory_of(pid);
    } else if (received == events) {
      late = memory_of(pid);
    }
  });
  std::printf("soak: %zu events sent, %zu received, %zu lost, %.0f events/s\n", r.sent, r.received,
              r.sent - r.received, r.events_per_second);
  std::printf("bridge after %zu events: rss %ld kB, peak %ld kB\n", first_sample, early.rss_kb,
              early.peak_kb);
  std::printf("bridge after %zu events: rss %ld kB, peak %ld kB\n", events, late.rss_kb,
              late.peak_kb);
  if (late.peak_kb < 0) {
    std::printf("the last sample was not taken (events lost)\n");
  }
  return r.received == r.sent ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
  if (argc > 2 && std::strcmp(argv[1], "--soak") == 0) {
    return soak(static_cast<std::size_t>(std::strtoull(argv[2], nullptr, 10)));
  }
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  const double seconds = quick ? 0.5 : 10.0;
  std::printf("| rate         |     sent | received |  lost | events/s   | p50 us   | p99 us   "
              "| p99.9 us | max us   |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|\n");
  bool lossless = true;
  for (const long rate : {100L, 1000L, 10000L}) {
    const auto events = static_cast<std::size_t>(static_cast<double>(rate) * seconds);
    const Result r = run(events, 1000000L / rate, true);
    const std::string label = std::to_string(rate) + "/s";
    report(label.c_str(), r);
    lossless = lossless && r.received == r.sent && r.malformed == 0;
  }
  const Result flat_out = run(quick ? 20000 : 200000, 0, true);
  report("flat out", flat_out);
  return lossless && flat_out.received > 0 ? 0 : 1;
}
