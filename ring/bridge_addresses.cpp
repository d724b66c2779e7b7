#include "ring/bridge_addresses.h"

#include "ring/ring_vocabulary.h"

#include <cstring>

#define RING2OSC_FIELD(address, kind, field, type)                                                 \
  { address, #field, offsetof(RingEvent, field), event_kind::kind, type }

const BridgeAddress bridge_addresses[bridge_address_count] = {
    RING2OSC_FIELD("/b/0", button, b_value, 'i'), RING2OSC_FIELD("/b/1", button, b_value, 'i'),
    RING2OSC_FIELD("/b/2", button, b_value, 'i'), RING2OSC_FIELD("/b/3", button, b_value, 'i'),
    RING2OSC_FIELD("/b/4", button, b_value, 'i'), RING2OSC_FIELD("/b/5", button, b_value, 'i'),
    RING2OSC_FIELD("/b/6", button, b_value, 'i'), RING2OSC_FIELD("/b/7", button, b_value, 'i'),
    RING2OSC_FIELD("/b/8", button, b_value, 'i'), RING2OSC_FIELD("/b/9", button, b_value, 'i'),
    RING2OSC_FIELD("/a/x", acceleration, x, 'f'), RING2OSC_FIELD("/a/y", acceleration, y, 'f'),
    RING2OSC_FIELD("/a/z", acceleration, z, 'f'), RING2OSC_FIELD("/r/r", rotation, r_r, 'f'),
    RING2OSC_FIELD("/r/p", rotation, r_p, 'f'),   RING2OSC_FIELD("/r/y", rotation, r_y, 'f'),
    RING2OSC_FIELD("/j/x", joystick, j_x, 'i'),   RING2OSC_FIELD("/j/y", joystick, j_y, 'i'),
    RING2OSC_FIELD("/j/t", joystick, j_t, 'i'),   RING2OSC_FIELD("/gest", gesture, gest_value, 'i'),
    RING2OSC_FIELD("/g/x", gyroscope, x, 'f'),    RING2OSC_FIELD("/g/y", gyroscope, y, 'f'),
    RING2OSC_FIELD("/g/z", gyroscope, z, 'f'),
};

#undef RING2OSC_FIELD

int find_bridge_address(const char *address) {
  for (int i = 0; i < bridge_address_count; ++i) {
    if (std::strcmp(bridge_addresses[i].address, address) == 0) {
      return i;
    }
  }
  return -1;
}

double argument_value(char type, std::uint32_t bits) {
  if (type == 'i') {
    return static_cast<std::int32_t>(bits);
  }
  float value = 0;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}
