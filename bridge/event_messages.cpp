#include "bridge/event_messages.h"

namespace {

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

} // namespace

void add_event_messages(const RingEvent &event, OscPacketWriter &pkt) {
  const OscTimeTag now = OscTimeTag::immediate();
  // Values go out exactly as the record holds them. Each chained add runs
  // before the next argument is taken, so the messages keep table order.
  switch (event.kind) {
  case 0:
    add_button(event, pkt);
    break;
  case 1: {
    OscMessage px("/a/x", now), py("/a/y", now), pz("/a/z", now);
    pkt.add_message(px.add_float(event.x))
        .add_message(py.add_float(event.y))
        .add_message(pz.add_float(event.z));
    break;
  }
  case 2: {
    OscMessage rr("/r/r", now), rp("/r/p", now), ry("/r/y", now);
    pkt.add_message(rr.add_float(event.r_r))
        .add_message(rp.add_float(event.r_p))
        .add_message(ry.add_float(event.r_y));
    break;
  }
  case 3: {
    OscMessage jx("/j/x", now), jy("/j/y", now), jt("/j/t", now);
    pkt.add_message(jx.add_int32(event.j_x))
        .add_message(jy.add_int32(event.j_y))
        .add_message(jt.add_int32(event.j_t));
    break;
  }
  case 4: {
    OscMessage gest("/gest", now);
    pkt.add_message(gest.add_int32(event.gest_value));
    break;
  }
  case 9: {
    OscMessage gx("/g/x", now), gy("/g/y", now), gz("/g/z", now);
    pkt.add_message(gx.add_float(event.x))
        .add_message(gy.add_float(event.y))
        .add_message(gz.add_float(event.z));
    break;
  }
  default:
    break;
  }
}
