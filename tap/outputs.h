// Everywhere the tap sends: every datagram as it came (--forward), each
// message of it apart (--messages), and what each map makes of the bridge's
// values, as OSC datagrams or as MIDI. The receiving thread alone uses it;
// forwarding comes first, so nothing else delays it.
#pragma once

#include "maps/map_engine.h"
#include "maps/map_file.h"
#include "midi/midi_output.h"
#include "tap/bridge_messages.h"
#include "tap/discovery.h"
#include "tap/tap_stats.h"
#include "udp/destination.h"
#include "udp/endpoint.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class Outputs {
public:
  // `loops` tells a destination that is the tap's own listening address;
  // `tell` says a change (a MIDI port gone or back) in one line.
  using Loops = std::function<bool(const SocketAddress &)>;
  using Tell = std::function<void(const std::string &)>;
  Outputs(Loops loops, Tell tell) : loops(std::move(loops)), tell(std::move(tell)) {}
  Outputs(const Outputs &) = delete;
  Outputs &operator=(const Outputs &) = delete;

  // Hops for multicast destinations added from now on (1: this network only).
  void set_multicast_ttl(int ttl) { multicast_ttl = ttl; }

  // Each false with the reason in `error`; `usage` says whether the reason
  // is the command line's (a host, a loop) rather than the system's.
  bool add_forward(const Endpoint &to, std::string &error);
  bool add_messages(const Endpoint &to, std::string &error);
  // A map's destination, or its MIDI port: `midi_port`, else the map's, else
  // a port of the tap's own.
  bool add_map(const MapFile &map, const std::string &midi_port, std::string &error, bool &usage);

  // Map number `map` (in the order they were added) runs `file` from now
  // on: the notes it turned on are turned off first, and a destination that
  // did not change keeps its socket and its counts. False with the reason,
  // the running map left as it was.
  bool replace_map(std::size_t map, const MapFile &file, const std::string &midi_port,
                   std::string &error);

  // Maps that send to a service follow what `discovery` found for it: its
  // instance, or the map's own port while none is there. Called when
  // discovery saw a change, and after a map was replaced.
  void follow_services(const Discovery &discovery);

  // A datagram as it came, to --forward and --messages.
  void forward(const unsigned char *bytes, std::uint32_t size, std::int64_t now_us);
  // The same datagram decoded: the bridge's event for the maps, or null
  // for anything else (which maps never see).
  void feed(const BridgeEvent *event, std::int64_t now_us);
  // Between datagrams: delivery reports, MIDI ports, what rate limits held
  // back and smoothed values still moving.
  void tick(std::int64_t now_us);
  // The last reports, and every note the tap turned on turned off.
  void finish(std::int64_t now_us);

  // The counts of every destination, in the order they were added.
  void counts(std::vector<DestinationStats> &out) const;
  std::size_t size() const { return outputs.size(); }
  // The MIDI system of the first MIDI map, once one is open.
  const std::string &midi_system() const { return midi_system_; }

private:
  struct Output {
    enum class Kind { forward, messages, map } kind;
    std::string name;
    std::unique_ptr<Destination> socket;    // null for MIDI
    std::unique_ptr<MapEngine> map;         // a map's
    std::unique_ptr<midi::MidiOutput> midi; // a MIDI map's, in place of the socket
    std::uint64_t midi_sent = 0;
    std::uint64_t midi_failed = 0;
    std::uint64_t replaced = 0;
    std::string midi_port; // the port asked for; empty: the tap's own
    std::string service;   // the instance it sends to; empty: its fallback
    Endpoint service_at{"", 0};
  };
  // The map's MIDI output on `port`, or a port of the tap's own.
  static bool open_midi(Output &output, const MapFile &map, const std::string &port,
                        std::string &error);

  bool add_socket(Output::Kind kind, const std::string &option, const Endpoint &to,
                  const std::string &name, std::string &error, bool &usage);
  void send_midi(Output &output, const MidiValue &value);
  void check_midi(Output &output, std::int64_t now_us);
  MapOut out_of(Output &output, std::int64_t now_us);

  Loops loops;
  Tell tell;
  int multicast_ttl = 1;
  std::vector<std::unique_ptr<Output>> outputs;
  std::string midi_system_;
};
