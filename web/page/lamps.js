// The joystick's pad with its trail and touch lamp, the buttons' lamps with
// their presses, and the latest gestures.
import { addresses, buttons, gestures, joystick } from "./page_state.js";
import { fitCanvas } from "./plots.js";

export function drawPad() {
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

export function makeButtons() {
  const list = document.getElementById("buttons");
  for (let i = 0; i < 10; i++) {
    const item = document.createElement("li");
    item.className = "lamp";
    list.append(item);
    buttons.push({ on: false, presses: 0, item, shown: "" });
  }
}

export function drawButtons() {
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
