// A simulated ring behind the ring SDK's four calls, for running and testing
// the bridge without hardware, configured from the environment
// (RINGSIM_EVENTS, RINGSIM_SPEED, ...: docs/ringsim.md has the whole table).
// It writes to standard error only about its own input.
#include "bridge/ring_sdk.h"
#include "platform/precise_sleep.h"
#include "ring/ring_vocabulary.h"
#include "ringsim/demo_stream.h"
#include "ringsim/pacer.h"
#include "ringsim/script_player.h"
#include "ringsim/sim_settings.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <streambuf>
#include <string>
#include <thread>
#include <utility>

namespace {

// Several threads, or a loop, play standard input more than once, so it is
// held in memory.
constexpr std::size_t max_shared_input = std::size_t{64} * 1024 * 1024;

// The SDK's state lives as long as the process: delivery threads may still be
// running while the process exits, so it is never destroyed.
class Simulator {
public:
  static Simulator &get() {
    static auto *const instance = new Simulator();
    return *instance;
  }

  const Settings &settings() const { return settings_; }

  void log(const std::string &line) {
    const std::lock_guard<std::mutex> lock(mutex);
    if (settings_.log_path.empty()) {
      return;
    }
    if (log_file == nullptr) {
      // A fresh log for every run; binary, so that lines end in LF on every
      // platform.
      log_file = std::fopen(settings_.log_path.c_str(), "wb");
      if (log_file == nullptr) {
        std::fprintf(stderr, "ringsim: cannot write %s: %s\n", settings_.log_path.c_str(),
                     std::strerror(errno));
        settings_.log_path.clear();
        return;
      }
    }
    std::fprintf(log_file, "%s\n", line.c_str());
    std::fflush(log_file);
  }

  const char *ring_name(std::int32_t index) {
    const std::lock_guard<std::mutex> lock(mutex);
    // Map nodes never move, so every name keeps its address for good.
    std::string &name = names[index];
    if (name.empty()) {
      name = "ring" + std::to_string(index);
    }
    return name.c_str();
  }

  // The printable form of a name handed back to QorSubscribe; only names this
  // SDK gave out are read.
  std::string name_text(const char *name) {
    const std::lock_guard<std::mutex> lock(mutex);
    for (const auto &entry : names) {
      if (entry.second.c_str() == name) {
        return entry.second;
      }
    }
    return name == nullptr ? "(null)" : "(unknown)";
  }

  void subscribed(const char *name) {
    const bool first_ring = ring_name(0) == name;
    const std::lock_guard<std::mutex> lock(mutex);
    if (first_ring) {
      ring0_subscribed = true;
      subscription.notify_all();
    }
  }

  void wait_until_subscribed() {
    std::unique_lock<std::mutex> lock(mutex);
    subscription.wait(lock, [this] { return ring0_subscribed; });
  }

private:
  Simulator() : settings_(read_settings()) {}

  Settings settings_;
  std::mutex mutex;
  std::condition_variable subscription;
  bool ring0_subscribed = false;
  std::map<std::int32_t, std::string> names;
  std::FILE *log_file = nullptr;
};

void play_demo(RingEventCallback handler, bool first_thread) {
  RingEvent connected{};
  connected.kind = event_kind::ring_connected;
  handler(connected);
  const std::int32_t rings = Simulator::get().settings().rings;
  if (rings < 1 && first_thread) {
    std::fprintf(stderr, "ringsim: demo waits: QorNumRings is %d, so nothing subscribes\n",
                 static_cast<int>(rings));
  }
  Simulator::get().wait_until_subscribed();

  // Each tick's events go out together, one tick period apart.
  Pacer pacer(std::chrono::milliseconds(demo_tick_ms), Simulator::get().settings().speed);
  RingEvent events[demo_max_events_per_tick];
  for (std::uint64_t tick = 0;; ++tick) {
    pacer.wait(-1);
    const int count = demo_tick_events(tick, events);
    for (int i = 0; i < count; ++i) {
      handler(events[i]);
    }
  }
}

// Reads standard input's shared copy in place: up to 64 threads each taking
// a copy of 64 MiB would not be bounded memory.
class SharedText : public std::streambuf {
public:
  explicit SharedText(const std::string &text) {
    char *begin = const_cast<char *>(text.data()); // only ever read
    setg(begin, begin, begin + text.size());
  }
};

// Every thread plays the whole script, as many times as it loops; standard
// input can be read only once, so then it is played from a copy in memory.
void deliver(RingEventCallback handler, int thread_index,
             const std::shared_ptr<const std::string> &shared_input) {
  const Settings &settings = Simulator::get().settings();
  const std::string &script = settings.script;
  const bool first_thread = thread_index == 0;
  if (script.empty()) {
    play_demo(handler, first_thread);
    return;
  }
  ScriptPlayer player(settings, handler, script, first_thread);
  for (bool again = true; again;) {
    bool played = false;
    if (shared_input) {
      SharedText text(*shared_input);
      std::istream input(&text);
      played = player.play_pass(input);
    } else if (script == "-") {
      played = player.play_pass(std::cin);
    } else {
      std::ifstream input(script, std::ios::binary);
      if (!input) {
        if (first_thread) {
          std::fprintf(stderr, "ringsim: %s: cannot open: %s\n", script.c_str(),
                       std::strerror(errno));
        }
        return;
      }
      played = player.play_pass(input);
    }
    // A script without events, or one that takes no time, would loop
    // without ever waiting.
    again = settings.loop && played;
  }
}

// The first delivery thread starts the others, so that QorInitialize returns
// at once even while standard input is read for them.
void first_delivery(RingEventCallback handler) {
  const Settings &settings = Simulator::get().settings();
  std::shared_ptr<const std::string> shared_input;
  if (settings.script == "-" && (settings.threads > 1 || settings.loop)) {
    std::string all;
    char chunk[64 * 1024];
    while (all.size() < max_shared_input && std::cin.read(chunk, sizeof chunk).gcount() > 0) {
      all.append(chunk, static_cast<std::size_t>(std::cin.gcount()));
    }
    if (all.size() > max_shared_input || std::cin.peek() != std::char_traits<char>::eof()) {
      all.resize(max_shared_input);
      std::fprintf(stderr,
                   "ringsim: -: standard input is over 64 MiB; with RINGSIM_THREADS above 1 or "
                   "RINGSIM_LOOP only its first 64 MiB play\n");
    }
    all.shrink_to_fit();
    shared_input = std::make_shared<const std::string>(std::move(all));
  }
  for (int i = 1; i < settings.threads; ++i) {
    try {
      std::thread(deliver, handler, i, shared_input).detach();
    } catch (const std::exception &error) {
      std::fprintf(stderr, "ringsim: cannot start delivery thread: %s\n", error.what());
    }
  }
  deliver(handler, 0, shared_input);
}

} // namespace

extern "C" {

VANTREL_API void VANTREL_CALL QorInitialize(RingEventCallback handler) {
  Simulator::get().log("QorInitialize");
  if (handler == nullptr) {
    return;
  }
  try {
    std::thread(first_delivery, handler).detach();
  } catch (const std::exception &error) {
    std::fprintf(stderr, "ringsim: cannot start delivery: %s\n", error.what());
  }
}

VANTREL_API std::int32_t VANTREL_CALL QorNumRings(void) {
  Simulator &sim = Simulator::get();
  const std::int32_t rings = sim.settings().rings;
  sim.log("QorNumRings " + std::to_string(rings));
  return rings;
}

VANTREL_API const char *VANTREL_CALL QorGetRingName(std::int32_t ring_index) {
  Simulator &sim = Simulator::get();
  sim.log("QorGetRingName " + std::to_string(ring_index));
  return sim.ring_name(ring_index);
}

VANTREL_API void VANTREL_CALL QorSubscribe(std::int32_t code, const char *ring_name) {
  Simulator &sim = Simulator::get();
  sim.log("QorSubscribe " + std::to_string(code) + " " + sim.name_text(ring_name));
  sim.subscribed(ring_name);
}
}
