// The tap's monitor page. Datagrams come over the relay (one OSC packet per
// binary WebSocket message) and are only stored as they arrive
// (page_state.js); the plots (plots.js), the pad and the lamps (lamps.js) are
// drawn once per animation frame and the table (table.js) ten times a
// second, so a fast stream never builds a backlog. The tap's counts come from
// /status (status.js).
import { readPacket } from "./osc_values.js";
import { drawPlot, makePlots, plots } from "./plots.js";
import { addresses, relay, store } from "./page_state.js";
import { pollStatus, say } from "./status.js";
import { drawButtons, drawPad, makeButtons } from "./lamps.js";
import { drawTable } from "./table.js";

const STATUS_EVERY_MS = 500;
const RECONNECT_MS = 1000;
const TABLE_EVERY_MS = 100; // text that changes faster cannot be read, only laid out

let frozenAt = null;
let tableAt = -Infinity;

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

function connect() {
  const socket = new WebSocket(`ws://${location.host}/osc`);
  socket.binaryType = "arraybuffer";
  socket.onopen = () => {
    relay.open = true;
    relay.connection++;
    pollStatus();
  };
  socket.onmessage = (message) => {
    if (message.data instanceof ArrayBuffer) received(message.data);
  };
  socket.onclose = () => {
    relay.open = false;
    say("The tap is gone; connecting again…", "gone");
    setTimeout(connect, RECONNECT_MS);
  };
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
