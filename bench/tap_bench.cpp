// What ring2osc-tap costs, side by side in one run, on the build that ships:
//   CPU per forwarded datagram with two destinations, --quiet, --plain into
//   a file, the live view on a pseudo-terminal, --record, the map presets
//   and a recentred rule, each against a bare receive-and-send loop (this program,
//   started with --bare);
//   the latency the tap adds between the real bridge and a receiver, and to
//   a map destination;
//   the time from a datagram sent to the tap with the MIDI preset to its
//   note reaching a JACK client (on a JACK server of the benchmark's own);
//   the tap's resident size after 10,000 and 1,000,000 datagrams;
//   what is lost at 10,000 a second for 60 s with the view on, and flat out;
//   the time from a map file saved to the first message of the new map.
//   tap_bench [--quick]
#include "tests/support/processes.h"
#include "tests/support/udp_receiver.h"

#include <jack/jack.h>
#include <jack/midiport.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <string>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The bridge's acceleration datagram, 76 bytes.
const Datagram acceleration = {
    '#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 0, 0,   0,   0,   0,   0,    0,    1,    0,    0, 0,
    16,  '/', 'a', '/', 'x', 0,   0,   0, 0, ',', 'f', 0,   0,   0x3F, 0x80, 0,    0,    0, 0,
    0,   16,  '/', 'a', '/', 'y', 0,   0, 0, 0,   ',', 'f', 0,   0,    0,    0,    0,    0, 0,
    0,   0,   16,  '/', 'a', '/', 'z', 0, 0, 0,   0,   ',', 'f', 0,    0,    0xBF, 0x80, 0, 0};

// The same values as a rotation, which the VRChat preset maps too.
const Datagram rotation = [] {
  Datagram bytes = acceleration;
  for (const std::size_t at : {21, 41, 61}) {
    bytes[at] = 'r';
    bytes[at + 2] = "rpy"[(at - 21) / 20];
  }
  return bytes;
}();

const std::string presets[] = {RING2OSC_SOURCE_DIR "/examples/maps/wekinator.map",
                               RING2OSC_SOURCE_DIR "/examples/maps/vrchat.map",
                               RING2OSC_SOURCE_DIR "/examples/maps/midi.map"};

std::string load_average() {
  std::string text = read_file("/proc/loadavg");
  return text.substr(0, text.find(' ', text.find(' ', text.find(' ') + 1) + 1));
}

// The baseline: receive on 7040, send each datagram to both ports.
int bare_forwarder(const std::vector<int> &ports) {
  std::signal(SIGINT, SIG_DFL); // a shell may have started the benchmark with it ignored
  const int in = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(7040);
  if (bind(in, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
    return 1;
  }
  std::vector<int> out;
  for (const int port : ports) {
    out.push_back(socket(AF_INET, SOCK_DGRAM, 0));
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    connect(out.back(), reinterpret_cast<sockaddr *>(&address), sizeof address);
  }
  unsigned char buffer[65536];
  for (;;) {
    const ssize_t size = recv(in, buffer, sizeof buffer, 0);
    for (const int socket : out) {
      send(socket, buffer, static_cast<std::size_t>(std::max<ssize_t>(size, 0)), 0);
    }
  }
}

// Counts what arrives on a socket of its own until told to stop.
class Counter {
public:
  Counter() : thread([this] { run(); }) {}
  ~Counter() {
    stop = true;
    thread.join();
  }
  Counter(const Counter &) = delete;
  Counter &operator=(const Counter &) = delete;

  std::uint16_t port() const { return receiver.port(); }
  std::size_t count() const { return received; }
  // Waits until `expected` arrived or nothing came for a second.
  std::size_t settle(std::size_t expected) const {
    for (std::size_t last = received; received < expected;) {
      std::this_thread::sleep_for(1s);
      if (received == last) {
        break;
      }
      last = received;
    }
    return received;
  }

private:
  void run() {
    Datagram datagram;
    while (!stop) {
      if (receiver.receive(datagram, 100ms)) {
        ++received;
      }
    }
  }

  UdpReceiver receiver{0};
  std::atomic<std::size_t> received{0};
  std::atomic<bool> stop{false};
  std::thread thread;
};

// A pseudo-terminal of 132x45 whose screen is read and thrown away.
class PseudoTerminal {
public:
  PseudoTerminal() {
    master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    grantpt(master);
    unlockpt(master);
    winsize size{};
    size.ws_col = 132;
    size.ws_row = 45;
    ioctl(master, TIOCSWINSZ, &size);
    path = ptsname(master);
    // Held open here too, so that reading waits for the tap instead of
    // failing before it has opened its side.
    slave = open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    reader = std::thread([this] {
      char chunk[65536];
      while (read(master, chunk, sizeof chunk) > 0) {
      }
    });
  }
  // After the tap has ended: reading ends once no side is open.
  ~PseudoTerminal() {
    close(slave);
    reader.join();
    close(master);
  }
  PseudoTerminal(const PseudoTerminal &) = delete;
  PseudoTerminal &operator=(const PseudoTerminal &) = delete;

  std::string path;

private:
  int master = -1;
  int slave = -1;
  std::thread reader;
};

// Sends `count` datagrams to 7040 at `per_second` (0: flat out); returns
// the rate achieved.
double send_at(std::size_t count, double per_second) {
  UdpReceiver sender(0);
  const auto start = Clock::now();
  for (std::size_t i = 0; i < count; ++i) {
    if (per_second > 0) {
      std::this_thread::sleep_until(start + std::chrono::nanoseconds(static_cast<std::int64_t>(
                                                static_cast<double>(i) * 1e9 / per_second)));
    }
    // The first value moves, so that maps sending changes only send.
    Datagram datagram = i % 2 == 0 ? acceleration : rotation;
    const float value = static_cast<float>(i % 128) / 32 - 2;
    std::uint32_t bits = 0;
    std::memcpy(&bits, &value, 4);
    for (int b = 0; b < 4; ++b) {
      datagram[32 + b] = static_cast<unsigned char>(bits >> (24 - 8 * b));
    }
    sender.send_to(7040, datagram);
  }
  return static_cast<double>(count) / std::chrono::duration<double>(Clock::now() - start).count();
}

struct Forwarder {
  std::string name;
  std::vector<std::string> arguments; // after the destinations
  bool on_terminal;
};

// Starts the forwarder towards both counters; empty name: the bare loop.
bool start(ChildProcess &process, const Forwarder &f, const Counter &a, const Counter &b,
           const std::string &out) {
  std::vector<std::string> command;
  if (f.name.rfind("bare loop", 0) == 0) {
    // Its arguments: further ports it sends each datagram to.
    command = {program_beside("tap_bench"), "--bare", std::to_string(a.port()),
               std::to_string(b.port())};
    command.insert(command.end(), f.arguments.begin(), f.arguments.end());
  } else {
    command = {program_beside("ring2osc-tap"), "--forward", std::to_string(a.port()), "--forward",
               std::to_string(b.port())};
    command.insert(command.end(), f.arguments.begin(), f.arguments.end());
  }
  return process.start(command, {"", out}) && wait_for_udp_port(7040, 10s);
}

void cpu_per_datagram(std::size_t count) {
  std::printf("CPU per forwarded datagram, two destinations, %zu datagrams at 10,000 a second\n",
              count);
  const std::string recording = temporary_path("bench-recording");
  const std::string file = temporary_path("bench-plain");
  const std::string zeroed = temporary_path("bench-zeroed");
  std::ofstream(zeroed) << "to 9002\n/x <- /a/x zero on /b/0 from -2..2 to -1..1 clamp\n";
  const Forwarder forwarders[] = {
      {"bare loop", {}, false},
      {"--quiet", {"--quiet"}, false},
      {"--plain into a file", {"--plain"}, false},
      {"view on a terminal", {}, true},
      {"--record", {"--quiet", "--record", recording, "--force"}, false},
      {"--quiet, both presets", {"--quiet", "--map", presets[0], "--map", presets[1]}, false},
      {"--quiet, MIDI preset", {"--quiet", "--map", presets[2]}, false},
      // As many sends as the tap makes with the maps below (Wekinator's
      // message for every datagram, the recentred rule's for every other),
      // which it is measured against.
      {"bare loop, 4 sends", {"6448", "9002"}, false},
      {"--quiet, 3 presets, zeroed",
       {"--quiet", "--map", presets[0], "--map", presets[1], "--map", presets[2], "--map", zeroed},
       false},
  };
  // The presets' destinations, read by nobody: the system drops what they get.
  const UdpReceiver wekinator(6448), vrchat(9000), recentred(9002);
  double bare = 0;
  for (const Forwarder &f : forwarders) {
    const Counter a, b;
    const PseudoTerminal terminal;
    ChildProcess process;
    if (!start(process, f, a, b, f.on_terminal ? terminal.path : file)) {
      std::printf("  %-22s cannot start\n", f.name.c_str());
      continue;
    }
    std::this_thread::sleep_for(200ms);
    const double before = process.cpu_seconds();
    send_at(count, 10000);
    a.settle(count);
    b.settle(count);
    const double us = (process.cpu_seconds() - before) * 1e6 / static_cast<double>(count);
    bare = f.name.rfind("bare loop", 0) == 0 ? us : bare;
    std::printf("  %-22s %6.2f us  %5.2fx the bare loop  lost %zu, %zu\n", f.name.c_str(), us,
                bare > 0 ? us / bare : 0.0, count - a.count(), count - b.count());
    process.wait_exit(SIGINT, 5s);
  }
  std::remove(recording.c_str());
  std::remove(file.c_str());
  std::remove(zeroed.c_str());
}

// A map saved by rename, again and again, while gestures stream in every
// millisecond: from the rename to the first message with the new scale.
void reload_latency(std::size_t saves) {
  std::printf("A map saved while the tap runs: from the save to its first message, %zu saves\n",
              saves);
  const std::string map = temporary_path("bench-reload");
  const auto save = [&map](std::size_t top) {
    std::ofstream(map + ".new") << "to 7041\n/o <- /gest from 0..1 to 0.." << top << "\n";
    std::rename((map + ".new").c_str(), map.c_str());
  };
  save(1);
  UdpReceiver out(7041), sender(0);
  ChildProcess tap;
  tap.start({program_beside("ring2osc-tap"), "--quiet", "--map", map}, {"", "/dev/null"});
  wait_for_udp_port(7040, 10s);
  const Datagram gesture = {'#', 'b', 'u', 'n', 'd', 'l', 'e', 0, 0, 0, 0,   0,   0, 0, 0, 1, 0, 0,
                            0,   16,  '/', 'g', 'e', 's', 't', 0, 0, 0, ',', 'i', 0, 0, 0, 0, 0, 1};
  std::vector<double> latencies;
  for (std::size_t s = 2; s < saves + 2; ++s) {
    std::this_thread::sleep_for(300ms); // the save before has stood still
    save(s);
    const auto saved = Clock::now();
    Datagram got;
    float value = 0;
    while (value != static_cast<float>(s) && Clock::now() - saved < 5s) {
      sender.send_to(7040, gesture);
      while (out.receive(got, 1ms) && got.size() == 12) {
        const std::uint32_t bits = std::uint32_t{got[8]} << 24 | std::uint32_t{got[9]} << 16 |
                                   std::uint32_t{got[10]} << 8 | got[11];
        std::memcpy(&value, &bits, 4);
      }
    }
    latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - saved).count());
  }
  tap.wait_exit(SIGINT, 5s);
  std::remove(map.c_str());
  std::sort(latencies.begin(), latencies.end());
  std::printf("  median %.0f ms  p99 %.0f ms\n", latencies[latencies.size() / 2],
              latencies[latencies.size() * 99 / 100]);
}

// Arrival minus hand-over, per event, of the bridge playing `events` at
// 1,000 a second to `port`.
// The event's index is j_x: at byte 32 of the bridge's datagram, or at
// `index_at` of a datagram of `size` bytes that a map made.
std::vector<double> bridge_latencies(std::size_t events, std::uint16_t port, std::size_t size = 76,
                                     std::size_t index_at = 32) {
  const std::string script_path = temporary_path("bench-script");
  const std::string stamps_path = temporary_path("bench-stamps");
  {
    std::ofstream script(script_path);
    for (std::size_t i = 0; i < events; ++i) {
      script << "3 j_x=" << i << " j_y=1 j_t=2\n";
    }
  }
  set_environment("RINGSIM_EVENTS", script_path);
  set_environment("RINGSIM_INTERVAL_US", "1000");
  set_environment("RINGSIM_STAMPS", stamps_path);
  UdpReceiver receiver(port);
  std::vector<std::int64_t> arrival(events, -1);
  {
    ChildProcess bridge;
    bridge.start({program_beside("ring2osc")});
    Datagram datagram;
    for (std::size_t got = 0; got < events && receiver.receive(datagram, 2s);) {
      const std::int64_t now = Clock::now().time_since_epoch().count();
      if (datagram.size() == size) {
        const unsigned char *p = datagram.data() + index_at;
        const std::uint32_t index = std::uint32_t{p[0]} << 24U | std::uint32_t{p[1]} << 16U |
                                    std::uint32_t{p[2]} << 8U | p[3];
        arrival.at(index) = now;
        ++got;
      }
    }
    for (int i = 0; i < 100 && read_file(stamps_path).empty(); ++i) {
      std::this_thread::sleep_for(20ms);
    }
  }
  std::vector<double> latencies;
  std::istringstream stamps(read_file(stamps_path));
  std::int64_t handed = 0;
  for (std::size_t i = 0; i < events && stamps >> handed; ++i) {
    if (arrival[i] >= 0) {
      latencies.push_back(static_cast<double>(arrival[i] - handed) / 1000.0);
    }
  }
  for (const char *name : {"RINGSIM_EVENTS", "RINGSIM_INTERVAL_US", "RINGSIM_STAMPS"}) {
    set_environment(name, "");
  }
  std::remove(script_path.c_str());
  std::remove(stamps_path.c_str());
  std::sort(latencies.begin(), latencies.end());
  return latencies;
}

void added_latency(std::size_t events) {
  std::printf("Latency from the bridge's hand-over to arrival, %zu events at 1,000 a second\n",
              events);
  const auto show = [events](const char *what, const std::vector<double> &l) {
    if (l.empty()) {
      std::printf("  %-34s nothing arrived\n", what);
      return std::make_pair(0.0, 0.0);
    }
    const double median = l[l.size() / 2];
    const double p99 = l[l.size() * 99 / 100];
    std::printf("  %-34s median %6.1f us  p99 %6.1f us  (%zu of %zu)\n", what, median, p99,
                l.size(), events);
    return std::make_pair(median, p99);
  };
  const auto direct = show("bridge -> receiver", bridge_latencies(events, 7040));
  ChildProcess tap;
  tap.start({program_beside("ring2osc-tap"), "--quiet", "--forward", "7041"}, {"", "/dev/null"});
  wait_for_udp_port(7040, 10s);
  const auto through = show("bridge -> tap --quiet -> receiver", bridge_latencies(events, 7041));
  tap.wait_exit(SIGINT, 5s);
  std::printf("  added by the tap: median %.1f us, p99 %.1f us\n", through.first - direct.first,
              through.second - direct.second);
  // A map's message "/j ,iii" with j_x first: 24 bytes, the index at 12.
  const std::string map = temporary_path("bench-map");
  std::ofstream(map) << "to 7041\n/j <- /j/x /j/y /j/t\n";
  ChildProcess mapping;
  mapping.start({program_beside("ring2osc-tap"), "--quiet", "--map", map}, {"", "/dev/null"});
  wait_for_udp_port(7040, 10s);
  const auto mapped =
      show("bridge -> tap --map -> receiver", bridge_latencies(events, 7041, 24, 12));
  mapping.wait_exit(SIGINT, 5s);
  std::remove(map.c_str());
  std::printf("  added by the tap to a map destination: median %.1f us, p99 %.1f us\n",
              mapped.first - direct.first, mapped.second - direct.second);
}

// A JACK client whose MIDI input takes the tap's own port and notes the
// time each message reaches it, on JACK's clock.
struct MidiArrivals {
  explicit MidiArrivals(std::size_t count) : times(count) {
    client = jack_client_open("tap_bench", JackNoStartServer, nullptr);
    if (client == nullptr) {
      return;
    }
    in = jack_port_register(client, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
    jack_set_process_callback(client, &MidiArrivals::process, this);
    jack_activate(client);
  }
  ~MidiArrivals() {
    if (client != nullptr) {
      jack_client_close(client);
    }
  }
  MidiArrivals(const MidiArrivals &) = delete;
  MidiArrivals &operator=(const MidiArrivals &) = delete;

  static int process(jack_nframes_t frames, void *self) {
    auto &me = *static_cast<MidiArrivals *>(self);
    const jack_time_t now = jack_get_time();
    void *buffer = jack_port_get_buffer(me.in, frames);
    const std::uint32_t events = jack_midi_get_event_count(buffer);
    for (std::uint32_t e = 0; e < events && me.got < me.times.size(); ++e) {
      me.times[me.got++] = now;
    }
    return 0;
  }

  jack_client_t *client = nullptr;
  jack_port_t *in = nullptr;
  std::vector<jack_time_t> times;
  std::atomic<std::size_t> got{0};
};

// Button 0 pressed and let go in turn, at 1,000 a second: a note on or off
// each. From the send to the tap to the note in a JACK client's cycle.
void midi_latency(std::size_t events) {
  std::printf("MIDI preset: from a datagram sent to the tap to its note in a JACK client, %zu "
              "events at 1,000 a second, a period of 64 frames at 48 kHz (1.33 ms)\n",
              events);
  ChildProcess tap;
  tap.start({program_beside("ring2osc-tap"), "--quiet", "--map", presets[2]}, {"", "/dev/null"});
  MidiArrivals arrivals(events);
  bool connected = false;
  for (int i = 0; i < 100 && arrivals.client != nullptr && !connected; ++i) {
    std::this_thread::sleep_for(50ms); // the tap makes its port after it listens
    connected = jack_connect(arrivals.client, "ring2osc:ring2osc", "tap_bench:in") == 0;
  }
  if (!connected) {
    std::printf("  no JACK server or no tap port\n");
    return;
  }
  UdpReceiver sender(0);
  std::vector<jack_time_t> sent(events);
  const auto start = Clock::now();
  for (std::size_t i = 0; i < events; ++i) {
    std::this_thread::sleep_until(start + i * 1ms);
    const unsigned char pressed = i % 2 == 0 ? 1 : 0;
    const Datagram button = {'#', 'b', 'u', 'n', 'd', 'l', 'e', 0,  0,   0,   0,   0,
                             0,   0,   0,   1,   0,   0,   0,   16, '/', 'b', '/', '0',
                             0,   0,   0,   0,   ',', 'i', 0,   0,  0,   0,   0,   pressed};
    sent[i] = jack_get_time();
    sender.send_to(7040, button);
  }
  std::this_thread::sleep_for(200ms);
  std::vector<double> latencies;
  for (std::size_t i = 0; i < arrivals.got; ++i) {
    latencies.push_back(static_cast<double>(arrivals.times[i] - sent[i]));
  }
  std::sort(latencies.begin(), latencies.end());
  if (!latencies.empty()) {
    std::printf("  median %.1f us  p99 %.1f us  (%zu of %zu)\n", latencies[latencies.size() / 2],
                latencies[latencies.size() * 99 / 100], latencies.size(), events);
  }
  tap.wait_exit(SIGINT, 5s);
}

void memory_and_loss(std::size_t loss_seconds, std::size_t soak) {
  const Counter a, b;
  const PseudoTerminal terminal;
  ChildProcess tap;
  const UdpReceiver wekinator(6448), vrchat(9000);
  if (!start(tap, {"view", {"--map", presets[0], "--map", presets[1]}, true}, a, b,
             terminal.path)) {
    std::printf("cannot start the tap\n");
    return;
  }
  std::printf("The view on a terminal, two destinations and both presets\n");
  send_at(10000, 10000);
  a.settle(10000);
  std::printf("  resident after 10000 datagrams: %ld KiB\n", process_status(tap.id(), "VmRSS"));
  const std::size_t steady = 10000 * loss_seconds;
  const std::size_t before_a = a.count();
  const std::size_t before_b = b.count();
  send_at(steady, 10000);
  a.settle(before_a + steady);
  b.settle(before_b + steady);
  std::printf("  %zu at 10,000 a second for %zu s: lost %zu and %zu\n", steady, loss_seconds,
              before_a + steady - a.count(), before_b + steady - b.count());
  const std::size_t total = 10000 + steady;
  send_at(soak - total, 50000);
  a.settle(soak);
  std::printf("  resident after %zu datagrams: %ld KiB (%zu of them arrived)\n", soak,
              process_status(tap.id(), "VmRSS"), a.count());

  const std::size_t before = a.count();
  const std::size_t burst = 200000;
  const double rate = send_at(burst, 0);
  a.settle(before + burst);
  std::printf("  flat out: %zu sent at %.0f a second, %zu lost (%.1f%%)\n", burst, rate,
              burst - (a.count() - before),
              100.0 * static_cast<double>(burst - (a.count() - before)) / burst);
  tap.wait_exit(SIGINT, 5s);
}

} // namespace

int main(int argc, char **argv) {
  if (argc >= 4 && std::strcmp(argv[1], "--bare") == 0) {
    std::vector<int> ports;
    for (int i = 2; i < argc; ++i) {
      ports.push_back(std::atoi(argv[i]));
    }
    return bare_forwarder(ports);
  }
  const bool quick = argc > 1 && std::strcmp(argv[1], "--quick") == 0;
  if (udp_port_bound(7040)) {
    std::fprintf(stderr, "port 7040 is taken\n");
    return 1;
  }
  std::printf("load average (1, 5, 15 min) before: %s; %u cores\n", load_average().c_str(),
              std::thread::hardware_concurrency());
  // A JACK server of the benchmark's own, for the MIDI preset.
  const std::string jack_name = "tap-bench-" + std::to_string(getpid());
  set_environment("JACK_DEFAULT_SERVER", jack_name);
  set_environment("JACK_NO_START_SERVER", "1");
  ChildProcess jack;
  jack.start(
      {"jackd", "--port-max", "16", "-n", jack_name, "-d", "dummy", "-r", "48000", "-p", "64"},
      {"", "/dev/null"});
  std::this_thread::sleep_for(1s);
  cpu_per_datagram(quick ? 2000 : 20000);
  added_latency(quick ? 200 : 2000);
  midi_latency(quick ? 200 : 2000);
  reload_latency(quick ? 3 : 100);
  memory_and_loss(quick ? 1 : 60, quick ? 30000 : 1000000);
  std::printf("load average after: %s\n", load_average().c_str());
  // Ended as a server wants to be: killed outright, it stays in JACK's
  // registry, and a few such leftovers make JACK refuse every new server.
  jack.wait_exit(SIGTERM, 10s);
  return 0;
}
