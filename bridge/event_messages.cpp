#include "bridge/event_messages.h"

#include "ring/ring_vocabulary.h"

namespace {

// One function per kind, so that only one kind's messages are on the SDK
// thread's stack at a time: each message holds its bytes inside itself.
// Values go out exactly as the record holds them; each chained add runs
// before the next argument is taken, so the messages keep table order.

constexpr const char *button_addresses[] = {"/b/0", "/b/1", "/b/2", "/b/3", "/b/4",
                                            "/b/5", "/b/6", "/b/7", "/b/8", "/b/9"};

// b_number arrives as a float; only the exact values 0 to 9 name a button.
// It is compared as a float, never rounded, so 2.5 and NaN name none and
// -0.0 names button 0.
void add_button(const RingEvent &event, OscPacketWriter &pkt) {
  for (int n = 0; n < 10; ++n) {
    if (event.b_number == static_cast<float>(n)) {
      OscMessage bn(button_addresses[n], OscTimeTag::immediate());
      pkt.add_message(bn.add_int32(event.b_value));
      return;
    }
  }
}

void add_acceleration(const RingEvent &event, OscPacketWriter &pkt) {
  const OscTimeTag now = OscTimeTag::immediate();
  OscMessage px("/a/x", now), py("/a/y", now), pz("/a/z", now);
  pkt.add_message(px.add_float(event.x))
      .add_message(py.add_float(event.y))
      .add_message(pz.add_float(event.z));
}

void add_rotation(const RingEvent &event, OscPacketWriter &pkt) {
  const OscTimeTag now = OscTimeTag::immediate();
  OscMessage rr("/r/r", now), rp("/r/p", now), ry("/r/y", now);
  pkt.add_message(rr.add_float(event.r_r))
      .add_message(rp.add_float(event.r_p))
      .add_message(ry.add_float(event.r_y));
}

void add_joystick(const RingEvent &event, OscPacketWriter &pkt) {
  const OscTimeTag now = OscTimeTag::immediate();
  OscMessage jx("/j/x", now), jy("/j/y", now), jt("/j/t", now);
  pkt.add_message(jx.add_int32(event.j_x))
      .add_message(jy.add_int32(event.j_y))
      .add_message(jt.add_int32(event.j_t));
}

void add_gesture(const RingEvent &event, OscPacketWriter &pkt) {
  OscMessage gest("/gest", OscTimeTag::immediate());
  pkt.add_message(gest.add_int32(event.gest_value));
}

void add_gyroscope(const RingEvent &event, OscPacketWriter &pkt) {
  const OscTimeTag now = OscTimeTag::immediate();
  OscMessage gx("/g/x", now), gy("/g/y", now), gz("/g/z", now);
  pkt.add_message(gx.add_float(event.x))
      .add_message(gy.add_float(event.y))
      .add_message(gz.add_float(event.z));
}

} // namespace

void add_event_messages(const RingEvent &event, OscPacketWriter &pkt) {
  switch (event.kind) {
  case event_kind::button:
    add_button(event, pkt);
    break;
  case event_kind::acceleration:
    add_acceleration(event, pkt);
    break;
  case event_kind::rotation:
    add_rotation(event, pkt);
    break;
  case event_kind::joystick:
    add_joystick(event, pkt);
    break;
  case event_kind::gesture:
    add_gesture(event, pkt);
    break;
  case event_kind::gyroscope:
    add_gyroscope(event, pkt);
    break;
  default:
    break;
  }
}
