#include "bridge/bridge_addresses.h"

#include <cstring>

#define RING2OSC_FIELD(address, kind, field, type)                                                 \
  { address, #field, offsetof(RingEvent, field), kind, type }

const BridgeAddress bridge_addresses[bridge_address_count] = {
    RING2OSC_FIELD("/b/0", 0, b_value, 'i'), RING2OSC_FIELD("/b/1", 0, b_value, 'i'),
    RING2OSC_FIELD("/b/2", 0, b_value, 'i'), RING2OSC_FIELD("/b/3", 0, b_value, 'i'),
    RING2OSC_FIELD("/b/4", 0, b_value, 'i'), RING2OSC_FIELD("/b/5", 0, b_value, 'i'),
    RING2OSC_FIELD("/b/6", 0, b_value, 'i'), RING2OSC_FIELD("/b/7", 0, b_value, 'i'),
    RING2OSC_FIELD("/b/8", 0, b_value, 'i'), RING2OSC_FIELD("/b/9", 0, b_value, 'i'),
    RING2OSC_FIELD("/a/x", 1, x, 'f'),       RING2OSC_FIELD("/a/y", 1, y, 'f'),
    RING2OSC_FIELD("/a/z", 1, z, 'f'),       RING2OSC_FIELD("/r/r", 2, r_r, 'f'),
    RING2OSC_FIELD("/r/p", 2, r_p, 'f'),     RING2OSC_FIELD("/r/y", 2, r_y, 'f'),
    RING2OSC_FIELD("/j/x", 3, j_x, 'i'),     RING2OSC_FIELD("/j/y", 3, j_y, 'i'),
    RING2OSC_FIELD("/j/t", 3, j_t, 'i'),     RING2OSC_FIELD("/gest", 4, gest_value, 'i'),
    RING2OSC_FIELD("/g/x", 9, x, 'f'),       RING2OSC_FIELD("/g/y", 9, y, 'f'),
    RING2OSC_FIELD("/g/z", 9, z, 'f'),
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
