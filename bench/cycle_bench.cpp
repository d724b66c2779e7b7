// The handler's whole per-event cycle against the bare socket calls it makes,
// and against one send on a socket that stays connected (the physical limit
// for a datagram of that size).
#include "bridge/ring_event_handler.h"
#include "tests/support/allocations.h"
#include "tests/support/udp_receiver.h"

#include <benchmark/benchmark.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// The kind-1 packet the handler sends: 76 bytes.
const unsigned char packet[76] = {
    0x23, 0x62, 0x75, 0x6E, 0x64, 0x6C, 0x65, 0x00, 0,    0,    0,    0,    0,    0,    0,    1,
    0,    0,    0,    0x10, 0x2F, 0x61, 0x2F, 0x78, 0,    0,    0,    0,    0x2C, 0x66, 0,    0,
    0x3F, 0x80, 0,    0,    0,    0,    0,    0x10, 0x2F, 0x61, 0x2F, 0x79, 0,    0,    0,    0,
    0x2C, 0x66, 0,    0,    0,    0,    0,    0,    0,    0,    0,    0x10, 0x2F, 0x61, 0x2F, 0x7A,
    0,    0,    0,    0,    0x2C, 0x66, 0,    0,    0xBF, 0x80, 0,    0};

addrinfo ipv4_datagram_hints() {
  addrinfo hints;
  std::memset(&hints, 0, sizeof hints);
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;
  return hints;
}

RingEvent kind_1_event() {
  RingEvent event{};
  event.kind = 1;
  event.x = 1.0F;
  event.z = -1.0F;
  return event;
}

void BM_HandlerCycle(benchmark::State &state) {
  const RingEvent event = kind_1_event();
  const std::uint64_t before = heap_calls_so_far();
  for (auto _ : state) {
    ring_event_handler(event);
  }
  state.counters["allocs_per_event"] =
      static_cast<double>(heap_calls_so_far() - before) / static_cast<double>(state.iterations());
}

// What the cycle costs the operating system: resolve, socket, connect, send,
// close, free the list, written directly against the socket API.
bool bare_socket_calls(const addrinfo &hints) {
  addrinfo *result = nullptr;
  if (getaddrinfo("localhost", "7040", &hints, &result) != 0) {
    return false;
  }
  const int handle = socket(result->ai_family, result->ai_socktype, result->ai_protocol);
  const bool connected = connect(handle, result->ai_addr, result->ai_addrlen) == 0;
  benchmark::DoNotOptimize(send(handle, packet, sizeof packet, 0));
  close(handle);
  freeaddrinfo(result);
  return connected;
}

void BM_BareSocketCalls(benchmark::State &state) {
  const addrinfo hints = ipv4_datagram_hints();
  const std::uint64_t before = heap_calls_so_far();
  for (auto _ : state) {
    if (!bare_socket_calls(hints)) {
      state.SkipWithError("cannot reach localhost:7040");
      break;
    }
  }
  state.counters["allocs_per_event"] =
      static_cast<double>(heap_calls_so_far() - before) / static_cast<double>(state.iterations());
}

void BM_SendOnConnectedSocket(benchmark::State &state) {
  const addrinfo hints = ipv4_datagram_hints();
  addrinfo *result = nullptr;
  if (getaddrinfo("localhost", "7040", &hints, &result) != 0) {
    state.SkipWithError("localhost does not resolve");
    return;
  }
  const int handle = socket(result->ai_family, result->ai_socktype, result->ai_protocol);
  const bool connected = connect(handle, result->ai_addr, result->ai_addrlen) == 0;
  freeaddrinfo(result);
  if (!connected) {
    state.SkipWithError("cannot connect to localhost:7040");
    close(handle);
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(send(handle, packet, sizeof packet, 0));
  }
  close(handle);
}

// The two side by side, one of each per iteration, so that both see the same
// machine at the same moment; the medians of the two and their ratio are
// the figures to read.
void BM_HandlerVersusBarePaired(benchmark::State &state) {
  using Clock = std::chrono::steady_clock;
  const RingEvent event = kind_1_event();
  const addrinfo hints = ipv4_datagram_hints();
  std::vector<double> handler_ns;
  std::vector<double> bare_ns;
  for (auto _ : state) {
    const auto start = Clock::now();
    ring_event_handler(event);
    const auto middle = Clock::now();
    bare_socket_calls(hints);
    const auto end = Clock::now();
    handler_ns.push_back(std::chrono::duration<double, std::nano>(middle - start).count());
    bare_ns.push_back(std::chrono::duration<double, std::nano>(end - middle).count());
  }
  const auto median = [](std::vector<double> &values) {
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    std::nth_element(values.begin(), middle, values.end());
    return values[values.size() / 2];
  };
  const double handler = median(handler_ns);
  const double bare = median(bare_ns);
  state.counters["handler_p50_ns"] = handler;
  state.counters["bare_p50_ns"] = bare;
  state.counters["ratio"] = handler / bare;
}

BENCHMARK(BM_HandlerCycle);
BENCHMARK(BM_HandlerVersusBarePaired);
BENCHMARK(BM_BareSocketCalls);
BENCHMARK(BM_SendOnConnectedSocket);

} // namespace

int main(int argc, char **argv) {
  // Someone listens, as in real use; what overflows its buffer is dropped by
  // the kernel after the send has been paid for.
  UdpReceiver receiver(7040);
  if (!receiver.is_open()) {
    std::fprintf(stderr, "port 7040 is taken\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
