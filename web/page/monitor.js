// The tap's monitor page. Datagrams come over the relay (one OSC packet per
// binary WebSocket message) and are only stored as they arrive; the plots, the
// pad and the lamps are drawn once per animation frame and the table ten times
// a second, so a fast stream never builds a backlog.
// The tap's counts, and the latest value of every address for a page opened
// mid-stream, come from /status.
"use strict";

const PLOTS = [
  { title: "Acceleration", addresses: ["/a/x", "/a/y", "/a/z"] },
  { title: "Gyroscope", addresses: ["/g/x", "/g/y", "/g/z"] },
  { title: "Rotation", addresses: ["/r/r", "/r/p", "/r/y"] },
];
const COLORS = ["#d62728", "#2a9d3a", "#1f6fd1"];
const CAPACITY = 1 << 16; // samples kept per address: 30 s at over 2,000 a second
const TRAIL = 64; // joystick positions drawn as its trail
const GESTURES = 12; // gestures listed
const STATUS_EVERY_MS = 500;
const RECONNECT_MS = 1000;
const TABLE_EVERY_MS = 100; // text that changes faster cannot be read, only laid out

// One address's samples in arrival order, oldest overwritten first.
class Series {
  constructor() {
    this.times = new Float64Array(CAPACITY);
    this.values = new Float32Array(CAPACITY);
    this.start = 0;
    this.count = 0;
  }
  push(time, value) {
    const end = (this.start + this.count) % CAPACITY;
    this.times[end] = time;
    this.values[end] = value;
    if (this.count < CAPACITY) this.count++;
    else this.start = (this.start + 1) % CAPACITY;
  }
  // The position (0 = oldest) of the first sample at or after `time`.
  firstFrom(time) {
    let low = 0, high = this.count;
    while (low < high) {
      const middle = (low + high) >> 1;
      if (this.times[(this.start + middle) % CAPACITY] < time) low = middle + 1;
      else high = middle;
    }
    return low;
  }
}

// The shortest decimal that reads back as the same 32-bit float.
function floatText(x) {
  if (Number.isNaN(x)) return "NaN";
  if (x === Infinity) return "inf";
  if (x === -Infinity) return "-inf";
  if (Object.is(x, -0)) return "-0";
  for (let digits = 1; digits < 9; digits++) {
    const candidate = Number(x.toPrecision(digits));
    if (Math.fround(candidate) === x) return String(candidate);
  }
  return String(Number(x.toPrecision(9)));
}

const bitsView = new DataView(new ArrayBuffer(4));
function valueOf(type, bits) {
  bitsView.setUint32(0, bits);
  return type === "f" ? bitsView.getFloat32(0) : bitsView.getInt32(0);
}
function valueText(type, value) {
  return type === "f" ? floatText(value) : String(value);
}

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

// Reads an OSC packet: a bundle's elements in turn, or one message whose
// single argument is a 32-bit integer or float. Anything else is skipped.
function readString(view, at, end) {
  let stop = at;
  while (stop < end && view.getUint8(stop) !== 0) stop++;
  if (stop >= end) throw new RangeError("unterminated string");
  let text = "";
  for (let i = at; i < stop; i++) text += String.fromCharCode(view.getUint8(i));
  return [text, (stop + 4) & ~3];
}
function readPacket(view, at, end, time, depth) {
  if (depth > 8 || end - at < 4) return;
  if (end - at >= 16 && view.getUint32(at) === 0x2362756e && view.getUint32(at + 4) === 0x646c6500) {
    for (let i = at + 16; i + 4 <= end;) {
      const size = view.getUint32(i);
      if (size > end - i - 4) return;
      readPacket(view, i + 4, i + 4 + size, time, depth + 1);
      i += 4 + size;
    }
    return;
  }
  const [address, tagsAt] = readString(view, at, end);
  const [tags, argumentAt] = readString(view, tagsAt, end);
  if ((tags === ",f" || tags === ",i") && argumentAt + 4 <= end) {
    store(address, tags[1], view.getUint32(argumentAt), time);
  }
}

window.ring2oscArrivals = location.search.includes("arrivals") ? [] : null;
function received(data) {
  const time = performance.now();
  if (window.ring2oscArrivals) window.ring2oscArrivals.push(performance.timeOrigin + time);
  try {
    readPacket(new DataView(data), 0, data.byteLength, time, 0);
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

// Plots: every sample in the window is drawn. Where there are more samples
// than pixels, each pixel column shows the span of the samples that fall in
// it, so no peak goes missing.
const plots = [];
function makePlots() {
  const template = document.getElementById("plot-template");
  for (const p of PLOTS) {
    const figure = template.content.firstElementChild.cloneNode(true);
    figure.querySelector(".title").textContent = p.title;
    figure.querySelector(".address").textContent = p.addresses.join(" ");
    const legend = figure.querySelector(".legend");
    p.addresses.forEach((address, i) => {
      const key = document.createElement("span");
      key.style.color = COLORS[i];
      key.textContent = `— ${address.slice(3)}`;
      legend.append(key);
    });
    const canvas = figure.querySelector("canvas");
    canvas.setAttribute("aria-label", `${p.title} over time`);
    for (const control of figure.querySelectorAll("select, input")) {
      control.setAttribute("aria-label", `${p.title} ${control.className.replace("range-", "range ")}`);
    }
    document.getElementById("plots").append(figure);
    plots.push({ ...p, canvas, mode: figure.querySelector(".range-mode"),
                 low: figure.querySelector(".range-low"), high: figure.querySelector(".range-high") });
  }
}

function fitCanvas(canvas) {
  const ratio = window.devicePixelRatio || 1;
  const width = Math.round(canvas.clientWidth * ratio), height = Math.round(canvas.clientHeight * ratio);
  if (canvas.width !== width || canvas.height !== height) {
    canvas.width = width;
    canvas.height = height;
  }
  const context = canvas.getContext("2d");
  context.setTransform(ratio, 0, 0, ratio, 0, 0);
  return [context, canvas.clientWidth, canvas.clientHeight];
}

function plotRange(plot, from) {
  if (plot.mode.value === "fixed") {
    const low = Number(plot.low.value), high = Number(plot.high.value);
    if (Number.isFinite(low) && Number.isFinite(high) && low < high) return [low, high];
  }
  let low = Infinity, high = -Infinity;
  for (const address of plot.addresses) {
    const s = addresses.get(address)?.series;
    if (!s) continue;
    for (let i = s.firstFrom(from); i < s.count; i++) {
      const v = s.values[(s.start + i) % CAPACITY];
      if (Number.isFinite(v)) {
        if (v < low) low = v;
        if (v > high) high = v;
      }
    }
  }
  if (low > high) return [-1, 1];
  const margin = (high - low) * 0.05 || Math.abs(high) * 0.05 || 1;
  if (plot.mode.value === "auto") {
    plot.low.placeholder = floatText(Math.fround(low - margin));
    plot.high.placeholder = floatText(Math.fround(high + margin));
  }
  return [low - margin, high + margin];
}

function drawPlot(plot, now, span) {
  const [g, width, height] = fitCanvas(plot.canvas);
  const from = now - span;
  const [low, high] = plotRange(plot, from);
  const y = (v) => height - 4 - ((v - low) / (high - low)) * (height - 8);
  const x = (t) => ((t - from) / span) * width;
  g.clearRect(0, 0, width, height);
  g.strokeStyle = "rgba(128,128,128,0.5)";
  g.lineWidth = 1;
  if (low < 0 && high > 0) {
    g.beginPath();
    g.moveTo(0, y(0));
    g.lineTo(width, y(0));
    g.stroke();
  }
  g.fillStyle = "rgba(128,128,128,0.9)";
  g.font = "11px system-ui, sans-serif";
  g.fillText(floatText(Math.fround(high)), 4, 12);
  g.fillText(floatText(Math.fround(low)), 4, height - 6);
  plot.addresses.forEach((address, k) => {
    const s = addresses.get(address)?.series;
    if (!s) return;
    g.strokeStyle = g.fillStyle = COLORS[k];
    const first = s.firstFrom(from);
    const columns = s.count - first > 2 * width;
    const dots = s.count - first < width / 4; // sparse: each sample shows on its own
    g.beginPath();
    let drawing = false, column = -1, columnLow = 0, columnHigh = 0;
    for (let i = first; i < s.count; i++) {
      const at = (s.start + i) % CAPACITY;
      const t = s.times[at], v = s.values[at];
      if (t > now) break;
      if (!Number.isFinite(v)) {
        mark(g, x(t), v, height);
        drawing = false;
        continue;
      }
      if (columns) {
        const c = Math.floor(x(t));
        if (c === column && drawing) {
          columnLow = Math.min(columnLow, v);
          columnHigh = Math.max(columnHigh, v);
          continue;
        }
        if (drawing) {
          g.lineTo(column + 0.5, y(columnLow));
          g.lineTo(column + 0.5, y(columnHigh));
        }
        column = c;
        columnLow = columnHigh = v;
      }
      if (drawing) g.lineTo(x(t), y(v));
      else g.moveTo(x(t), y(v));
      if (dots) g.fillRect(x(t) - 1.5, y(v) - 1.5, 3, 3);
      drawing = true;
    }
    if (columns && drawing) {
      g.lineTo(column + 0.5, y(columnLow));
      g.lineTo(column + 0.5, y(columnHigh));
    }
    g.stroke();
  });
}

// NaN and the infinities are not numbers to draw: a mark at the edge.
function mark(g, x, v, height) {
  g.beginPath();
  if (Number.isNaN(v)) {
    g.arc(x, height / 2, 4, 0, 2 * Math.PI);
    g.stroke();
    return;
  }
  const tip = v > 0 ? 0 : height, base = v > 0 ? 9 : height - 9;
  g.moveTo(x, tip);
  g.lineTo(x - 5, base);
  g.lineTo(x + 5, base);
  g.closePath();
  g.fill();
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
  for (const plot of plots) drawPlot(plot, now, span);
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
