// The plots of the monitor page: each address's samples kept in a ring, and
// every sample in the window drawn. `addresses` maps each address to its
// entry, whose `series` is a Series.
import { floatText } from "./osc_values.js";

const PLOTS = [
  { title: "Acceleration", addresses: ["/a/x", "/a/y", "/a/z"] },
  { title: "Gyroscope", addresses: ["/g/x", "/g/y", "/g/z"] },
  { title: "Rotation", addresses: ["/r/r", "/r/p", "/r/y"] },
];
const COLORS = ["#d62728", "#2a9d3a", "#1f6fd1"];
const CAPACITY = 1 << 16; // samples kept per address: 30 s at over 2,000 a second

// One address's samples in arrival order, oldest overwritten first.
export class Series {
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

// Plots: every sample in the window is drawn. Where there are more samples
// than pixels, each pixel column shows the span of the samples that fall in
// it, so no peak goes missing.
export const plots = [];
export function makePlots() {
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

export function fitCanvas(canvas) {
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

function plotRange(plot, from, addresses) {
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

export function drawPlot(plot, now, span, addresses) {
  const [g, width, height] = fitCanvas(plot.canvas);
  const from = now - span;
  const [low, high] = plotRange(plot, from, addresses);
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
