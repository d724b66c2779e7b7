// Building the bridge's two packet shapes: ours against liblo and oscpack.
// Every encoder must produce the same bytes before any of them is timed.
#include "osc/osc_packet.h"
#include "tests/support/allocations.h"

#include <benchmark/benchmark.h>
#include <lo/lo.h>
#include <osc/OscOutboundPacketStream.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;
// Read afresh for every packet, as the handler reads the SDK's record: no
// encoder may fold them into constants at compile time.
float x = 1.0F, y = 0.0F, z = -1.0F;
std::int32_t gesture = 5;

// Each builder hands its finished packet to `sink` while the packet still
// exists, so timing sees the building and nothing else.

// Ours, exactly as the handler builds a kind-1 and a kind-4 event.
template <typename Sink> void ours_three_floats(Sink sink) {
  OscPacketWriter pkt;
  pkt.open_bundle(OscTimeTag::immediate());
  OscMessage px("/a/x", OscTimeTag::immediate()), py("/a/y", OscTimeTag::immediate()),
      pz("/a/z", OscTimeTag::immediate());
  pkt.add_message(px.add_float(x)).add_message(py.add_float(y)).add_message(pz.add_float(z));
  sink(pkt.packet_bytes(), pkt.packet_size());
}

template <typename Sink> void ours_one_int(Sink sink) {
  OscPacketWriter pkt;
  pkt.open_bundle(OscTimeTag::immediate());
  OscMessage gest("/gest", OscTimeTag::immediate());
  pkt.add_message(gest.add_int32(gesture));
  sink(pkt.packet_bytes(), pkt.packet_size());
}

// liblo builds message and bundle objects, then serialises them into memory.
template <typename Sink> void liblo_bundle(bool three_floats, Sink sink) {
  lo_bundle bundle = lo_bundle_new(LO_TT_IMMEDIATE);
  if (three_floats) {
    const char *paths[] = {"/a/x", "/a/y", "/a/z"};
    const float values[] = {x, y, z};
    for (int i = 0; i < 3; ++i) {
      lo_message message = lo_message_new();
      lo_message_add_float(message, values[i]);
      lo_bundle_add_message(bundle, paths[i], message);
    }
  } else {
    lo_message message = lo_message_new();
    lo_message_add_int32(message, gesture);
    lo_bundle_add_message(bundle, "/gest", message);
  }
  unsigned char buffer[256];
  std::size_t size = sizeof buffer;
  lo_bundle_serialise(bundle, buffer, &size);
  lo_bundle_free_recursive(bundle);
  sink(buffer, size);
}

// oscpack writes into a fixed buffer that the caller provides.
template <typename Sink> void oscpack_bundle(bool three_floats, Sink sink) {
  char buffer[256];
  osc::OutboundPacketStream stream(buffer, sizeof buffer);
  stream << osc::BeginBundleImmediate;
  if (three_floats) {
    stream << osc::BeginMessage("/a/x") << x << osc::EndMessage << osc::BeginMessage("/a/y") << y
           << osc::EndMessage << osc::BeginMessage("/a/z") << z << osc::EndMessage;
  } else {
    stream << osc::BeginMessage("/gest") << static_cast<osc::int32>(gesture) << osc::EndMessage;
  }
  stream << osc::EndBundle;
  sink(reinterpret_cast<const unsigned char *>(stream.Data()), stream.Size());
}

// Reads every byte of the packet, as sending it would: an encoder cannot
// look fast by leaving work undone that a reader would then wait for.
// Folded eight bytes at a time, so that the reading costs little beside
// the building and the same for every encoder.
void keep(const unsigned char *bytes, std::size_t size) {
  std::uint64_t folded = 0;
  std::size_t i = 0;
  for (; i + 8 <= size; i += 8) {
    std::uint64_t word = 0;
    std::memcpy(&word, bytes + i, sizeof word);
    folded ^= word;
  }
  for (; i < size; ++i) {
    folded ^= bytes[i];
  }
  benchmark::DoNotOptimize(folded);
}

template <typename Build> void BM_Encode(benchmark::State &state, Build build) {
  const std::uint64_t before = heap_calls_so_far();
  for (auto _ : state) {
    benchmark::ClobberMemory();
    build();
  }
  state.counters["allocs_per_packet"] =
      static_cast<double>(heap_calls_so_far() - before) / static_cast<double>(state.iterations());
}

BENCHMARK_CAPTURE(BM_Encode, Ours_ThreeFloats76, [] { ours_three_floats(keep); });
BENCHMARK_CAPTURE(BM_Encode, Liblo_ThreeFloats76, [] { liblo_bundle(true, keep); });
BENCHMARK_CAPTURE(BM_Encode, Oscpack_ThreeFloats76, [] { oscpack_bundle(true, keep); });
BENCHMARK_CAPTURE(BM_Encode, Ours_OneInt36, [] { ours_one_int(keep); });
BENCHMARK_CAPTURE(BM_Encode, Liblo_OneInt36, [] { liblo_bundle(false, keep); });
BENCHMARK_CAPTURE(BM_Encode, Oscpack_OneInt36, [] { oscpack_bundle(false, keep); });

bool same_bytes_everywhere() {
  std::vector<Bytes> packets;
  const auto collect = [&packets](const unsigned char *bytes, std::size_t size) {
    packets.emplace_back(bytes, bytes + size);
  };
  ours_three_floats(collect);
  liblo_bundle(true, collect);
  oscpack_bundle(true, collect);
  ours_one_int(collect);
  liblo_bundle(false, collect);
  oscpack_bundle(false, collect);
  return packets[0].size() == 76 && packets[1] == packets[0] && packets[2] == packets[0] &&
         packets[3].size() == 36 && packets[4] == packets[3] && packets[5] == packets[3];
}

} // namespace

int main(int argc, char **argv) {
  if (!same_bytes_everywhere()) {
    std::fprintf(stderr, "encoders disagree on the bytes; nothing timed\n");
    return 1;
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
