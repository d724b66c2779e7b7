// The tap's counts, and the latest value of every address for a page opened
// mid-stream, from /status.
import { addresses, buttons, entry, relay } from "./page_state.js";
import { valueOf } from "./osc_values.js";

let lastStatus = null;

export function say(text, state) {
  const line = document.getElementById("connection");
  if (line.textContent !== text) line.textContent = text;
  line.className = state;
}

// Once per connection, what the tap has seen of every address the relay has
// not brought since: a page opened mid-stream shows them at once, and one
// that reconnects takes what the tap, perhaps a new one, now has.
function seed(status) {
  if (relay.seeded === relay.connection || !relay.open) return;
  relay.seeded = relay.connection;
  for (const a of status.addresses) {
    if (addresses.get(a.address)?.relayed === relay.connection) continue;
    const e = entry(a.address, a.type);
    e.bits = a.bits;
    e.value = valueOf(a.type, a.bits);
    e.messages = a.messages;
    if ("low" in a) {
      e.low = Number(a.low);
      e.high = Number(a.high);
    }
    if (a.address.startsWith("/b/") && buttons[Number(a.address.slice(3))]) {
      buttons[Number(a.address.slice(3))].on = e.value !== 0;
    }
  }
}

function number(n) {
  return n.toLocaleString("en-US");
}

function showStatus(status, previous) {
  const set = (id, text) => {
    const element = document.getElementById(id);
    if (element.textContent !== text) element.textContent = text;
  };
  set("listen", status.listen);
  set("datagrams", number(status.datagrams));
  set("bytes", number(status.bytes));
  set("malformed", number(status.malformed));
  set("foreign", number(status.foreign));
  // Null where the system cannot tell (Windows).
  set("system-dropped", status.system_dropped === null ? "unknown" : number(status.system_dropped));
  if (previous) {
    const seconds = (status.receivedAt - previous.receivedAt) / 1000;
    set("rate", `${((status.datagrams - previous.datagrams) / seconds).toFixed(1)}/s`);
  }
  set("since-last", status.since_last_us < 0 ? "none yet"
    : `${(status.since_last_us / 1e6).toFixed(1)} s ago`);
  set("destinations", status.destinations.length === 0 ? "none"
    : status.destinations.map((d) => `${d.name}: ${number(d.forwarded)} ${d.not_finite === undefined ? "forwarded" : "sent"}, ${number(d.failed)} failed`
      + (d.not_finite === undefined ? "" : `, ${number(d.not_finite)} not finite dropped`)
      + (d.port_there === false ? ", the port is gone" : ""))
        .join("; "));
  set("recording", status.recording === null ? "off"
    : `${status.recording}: ${number(status.recorded)} lines, ${number(status.record_lost)} lost`);
  set("web", `${status.web_clients} relay clients, ${number(status.web_dropped)} messages dropped for slow ones`);
  const query = status.oscquery;
  set("oscquery", query === null ? "off"
    : `${query.clients} clients, ${number(query.dropped)} messages dropped, ${number(query.ignored)} said no command`);
}

export async function pollStatus() {
  try {
    const answer = await fetch("/status", { cache: "no-store" });
    const status = await answer.json();
    status.receivedAt = performance.now();
    seed(status);
    showStatus(status, lastStatus);
    lastStatus = status;
    if (relay.open) say("Live", "live");
  } catch (error) {
    lastStatus = null;
    say("The tap is gone; connecting again…", "gone");
  }
}
