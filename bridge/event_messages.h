#pragma once

#include "bridge/ring_sdk.h"
#include "osc/osc_packet.h"

// Adds the OSC messages of a data event (kinds 0, 1, 2, 3, 4 and 9) to the
// open bundle in `pkt`; other kinds add nothing.
void add_event_messages(const RingEvent &event, OscPacketWriter &pkt);
