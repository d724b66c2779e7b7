#include "tests/support/recording_sdk.h"

#include "bridge/ring_sdk.h"

#include <mutex>

namespace {

std::mutex mutex;
std::vector<std::string> calls;
std::int32_t rings = 1;
const char ring_zero_name[] = "ring-zero";

void record(const std::string &call) {
  const std::lock_guard<std::mutex> lock(mutex);
  calls.push_back(call);
}

} // namespace

void reset_recording_sdk(std::int32_t ring_count) {
  const std::lock_guard<std::mutex> lock(mutex);
  calls.clear();
  rings = ring_count;
}

std::vector<std::string> recorded_sdk_calls() {
  const std::lock_guard<std::mutex> lock(mutex);
  return calls;
}

const char *recorded_ring_name() { return ring_zero_name; }

extern "C" {

void QorInitialize(RingEventCallback /*handler*/) { record("QorInitialize"); }

std::int32_t QorNumRings(void) {
  record("QorNumRings");
  const std::lock_guard<std::mutex> lock(mutex);
  return rings;
}

const char *QorGetRingName(std::int32_t ring_index) {
  record("QorGetRingName " + std::to_string(ring_index));
  return ring_index == 0 ? ring_zero_name : "another-ring";
}

void QorSubscribe(std::int32_t code, const char *ring_name) {
  const bool ring_zero = ring_name == ring_zero_name;
  record("QorSubscribe " + std::to_string(code) + (ring_zero ? " ring-zero" : " other"));
}
}
