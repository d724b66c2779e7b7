// What the page knows: every address seen, the joystick's trail, the
// buttons, the latest gestures and the relay's state. Datagrams are only
// stored here as they arrive; the other modules draw from it.
import { valueOf } from "./osc_values.js";
import { Series } from "./plots.js";

const TRAIL = 64; // joystick positions drawn as its trail
const GESTURES = 12; // gestures listed

// Every address seen: latest bits and value, count, range and samples.
export const addresses = new Map();
export function entry(address, type) {
  let e = addresses.get(address);
  if (!e) {
    e = { type, bits: 0, value: 0, messages: 0, low: Infinity, high: -Infinity, rate: 0,
          countedAt: 0, series: new Series(), row: null, shown: "" };
    addresses.set(address, e);
  }
  return e;
}

export const joystick = { x: [], y: [] };
export const buttons = [];
export const gestures = [];
// The relay: whether it is open, how many times it opened, and the opening
// whose first status has been taken.
export const relay = { open: false, connection: 0, seeded: 0 };

export function store(address, type, bits, time) {
  const e = entry(address, type);
  const value = valueOf(type, bits);
  e.type = type;
  e.bits = bits;
  e.value = value;
  e.messages++;
  e.relayed = relay.connection;
  if (!Number.isNaN(value)) {
    e.low = Math.min(e.low, value);
    e.high = Math.max(e.high, value);
  }
  e.series.push(time, value);
  if (address === "/j/x" || address === "/j/y") {
    const trail = address === "/j/x" ? joystick.x : joystick.y;
    trail.push(value);
    if (trail.length > TRAIL) trail.shift();
  } else if (address.startsWith("/b/")) {
    const b = buttons[Number(address.slice(3))];
    if (b && value !== 0 && !b.on) b.presses++;
    if (b) b.on = value !== 0;
  } else if (address === "/gest") {
    gestures.unshift({ value, time });
    if (gestures.length > GESTURES) gestures.pop();
  }
}
