// The tap's monitor page. Datagrams come over the relay (one OSC packet per
// binary WebSocket message) and are only stored as they arrive; the plots, the
// pad and the lamps are drawn once per animation frame and the table ten times
// a second, so a fast stream never builds a backlog.
// The tap's counts, and the latest value of every address for a page opened
// mid-stream, come from /status.
// The OSC reader: osc_values.js; the plots: plots.js.
import { readPacket, valueOf, valueText } from "./osc_values.js";
import { Series, drawPlot, fitCanvas, makePlots, plots } from "./plots.js";

const TRAIL = 64; // joystick positions drawn as its trail
const GESTURES = 12; // gestures listed
const STATUS_EVERY_MS = 500;
const RECONNECT_MS = 1000;
const TABLE_EVERY_MS = 100; // text that changes faster cannot be read, only laid out

// Every address seen: latest bits and value, count, range and samples.
const addresses = new Map();
function entry(address, type) {
  let e = addresses.get(address);
  if (!e) {
    e = { type, bits: 0, value: 0, messages: 0, low: Infinity, high: -Infinity, rate: 0,
          countedAt: 0, series: new Series(), row: null, shown: "" };
    addresses.set(address, e);
  }
  return e;
}

const joystick = { x: [], y: [] };
const buttons = [];
const gestures = [];
let frozenAt = null;
let lastStatus = null;
let relayOpen = false;
let connection = 0; // counts the relay's connections
let seeded = 0; // the connection whose first status was taken
let tableAt = -Infinity;

function store(address, type, bits, time) {
  const e = entry(address, type);
  const value = valueOf(type, bits);
  e.type = type;
  e.bits = bits;
  e.value = value;
  e.messages++;
  e.relayed = connection;
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

window.ring2oscArrivals = location.search.includes("arrivals") ? [] : null;
function received(data) {
  const time = performance.now();
  if (window.ring2oscArrivals) window.ring2oscArrivals.push(performance.timeOrigin + time);
  try {
    readPacket(new DataView(data), 0, data.byteLength, (address, type, bits) => store(address, type, bits, time));
  } catch (error) {
    if (!(error instanceof RangeError)) throw error;
  }
}

function say(text, state) {
  const line = document.getElementById("connection");
  if (line.textContent !== text) line.textContent = text;
  line.className = state;
}

function connect() {
  const socket = new WebSocket(`ws://${location.host}/osc`);
  socket.binaryType = "arraybuffer";
  socket.onopen = () => {
    relayOpen = true;
    connection++;
    pollStatus();
  };
  socket.onmessage = (message) => {
    if (message.data instanceof ArrayBuffer) received(message.data);
  };
  socket.onclose = () => {
    relayOpen = false;
    say("The tap is gone; connecting again…", "gone");
    setTimeout(connect, RECONNECT_MS);
  };
}

// Once per connection, what the tap has seen of every address the relay has
// not brought since: a page opened mid-stream shows them at once, and one
// that reconnects takes what the tap, perhaps a new one, now has.
function seed(status) {
  if (seeded === connection || !relayOpen) return;
  seeded = connection;
  for (const a of status.addresses) {
    if (addresses.get(a.address)?.relayed === connection) continue;
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
}

async function pollStatus() {
  try {
    const answer = await fetch("/status", { cache: "no-store" });
    const status = await answer.json();
    status.receivedAt = performance.now();
    seed(status);
    showStatus(status, lastStatus);
    lastStatus = status;
    if (relayOpen) say("Live", "live");
  } catch (error) {
    lastStatus = null;
    say("The tap is gone; connecting again…", "gone");
  }
}

function drawPad() {
  const [g, width, height] = fitCanvas(document.getElementById("pad"));
  g.clearRect(0, 0, width, height);
  const n = Math.min(joystick.x.length, joystick.y.length);
  let reach = 100;
  for (let i = 0; i < n; i++) {
    reach = Math.max(reach, Math.abs(joystick.x[i]), Math.abs(joystick.y[i]));
  }
  const px = (v) => width / 2 + (v / reach) * (width / 2 - 8);
  const py = (v) => height / 2 - (v / reach) * (height / 2 - 8);
  g.strokeStyle = "rgba(128,128,128,0.5)";
  g.strokeRect(0.5, 0.5, width - 1, height - 1);
  g.beginPath();
  g.moveTo(width / 2, 0);
  g.lineTo(width / 2, height);
  g.moveTo(0, height / 2);
  g.lineTo(width, height / 2);
  g.stroke();
  const xs = joystick.x.slice(-n), ys = joystick.y.slice(-n);
  if (n === 0 && addresses.has("/j/x") && addresses.has("/j/y")) {
    // Only the tap's latest position so far, no trail yet.
    xs.push(addresses.get("/j/x").value);
    ys.push(addresses.get("/j/y").value);
    reach = Math.max(reach, Math.abs(xs[0]), Math.abs(ys[0]));
  }
  for (let i = 1; i < n; i++) {
    g.strokeStyle = `rgba(31,111,209,${i / n})`;
    g.beginPath();
    g.moveTo(px(xs[i - 1]), py(ys[i - 1]));
    g.lineTo(px(xs[i]), py(ys[i]));
    g.stroke();
  }
  if (xs.length > 0) {
    g.fillStyle = "#1f6fd1";
    g.beginPath();
    g.arc(px(xs[xs.length - 1]), py(ys[ys.length - 1]), 6, 0, 2 * Math.PI);
    g.fill();
  }
  const touch = addresses.get("/j/t");
  const lamp = document.getElementById("jt");
  const on = touch !== undefined && touch.value !== 0;
  lamp.classList.toggle("on", on);
  lamp.setAttribute("aria-label", `/j/t ${touch ? touch.value : "not seen"}`);
}

function makeButtons() {
  const list = document.getElementById("buttons");
  for (let i = 0; i < 10; i++) {
    const item = document.createElement("li");
    item.className = "lamp";
    list.append(item);
    buttons.push({ on: false, presses: 0, item, shown: "" });
  }
}

function drawButtons() {
  buttons.forEach((b, i) => {
    const text = `${i} ${b.on} ${b.presses}`;
    if (b.shown === text) return;
    b.shown = text;
    b.item.classList.toggle("on", b.on);
    b.item.innerHTML = "";
    b.item.append(`/b/${i}`);
    const count = document.createElement("small");
    count.textContent = `${b.presses}×`;
    b.item.append(count);
    b.item.setAttribute("aria-label", `/b/${i} ${b.on ? "pressed" : "released"}, pressed ${b.presses} times`);
  });
  const latest = gestures.length ? String(gestures[0].value) : (addresses.has("/gest")
    ? String(addresses.get("/gest").value) : "-");
  const shown = document.getElementById("gesture");
  if (shown.textContent !== latest) shown.textContent = latest;
  const list = document.getElementById("gestures");
  const now = performance.now();
  const text = gestures.map((g) => `${g.value} (${((now - g.time) / 1000).toFixed(0)} s ago)`);
  if (list.dataset.shown !== text.join("|")) {
    list.dataset.shown = text.join("|");
    list.replaceChildren(...text.map((t) => Object.assign(document.createElement("li"), { textContent: t })));
  }
}

function drawTable(now) {
  const body = document.querySelector("#addresses tbody");
  const sorted = [...addresses.keys()].sort();
  sorted.forEach((address, index) => {
    const e = addresses.get(address);
    if (now - e.countedAt >= 1000) {
      e.rate = e.countedAt ? Math.max(0, e.messages - e.countedMessages) * 1000 / (now - e.countedAt) : 0;
      e.countedAt = now;
      e.countedMessages = e.messages;
    }
    if (!e.row) {
      e.row = body.insertRow();
      for (let i = 0; i < 5; i++) e.row.insertCell();
      e.row.cells[0].textContent = address;
    }
    if (body.rows[index] !== e.row) body.insertBefore(e.row, body.rows[index] || null);
    const range = e.low <= e.high;
    const cells = [valueText(e.type, e.value), e.rate.toFixed(1),
                   range ? valueText(e.type, e.low) : "-", range ? valueText(e.type, e.high) : "-"];
    const text = cells.join("|");
    if (e.shown === text) return;
    e.shown = text;
    cells.forEach((t, i) => { e.row.cells[i + 1].textContent = t; });
  });
}

function frame() {
  const now = frozenAt ?? performance.now();
  const span = Number(document.getElementById("window").value) * 1000;
  for (const plot of plots) drawPlot(plot, now, span, addresses);
  drawPad();
  drawButtons();
  if (frozenAt === null && now - tableAt >= TABLE_EVERY_MS) {
    tableAt = now;
    drawTable(now);
  }
  requestAnimationFrame(frame);
}

function toggleFreeze() {
  frozenAt = frozenAt === null ? performance.now() : null;
  const button = document.getElementById("freeze");
  button.setAttribute("aria-pressed", String(frozenAt !== null));
  button.textContent = frozenAt === null ? "Freeze" : "Resume";
}

function start() {
  makePlots();
  makeButtons();
  const windowInput = document.getElementById("window");
  windowInput.addEventListener("input", () => {
    document.getElementById("window-text").textContent = `${windowInput.value} s`;
  });
  document.getElementById("freeze").addEventListener("click", toggleFreeze);
  document.addEventListener("keydown", (event) => {
    const typing = event.target.closest("input, select, textarea, button");
    if (event.code === "Space" && !typing) {
      event.preventDefault();
      toggleFreeze();
    }
  });
  connect();
  setInterval(pollStatus, STATUS_EVERY_MS);
  requestAnimationFrame(frame);
}

start();
