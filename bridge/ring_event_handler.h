#pragma once

#include "bridge/ring_sdk.h"

// Called by the ring SDK once per event, on the SDK's thread: sends the
// event as one OSC bundle in one datagram and, on kind 11, subscribes ring 0.
// Never throws and keeps no state between calls.
void VANTREL_CALL ring_event_handler(RingEvent event) noexcept;
