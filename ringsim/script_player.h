#pragma once

#include "bridge/ring_sdk.h"
#include "ringsim/pacer.h"
#include "ringsim/sim_settings.h"
#include "ringsim/stamps.h"

#include <istream>
#include <string>
#include <utility>

// Plays a script once or, looping, again and again on one schedule. Only the
// first thread, on the first pass, says what is wrong with the script, so a
// problem is said once.
class ScriptPlayer {
public:
  ScriptPlayer(const Settings &settings, RingEventCallback handler, std::string source,
               bool first_thread)
      : handler(handler), source(std::move(source)), speaks(first_thread), loops(settings.loop),
        pacer(settings.interval, settings.speed),
        stamps(first_thread ? settings.stamps_path : std::string()) {}

  // One pass; false when another would play nothing or take no time.
  bool play_pass(std::istream &input);

private:
  RingEventCallback handler;
  std::string source;
  bool speaks;
  bool loops;
  bool told_earlier = false;
  bool first_pass = true; // the stamps are of the first pass only
  Pacer pacer;
  Stamps stamps;
};
