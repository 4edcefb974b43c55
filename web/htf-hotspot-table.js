// The hotspots of a document as the worker hands them to the page: a few flat
// blocks instead of an object a hotspot, so that a million hotspots cross
// between the threads without parsing or copying (the blocks are
// transferred) and take a few tens of megabytes in the page.
//   packed: { count, rects: ArrayBuffer (int32 left, top, right, bottom a
//   hotspot), offsets: ArrayBuffer (uint32: hotspot i's reference is code
//   units offsets[2i] to offsets[2i+1] of chars, its text from there to
//   offsets[2i+2]), chars: ArrayBuffer (UTF-16 code units; a reference's are
//   its bytes, 0-255), charBytes: 1 when every unit is below 256 and chars
//   holds one byte a unit (the usual case, half the size), else 2 }
// The objects { left, top, right, bottom, reference, text } are made only
// for the hotspots asked for.

// Packs the core's hotspot table `table` (a pointer; 0 reads as empty) into
// buffers of its own, and the list of them to transfer.
export function packHotspots(core, table) {
  const count = table ? core._htf_hotspots_count(table) : 0;
  const units = table ? core._htf_hotspots_char_count(table) : 0;
  const charBytes = table && core._htf_hotspots_char_bytes(table) === 2 ? 2 : 1;
  const copy = (address, bytes) => (bytes ? core.HEAPU8.slice(address, address + bytes).buffer : new ArrayBuffer(0));
  const packed = {
    count,
    rects: copy(count && core._htf_hotspots_rects(table), 16 * count),
    offsets: copy(table && core._htf_hotspots_offsets(table), 4 * (2 * count + 1)),
    chars: copy(units && core._htf_hotspots_chars(table), charBytes * units),
    charBytes,
  };
  return { packed, transfer: [packed.rects, packed.offsets, packed.chars] };
}

// The packed form of no hotspots.
export function noHotspots() {
  return { count: 0, rects: new ArrayBuffer(0), offsets: new ArrayBuffer(4), chars: new ArrayBuffer(0), charBytes: 1 };
}

// Code units as a string, in pieces short enough for an argument list.
function unitsToString(units, from, to) {
  let out = '';
  for (let at = from; at < to; at += 8192) out += String.fromCharCode.apply(null, units.subarray(at, Math.min(to, at + 8192)));
  return out;
}

export class HotspotTable {
  constructor(packed = noHotspots()) {
    const count = Number(packed.count) >>> 0;
    this.rects = new Int32Array(packed.rects);
    this.offsets = new Uint32Array(packed.offsets);
    // Two bytes a unit unless the block says one (older messages say nothing).
    this.chars = packed.charBytes === 1 ? new Uint8Array(packed.chars) : new Uint16Array(packed.chars);
    // Blocks that do not hold `count` hotspots (a damaged message) hold none.
    const sound = this.rects.length === 4 * count && this.offsets.length === 2 * count + 1 &&
      this.offsets[2 * count] === this.chars.length && this.offsets.every((o, i, all) => i === 0 || o >= all[i - 1]);
    this.length = sound ? count : 0;
  }

  // Hotspot `index`'s rectangle as stored: left, top, right, bottom.
  left(index) { return this.rects[4 * index]; }
  top(index) { return this.rects[4 * index + 1]; }
  right(index) { return this.rects[4 * index + 2]; }
  bottom(index) { return this.rects[4 * index + 3]; }

  // The reference as a string of its bytes (code points 0-255).
  reference(index) { return unitsToString(this.chars, this.offsets[2 * index], this.offsets[2 * index + 1]); }
  text(index) { return unitsToString(this.chars, this.offsets[2 * index + 1], this.offsets[2 * index + 2]); }

  // Hotspot `index` as an object, undefined outside the list.
  at(index) {
    if (!(index >= 0 && index < this.length) || !Number.isInteger(index)) return undefined;
    return {
      left: this.left(index), top: this.top(index), right: this.right(index), bottom: this.bottom(index),
      reference: this.reference(index), text: this.text(index),
    };
  }

  *[Symbol.iterator]() {
    for (let i = 0; i < this.length; ++i) yield this.at(i);
  }
}

const INDEX = /^(?:0|[1-9]\d*)$/;

// A read-only-for-us array of `length` whose items `make(i)` builds at the
// first read of each: the page may use it as any array (index, length, map,
// iteration, JSON) without a million objects being made at once. Each call
// gives a list of its own, as a copy would be.
export function lazyList(length, make) {
  const target = new Array(length);
  const made = new Uint8Array(length);
  const unmade = (key) => typeof key === 'string' && INDEX.test(key) && Number(key) < target.length && !made[Number(key)];
  const fill = (key) => {
    if (!unmade(key)) return;
    made[Number(key)] = 1;
    target[key] = make(Number(key));
  };
  return new Proxy(target, {
    get(t, key, receiver) {
      fill(key);
      return Reflect.get(t, key, receiver);
    },
    has(t, key) {
      return unmade(key) || Reflect.has(t, key);
    },
    getOwnPropertyDescriptor(t, key) {
      fill(key);
      return Reflect.getOwnPropertyDescriptor(t, key);
    },
    // What the page deletes or sets itself stays as it left it.
    deleteProperty(t, key) {
      if (unmade(key)) made[Number(key)] = 1;
      return Reflect.deleteProperty(t, key);
    },
    defineProperty(t, key, descriptor) {
      if (unmade(key)) made[Number(key)] = 1;
      return Reflect.defineProperty(t, key, descriptor);
    },
    ownKeys(t) {
      for (let i = 0; i < Math.min(t.length, length); ++i) fill(String(i));
      return Reflect.ownKeys(t);
    },
  });
}
