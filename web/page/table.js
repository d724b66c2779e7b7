// The table of every address seen: its latest value exactly, its rate,
// smallest and largest.
import { addresses } from "./page_state.js";
import { valueText } from "./osc_values.js";

export function drawTable(now) {
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
