// A stand-in for the ring SDK that records every call the bridge makes, in
// order, so tests can check the exact sequence.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

void reset_recording_sdk(std::int32_t ring_count);
std::vector<std::string> recorded_sdk_calls();
// The name QorGetRingName hands out for ring 0.
const char *recorded_ring_name();
