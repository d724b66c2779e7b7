// ring2osc: forwards every ring event to localhost:7040 as one OSC bundle.
// All work happens in ring_event_handler on the SDK's threads; this thread
// only keeps the process alive until it is ended from outside.
#include "bridge/ring_event_handler.h"
#include "bridge/ring_sdk.h"
#include "platform/platform.h"

#include <cstdint>

int main() {
  constexpr std::uint32_t idle_period_ms = 10000;
  QorInitialize(&ring_event_handler);
  for (;;) {
    platform::Sleep(idle_period_ms);
  }
}
