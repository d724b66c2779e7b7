// The relay's OSC packets read, and the values they hold shown exactly.

// The shortest decimal that reads back as the same 32-bit float.
export function floatText(x) {
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
export function valueOf(type, bits) {
  bitsView.setUint32(0, bits);
  return type === "f" ? bitsView.getFloat32(0) : bitsView.getInt32(0);
}
export function valueText(type, value) {
  return type === "f" ? floatText(value) : String(value);
}


// Reads an OSC packet: a bundle's elements in turn, or one message whose
// single argument is a 32-bit integer or float, handed to `take` as
// (address, type, bits). Anything else is skipped; a string that runs past
// the end throws a RangeError.
function readString(view, at, end) {
  let stop = at;
  while (stop < end && view.getUint8(stop) !== 0) stop++;
  if (stop >= end) throw new RangeError("unterminated string");
  let text = "";
  for (let i = at; i < stop; i++) text += String.fromCharCode(view.getUint8(i));
  return [text, (stop + 4) & ~3];
}
export function readPacket(view, at, end, take, depth = 0) {
  if (depth > 8 || end - at < 4) return;
  if (end - at >= 16 && view.getUint32(at) === 0x2362756e && view.getUint32(at + 4) === 0x646c6500) {
    for (let i = at + 16; i + 4 <= end;) {
      const size = view.getUint32(i);
      if (size > end - i - 4) return;
      readPacket(view, i + 4, i + 4 + size, take, depth + 1);
      i += 4 + size;
    }
    return;
  }
  const [address, tagsAt] = readString(view, at, end);
  const [tags, argumentAt] = readString(view, tagsAt, end);
  if ((tags === ",f" || tags === ",i") && argumentAt + 4 <= end) {
    take(address, tags[1], view.getUint32(argumentAt));
  }
}
