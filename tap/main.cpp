// ring2osc-tap: takes the port the bridge sends to and hands every datagram
// on, unchanged, to any number of programs, while showing, printing or
// recording what the bridge sent. Ends on Ctrl+C with a summary line.
#include "maps/map_file.h"
#include "midi/midi_output.h"
#include "platform/console.h"
#include "tap/datagram_decoder.h"
#include "tap/discovery.h"
#include "tap/event_text.h"
#include "tap/live_view.h"
#include "tap/map_watcher.h"
#include "tap/oscquery_namespace.h"
#include "tap/outputs.h"
#include "tap/queued_output.h"
#include "tap/recorder.h"
#include "tap/say.h"
#include "tap/status_json.h"
#include "tap/tap_options.h"
#include "tap/tap_stats.h"
#include "udp/udp_listener.h"
#include "web/web_server.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int exit_failure = 1;
constexpr int exit_usage = 2;
// The largest payload an IPv4 UDP datagram can carry.
constexpr int max_datagram = 65507;
constexpr std::size_t console_queue_limit = std::size_t{1} << 20; // bytes

// The MIDI outputs there are, one a line; false when there is no MIDI.
bool list_midi() {
  midi::MidiOutput midi;
  std::string error;
  if (!midi.start(error)) {
    say(error);
    return false;
  }
  std::string text;
  for (const std::string &name : midi.outputs()) {
    text += name + "\n";
  }
  if (text.empty()) {
    say("no MIDI outputs (through " + midi.system() + ")");
  }
  platform::write_stdout(text.data(), text.size());
  return true;
}

// Every map of the command line and the text it was read from, or false
// with each mistake said.
bool read_maps(const std::vector<std::string> &paths, std::vector<MapFile> &maps,
               std::vector<std::string> *texts = nullptr) {
  bool good = true;
  for (const std::string &path : paths) {
    std::vector<std::string> mistakes;
    maps.emplace_back();
    std::string text;
    good = read_map_file(path, maps.back(), mistakes, &text) && good;
    if (texts != nullptr) {
      texts->push_back(std::move(text));
    }
    for (const std::string &mistake : mistakes) {
      say(mistake);
    }
  }
  return good;
}

std::string summary(const TapStats &stats, bool recording) {
  std::string text =
      std::to_string(stats.datagrams) + " datagrams received (" + std::to_string(stats.bytes) +
      " bytes), " + std::to_string(stats.malformed) + " malformed, " +
      std::to_string(stats.foreign) + " foreign, " +
      (stats.drops_known ? std::to_string(stats.system_dropped) : std::string("unknown")) +
      " dropped by the system";
  for (const DestinationStats &d : stats.destinations) {
    text += "; " + d.name + ": " + std::to_string(d.forwarded) +
            (d.map ? " sent, " : " forwarded, ") + std::to_string(d.failed) + " failed";
    if (d.map) {
      text += ", " + std::to_string(d.not_finite) + " not finite dropped";
    }
    if (d.replaced != 0) {
      text += ", read again " + std::to_string(d.replaced) + (d.replaced == 1 ? " time" : " times");
    }
    if (!d.port_there) {
      text += ", the port is gone";
    }
  }
  text += "; " + std::to_string(stats.dropped_lines) + " output lines dropped";
  if (recording) {
    text += "; recorded " + std::to_string(stats.recorded) + " lines, " +
            std::to_string(stats.record_failures) + " lost";
  }
  if (stats.web) {
    text += "; web: " + std::to_string(stats.web_served) + " relay clients served, " +
            std::to_string(stats.web_dropped) + " messages dropped";
  }
  if (stats.oscquery) {
    const WebCounts &q = stats.oscquery_counts;
    text += "; OSCQuery: " + std::to_string(q.served) + " clients served, " +
            std::to_string(q.dropped) + " messages dropped, " + std::to_string(q.ignored) +
            " said no command";
  }
  return text;
}

int run(const TapOptions &options) {
  std::vector<MapFile> maps;
  std::vector<std::string> map_texts;
  if (!read_maps(options.maps, maps, &map_texts)) {
    return exit_usage;
  }
  MapWatcher watcher(options.maps, map_texts, say);
  UdpListener listener;
  std::string error;
  switch (listener.bind_to(options.listen.host, options.listen.port, error)) {
  case UdpListener::Bound::ok:
    break;
  case UdpListener::Bound::bad_host:
    say(error);
    return exit_usage;
  case UdpListener::Bound::in_use:
  case UdpListener::Bound::failed:
    say(error);
    return exit_failure;
  }

  TapStats stats;
  Outputs outputs([&listener](const SocketAddress &to) { return listener.would_loop(to); }, say);
  outputs.set_multicast_ttl(options.multicast_ttl);
  for (const Endpoint &forward : options.forwards) {
    if (!outputs.add_forward(forward, error)) {
      say(error);
      return exit_usage;
    }
  }
  for (const Endpoint &to : options.messages) {
    if (!outputs.add_messages(to, error)) {
      say(error);
      return exit_usage;
    }
  }
  for (const MapFile &map : maps) {
    bool usage = false;
    const bool midi_before = !outputs.midi_system().empty();
    if (!outputs.add_map(map, options.midi_port, error, usage)) {
      say(error);
      return usage ? exit_usage : exit_failure;
    }
    if (!midi_before && !outputs.midi_system().empty()) {
      say("MIDI through " + outputs.midi_system());
    }
  }
  outputs.counts(stats.destinations);
  Discovery discovery(say);
  for (const MapFile &map : maps) {
    if (!map.service.empty()) {
      discovery.look_for(map.service);
    }
  }

  Recorder recorder;
  if (!options.record_path.empty() &&
      !recorder.open(options.record_path, options.force, options.listen.text(), error)) {
    say(options.record_path + ": " + error + (options.force ? "" : " (--force replaces a file)"));
    return exit_failure;
  }

  std::mutex stats_mutex;
  const Clock::time_point started = Clock::now();
  const auto now_us = [started] {
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started).count();
  };
  // Under the lock.
  const auto take_web_counts = [&](const WebCounts &counts) {
    stats.web_clients = counts.clients;
    stats.web_served = counts.served;
    stats.web_dropped = counts.dropped;
  };
  // The receiving thread's own counts, for the view; under the lock.
  const auto take_destination_counts = [&] {
    stats.system_dropped = listener.system_dropped();
    outputs.counts(stats.destinations);
  };
  const auto take_recorder_counts = [&] {
    stats.recorded = recorder.recorded();
    stats.record_failures = recorder.lost();
  };
  stats.web = options.web;
  stats.drops_known = listener.drops_known();
  // The OSCQuery server's host facts, set under the lock once it listens.
  OscQueryHost query_host{options.oscquery_name, options.listen.host, options.listen.port,
                          options.oscquery_at.host, options.oscquery_at.port};
  for (std::string *ip : {&query_host.osc_ip, &query_host.ws_ip}) {
    if (*ip == "0.0.0.0") {
      ip->clear(); // every interface: the one a client reached it on
    }
  }
  WebSite query_site;
  query_site.streams = oscquery_streams();
  query_site.answer = [&](const std::string &path, const std::string &query) {
    const std::lock_guard<std::mutex> lock(stats_mutex);
    return oscquery_answer(stats, query_host, path, query);
  };
  WebServer oscquery(std::move(query_site));
  WebSite monitor;
  WebServer *monitor_server = nullptr;
  monitor.status = [&] {
    const WebCounts counts = monitor_server->counts();
    const WebCounts query_counts = oscquery.counts();
    const std::lock_guard<std::mutex> lock(stats_mutex);
    stats.oscquery_counts = query_counts;
    take_recorder_counts();
    take_web_counts(counts);
    return status_json(stats, {options.listen.text(), options.record_path}, now_us());
  };
  WebServer web(std::move(monitor));
  monitor_server = &web;
  if (options.oscquery) {
    const WebServer::Started started = oscquery.start(
        options.oscquery_at.host, options.oscquery_at.port, options.web_origins, error);
    if (started != WebServer::Started::ok) {
      say("--oscquery: " + error);
      return started == WebServer::Started::bad_host ? exit_usage : exit_failure;
    }
    discovery.advertise_oscquery(options.oscquery_name, options.oscquery_at.host, oscquery.port());
    const std::lock_guard<std::mutex> lock(stats_mutex);
    query_host.ws_port = oscquery.port();
    stats.oscquery = true;
    if (options.oscquery_at.port == 0) {
      say("OSCQuery at http://" + Endpoint{options.oscquery_at.host, query_host.ws_port}.text() +
          "/");
    }
  }
  if (options.web) {
    const WebServer::Started started =
        web.start(options.web_at.host, options.web_at.port, options.web_origins, error);
    if (started != WebServer::Started::ok) {
      say(error);
      return started == WebServer::Started::bad_host ? exit_usage : exit_failure;
    }
  }

  const bool view = !options.quiet && !options.plain && platform::stdout_is_terminal() &&
                    platform::prepare_terminal();
  LiveView live_view(options.listen.text(), options.record_path,
                     options.web ? "http://" + options.web_at.text() + "/" : std::string(),
                     options.oscquery
                         ? "http://" +
                               Endpoint{options.oscquery_at.host, query_host.ws_port}.text() + "/"
                         : std::string());
  std::unique_ptr<QueuedOutput> console;
  const auto to_stdout = [](const std::string &text) {
    platform::write_stdout(text.data(), text.size());
  };
  if (view) {
    to_stdout(LiveView::enter);
    console = std::make_unique<QueuedOutput>(console_queue_limit, to_stdout, [&] {
      const WebCounts counts = web.counts();
      const WebCounts query_counts = oscquery.counts();
      const std::lock_guard<std::mutex> lock(stats_mutex);
      stats.oscquery_counts = query_counts;
      const platform::TerminalSize size = platform::terminal_size();
      take_recorder_counts();
      take_web_counts(counts);
      return live_view.frame(stats, now_us(), size.columns, size.rows);
    });
  } else if (!options.quiet) {
    console = std::make_unique<QueuedOutput>(console_queue_limit, to_stdout);
  }

  // Maps edited while the tap runs replace the running ones between two
  // datagrams, never within one.
  const auto follow_maps = [&] {
    if (!watcher.due(now_us())) {
      return;
    }
    bool follow = discovery.follow();
    const auto wall_ns = std::chrono::duration_cast<std::chrono::nanoseconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    for (const MapWatcher::Replacement &r : watcher.look(now_us(), wall_ns)) {
      if (!outputs.replace_map(r.map, r.file, options.midi_port, error)) {
        say(error + "; the map read before goes on");
      } else if (!r.file.service.empty()) {
        discovery.look_for(r.file.service);
        follow = true;
      }
    }
    if (follow) {
      outputs.follow_services(discovery);
    }
    const std::lock_guard<std::mutex> lock(stats_mutex);
    stats.map_mistakes = watcher.mistakes();
  };
  std::vector<unsigned char> buffer(max_datagram + 1);
  bool said_receive_error = false;
  while (!platform::stop_requested()) {
    const int size = listener.receive(buffer.data(), static_cast<int>(buffer.size()));
    if (size < 0) {
      // Quiet: the last datagrams' reports are collected all the same.
      outputs.tick(now_us());
      follow_maps();
      {
        const std::lock_guard<std::mutex> lock(stats_mutex);
        take_destination_counts();
      }
      if (listener.errors_in_a_row() >= 10 && !said_receive_error) {
        said_receive_error = true;
        say("receiving fails: error " + std::to_string(listener.error_code()) +
            "; trying again every tenth of a second");
      }
      continue;
    }
    const std::int64_t arrival_us = now_us();
    const auto bytes = static_cast<std::uint32_t>(size);
    // Forwarding comes first: nothing else may delay it.
    outputs.forward(buffer.data(), bytes, arrival_us);
    web.publish(buffer.data(), bytes);

    BridgeEvent event{};
    const DatagramKind kind = decode_datagram(buffer.data(), bytes, event);
    for (int i = 0; kind == DatagramKind::bridge && i < event.address_count; ++i) {
      oscquery.publish(static_cast<std::size_t>(event.first_address) + static_cast<std::size_t>(i),
                       buffer.data() + event.message_at[i], event.message_size[i]);
    }
    outputs.feed(kind == DatagramKind::bridge ? &event : nullptr, arrival_us);
    follow_maps();
    const std::lock_guard<std::mutex> lock(stats_mutex);
    const std::int64_t time_us = stats.count_datagram(arrival_us, bytes);
    if (recorder.is_open()) {
      recorder.record(time_us, kind, event, buffer.data(), bytes);
    }
    take_destination_counts();
    if (kind == DatagramKind::malformed) {
      ++stats.malformed;
    } else if (kind == DatagramKind::foreign) {
      ++stats.foreign;
    } else {
      stats.count_event(event);
      if (console && !view && event.address_count > 0 &&
          !console->push(plain_lines(time_us, event))) {
        stats.dropped_lines += static_cast<std::uint64_t>(event.address_count);
      }
    }
  }

  web.stop();
  oscquery.stop();
  const WebCounts web_counts = web.counts();
  const WebCounts query_counts = oscquery.counts();
  // What is queued is written out before the summary counts it.
  const bool recording_done = !recorder.is_open() || recorder.finish();
  const bool finished =
      (!console || console->finish(view ? LiveView::leave : "")) && recording_done;
  if (view) {
    // Every way out ends the loop, the console's close button too (its
    // handler waits for this).
    platform::restore_terminal();
  }
  outputs.finish(now_us());
  {
    const std::lock_guard<std::mutex> lock(stats_mutex);
    take_destination_counts();
    take_recorder_counts();
    take_web_counts(web_counts);
    stats.oscquery_counts = query_counts;
    if (!recording_done) {
      // What is still queued ends with the process.
      stats.record_failures = stats.datagrams - stats.recorded;
    }
    say(summary(stats, recorder.is_open()));
  }
  if (!finished) {
    // An output thread is stuck in a write and still uses what this owns.
    std::_Exit(0);
  }
  return 0;
}

} // namespace

int main(int argc, char **argv) {
  platform::watch_for_stop();
  TapOptions options;
  const std::string error = parse_tap_options({argv + 1, argv + argc}, options);
  if (!error.empty()) {
    say(error + " (ring2osc-tap --help shows the usage)");
    return exit_usage;
  }
  if (options.help) {
    platform::write_stdout(tap_usage, std::strlen(tap_usage));
    return 0;
  }
  if (options.list_midi) {
    return list_midi() ? 0 : exit_failure;
  }
  if (!options.check_maps.empty()) {
    std::vector<MapFile> maps;
    if (!read_maps(options.check_maps, maps)) {
      return exit_usage;
    }
    for (const MapFile &map : maps) {
      const std::string text = describe_map(map);
      platform::write_stdout(text.data(), text.size());
    }
    return 0;
  }
  return run(options);
}
