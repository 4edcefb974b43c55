// The worker's reading in parts through the WebAssembly core under node:
// hotspots and levels from the directories alone, tiles equal to the whole
// image's pixels, the level a scale needs, damaged and hostile documents, and
// the worker's messages with a server that answers ranges and one that does not.
//   node --test tests/web/   (HTF_WEB_DIR: the built build/web)
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import test from 'node:test';
import { fileURLToPath } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
const webDir = process.env.HTF_WEB_DIR || path.join(root, 'build', 'web');
const decoder = await import(path.join(webDir, 'htf-decoder.js'));
const { default: createHtfCore } = await import(path.join(webDir, 'htf-core.js'));
const { HotspotTable, packHotspots } = await import(path.join(webDir, 'htf-hotspot-table.js'));
const listed = (packed) => Array.from(new HotspotTable(packed));
const core = await createHtfCore({ wasmBinary: fs.readFileSync(path.join(webDir, 'htf-core.wasm')) });
const { LevelsDocument, MemoryRanges, DecoderWorker, checkRangeAnswer, FIRST_RANGE_BYTES } = decoder;

// --- A small TIFF writer: uncompressed tiles or one strip, levels chained
// (NewSubfileType 1) or as SubIFDs of the first image ---

// The hotspot tag's bytes of the example document (first directory, classic TIFF).
function exampleHotspotBytes() {
  const file = fs.readFileSync(path.join(root, 'examples', 'floorplan.htf'));
  const ifd = file.readUInt32LE(4), count = file.readUInt16LE(ifd);
  for (let e = 0; e < count; ++e) {
    const at = ifd + 2 + 12 * e;
    if (file.readUInt16LE(at) === 33577) {
      const n = file.readUInt32LE(at + 4);
      const from = n <= 4 ? at + 8 : file.readUInt32LE(at + 8);
      return new Uint8Array(file.subarray(from, from + n));
    }
  }
  throw new Error('no hotspot tag in the example');
}
const HOTSPOTS = exampleHotspotBytes();

// An image: width, height, kind ('bilevel' 1-bit MinIsWhite, 'grey' 8-bit,
// 'rgb'), pixel(x, y) -> value (0/1, 0-255, [r, g, b]), tile size or 0 for one strip.
function image(width, height, kind, pixel, tile = 256) {
  return { width, height, kind, pixel, tile };
}

function packRows(img, x0, y0, w, h) {
  const bits = img.kind === 'bilevel' ? 1 : img.kind === 'grey' ? 8 : 24;
  const rowBytes = Math.ceil(w * bits / 8), out = new Uint8Array(rowBytes * h);
  for (let y = 0; y < h; ++y) {
    for (let x = 0; x < w; ++x) {
      const inside = x0 + x < img.width && y0 + y < img.height;
      const v = inside ? img.pixel(x0 + x, y0 + y) : 0;
      if (bits === 1) { if (v) out[y * rowBytes + (x >> 3)] |= 0x80 >> (x & 7); }
      else if (bits === 8) out[y * rowBytes + x] = v;
      else out.set(inside ? v : [0, 0, 0], y * rowBytes + 3 * x);
    }
  }
  return out;
}

function writeTiff(images, { subIfds = false, hotspots = HOTSPOTS, patch = () => {} } = {}) {
  const bytes = [], u8 = (a) => { for (const b of a) bytes.push(b); };
  const le = (v, n) => Array.from({ length: n }, (_, i) => Math.floor(v / 2 ** (8 * i)) & 0xFF);
  u8([0x49, 0x49, 42, 0]); u8([0, 0, 0, 0]);
  const align = () => { if (bytes.length & 1) bytes.push(0); };
  // Pixel data first.
  const layouts = images.map((img) => {
    const tw = img.tile || img.width, th = img.tile || img.height;
    const offsets = [], counts = [];
    for (let y = 0; y < img.height; y += th) {
      for (let x = 0; x < img.width; x += tw) {
        const data = packRows(img, x, y, img.tile ? tw : img.width, img.tile ? th : img.height);
        align(); offsets.push(bytes.length); counts.push(data.length); u8(data);
      }
    }
    return { offsets, counts };
  });
  const writeIfd = (img, layout, index, next, extra) => {
    const bits = img.kind === 'bilevel' ? [1] : img.kind === 'grey' ? [8] : [8, 8, 8];
    const entries = [
      [254, 4, [index === 0 ? 0 : 1]], [256, 4, [img.width]], [257, 4, [img.height]], [258, 3, bits],
      [259, 3, [1]], [262, 3, [img.kind === 'bilevel' ? 0 : img.kind === 'grey' ? 1 : 2]],
      [277, 3, [bits.length]], [284, 3, [1]],
    ];
    if (img.tile) {
      entries.push([322, 4, [img.tile]], [323, 4, [img.tile]], [324, 4, layout.offsets], [325, 4, layout.counts]);
    } else {
      entries.push([273, 4, layout.offsets], [278, 4, [img.height]], [279, 4, layout.counts]);
    }
    entries.push(...extra);
    patch(entries, index);
    entries.sort((a, b) => a[0] - b[0]);
    const size = { 3: 2, 4: 4, 7: 1, 13: 4 };
    const outOfLine = entries.map(([, type, values]) => {
      const data = type === 7 ? Array.from(values) : values.flatMap((v) => le(v, size[type]));
      if (data.length <= 4) return data;
      align();
      const at = bytes.length; u8(data);
      return at;
    });
    align();
    const at = bytes.length;
    u8(le(entries.length, 2));
    entries.forEach(([tag, type, values], i) => {
      u8(le(tag, 2)); u8(le(type, 2)); u8(le(values.length, 4));
      const v = outOfLine[i];
      u8(typeof v === 'number' ? le(v, 4) : [...v, 0, 0, 0, 0].slice(0, 4));
    });
    u8(le(next, 4));
    return at;
  };
  const hotspotEntry = hotspots ? [[33577, 7, hotspots]] : [];
  let first;
  if (subIfds) {
    const subs = images.slice(1).map((img, i) => writeIfd(img, layouts[i + 1], i + 1, 0, []));
    first = writeIfd(images[0], layouts[0], 0, 0, [...hotspotEntry, ...(subs.length ? [[330, 4, subs]] : [])]);
  } else {
    let next = 0;
    for (let i = images.length - 1; i >= 0; --i) {
      next = writeIfd(images[i], layouts[i], i, next, i === 0 ? hotspotEntry : []);
    }
    first = next;
  }
  const out = new Uint8Array(bytes);
  new DataView(out.buffer).setUint32(4, first, true);
  return out;
}

// A source over bytes that counts what it is asked for.
class CountingRanges extends MemoryRanges {
  constructor(bytes) { super(bytes); this.reads = []; }
  read(offset, length) { this.reads.push([offset, length]); return super.read(offset, length); }
}

function wholeRead(bytes) {
  const input = core._htf_alloc(bytes.length);
  core.HEAPU8.set(bytes, input);
  const doc = core._htf_read(input, bytes.length);
  core._htf_free(input);
  const result = {
    width: core._htf_doc_width(doc), height: core._htf_doc_height(doc), bits: core._htf_doc_bits(doc),
    rowBytes: core._htf_doc_row_bytes(doc), hotspots: listed(packHotspots(core, core._htf_doc_hotspots(doc)).packed),
  };
  const p = core._htf_doc_pixels(doc), q = core._htf_doc_palette(doc);
  result.pixels = core.HEAPU8.slice(p, p + core._htf_doc_pixel_bytes(doc));
  result.palette = new Uint32Array(core.HEAPU8.slice(q, q + 4 * core._htf_doc_palette_count(doc)).buffer);
  core._htf_doc_release(doc);
  return result;
}

// Every tile of level 0 against the same rows of the whole image.
function assertTilesMatchWhole(doc, whole, label) {
  const l = doc.levels[0], bytesPerPixel = whole.bits / 8;
  for (let row = 0; row * l.tileHeight < l.height; ++row) {
    for (let column = 0; column * l.tileWidth < l.width; ++column) {
      const tile = doc.tile(0, column, row), pixels = new Uint8Array(tile.pixels);
      assert.equal(tile.bits, whole.bits, label);
      assert.deepEqual(new Uint32Array(tile.palette), whole.palette, `${label}: palette`);
      for (let y = 0; y < tile.height; ++y) {
        const from = (tile.y + y) * whole.rowBytes + tile.x * bytesPerPixel;
        const rowBytes = Math.ceil(tile.width * bytesPerPixel);
        const expected = whole.pixels.subarray(from, from + rowBytes);
        const got = pixels.subarray(y * tile.rowBytes, y * tile.rowBytes + rowBytes);
        if (Buffer.compare(Buffer.from(got), Buffer.from(expected)) !== 0) {
          assert.fail(`${label}: tile ${column},${row} row ${y} differs from the whole image`);
        }
      }
    }
  }
}

const greyPixel = (x, y) => (x * 7 + y * 3 + ((x >> 5) ^ (y >> 5)) * 40) & 0xFF;
const bilevelPixel = (x, y) => ((x + y) % 9 === 0 || x % 97 === 0) ? 1 : 0;
const rgbPixel = (x, y) => [x & 0xFF, y & 0xFF, (x ^ y) & 0xFF];
const pyramid = (w, h, kind, pixel, tile = 256) => {
  const images = [image(w, h, kind, pixel, tile)];
  for (let s = 2; w / s >= 64; s *= 2) {
    images.push(image(Math.ceil(w / s), Math.ceil(h / s), kind, (x, y) => pixel(x * s, y * s), tile));
  }
  return images;
};

test('the directories and hotspots come before any pixel; tiles are the whole image\'s pixels', () => {
  for (const [kind, pixel] of [['grey', greyPixel], ['bilevel', bilevelPixel], ['rgb', rgbPixel]]) {
    for (const subIfds of [false, true]) {
      const label = `${kind}${subIfds ? ', SubIFDs' : ''}`;
      const bytes = writeTiff(pyramid(700, 530, kind, pixel), { subIfds });
      const source = new CountingRanges(bytes);
      const doc = new LevelsDocument(core, source);
      const whole = wholeRead(bytes);
      const hotspots = listed(doc.hotspots().packed);
      assert.deepEqual(hotspots, whole.hotspots, label);
      assert.ok(hotspots.length > 0, label);
      assert.deepEqual(doc.levels.map((l) => [l.width, l.height, l.tiled]),
        [[700, 530, true], [350, 265, true], [175, 133, true], [88, 67, true]], label);
      // The directories sit after the pixels here: opening read blocks of
      // the directories only, never the first tile's bytes in the middle.
      const firstTile = 8, lastPixel = bytes.length - 4096;
      assert.ok(source.reads.every(([o, n]) => o + n <= firstTile + 16384 || o + n > lastPixel - 16384), label);
      assertTilesMatchWhole(doc, whole, label);
      doc.release();
    }
  }
});

test('a document htfmake makes again with levels reads through ranges: hotspots from its first bytes, the same pixels', () => {
  // htfmake built for this machine beside the element (scripts/build: build/htfmake).
  const htfmake = path.join(webDir, '..', 'htfmake', 'htfmake');
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'htfmake-levels-'));
  try {
    for (const [kind, pixel] of [['grey', greyPixel], ['bilevel', bilevelPixel], ['rgb', rgbPixel]]) {
      const striped = writeTiff([image(700, 530, kind, pixel, 0)]);
      const input = path.join(dir, `${kind}.htf`), output = path.join(dir, `${kind}-levels.htf`);
      fs.writeFileSync(input, striped);
      execFileSync(htfmake, ['--tiles', '64', '--levels', input, output]);
      const bytes = new Uint8Array(fs.readFileSync(output));
      const source = new CountingRanges(bytes);
      const doc = new LevelsDocument(core, source);
      const hotspots = listed(doc.hotspots().packed);
      assert.deepEqual(hotspots, wholeRead(striped).hotspots, kind);
      assert.ok(hotspots.length > 0, kind);
      assert.deepEqual(doc.levels.map((l) => [l.width, l.height, l.tiled]),
        [[700, 530, true], [350, 265, true], [175, 133, true], [88, 67, true], [44, 34, true]], kind);
      assert.ok(source.reads.every(([o, n]) => o + n <= FIRST_RANGE_BYTES), `${kind}: opened from its first bytes`);
      // The first image is the striped one's, pixel for pixel.
      const whole = wholeRead(striped);
      assert.deepEqual(wholeRead(bytes).pixels, whole.pixels, kind);
      assertTilesMatchWhole(doc, whole, kind);
      doc.release();
    }
  } finally {
    fs.rmSync(dir, { recursive: true, force: true });
  }
});

// A hotspot stream of [reference, text, left, top, right, bottom] records.
function hotspotStream(records) {
  const out = [], u32 = (v) => out.push(v & 0xFF, (v >>> 8) & 0xFF, (v >>> 16) & 0xFF, v >>> 24);
  const narrow = (text) => { u32(text.length); for (const ch of text) out.push(ch.charCodeAt(0)); };
  const wide = (text) => { u32(2 * text.length); for (let i = 0; i < text.length; ++i) out.push(text.charCodeAt(i) & 0xFF, text.charCodeAt(i) >> 8); };
  for (const ch of 'QELHTF') out.push(ch.charCodeAt(0));
  narrow('1.0');
  u32(records.length);
  for (const [reference, text, ...edges] of records) {
    narrow('GM'); narrow(reference); narrow(''); wide(text);
    edges.forEach(u32);
  }
  return Uint8Array.from(out);
}

test('hotspot texts keep every unit whether the table holds them in one byte or two, both ways in', () => {
  const latin = [['A1', 'caf\u00e9', 1, 2, 30, 40], ['', 'no reference', 0, 0, 5, 5], ['B\u00ff', '', -5, 7, -9, 60]];
  const cases = [
    ['Latin texts', latin, 1],
    ['a wide text after Latin ones', [...latin, ['C', '\u0416 \ud83d\ude00', 3, 3, 9, 9], ['D', 'd\u00e9', 1, 1, 2, 2]], 2],
    ['a wide text first', [['W', '\u4e2d', 0, 0, 1, 1], ...latin], 2],
  ];
  for (const [label, records, charBytes] of cases) {
    const bytes = writeTiff([image(64, 48, 'grey', greyPixel, 0)], { hotspots: hotspotStream(records) });
    const expected = records.filter(([reference]) => reference).map(([reference, text, left, top, right, bottom]) =>
      ({ left, top, right, bottom, reference, text }));
    assert.deepEqual(wholeRead(bytes).hotspots, expected, `${label}: whole`);
    const doc = new LevelsDocument(core, new MemoryRanges(bytes));
    const { packed } = doc.hotspots();
    doc.release();
    assert.equal(packed.charBytes, charBytes, label);
    assert.deepEqual(listed(packed), expected, `${label}: by parts`);
  }
});

test('a view takes the smallest level at least as fine as its scale, the first image from 1:1', () => {
  const doc = new LevelsDocument(core, new MemoryRanges(writeTiff(pyramid(1024, 768, 'grey', greyPixel))));
  for (const [scale, level] of [[4, 0], [1, 0], [0.9, 0], [0.5, 1], [0.49, 1], [0.25, 2], [0.2, 2],
    [0.125, 3], [0.0625, 4], [0.01, 4]]) {
    assert.equal(doc.levelFor(scale), level, `scale ${scale}`);
  }
  assert.deepEqual(doc.tilesFor(0, 300, 0, 600, 100), { c0: 1, r0: 0, c1: 2, r1: 0 });
  assert.deepEqual(doc.tilesFor(1, 0, 0, 1024, 768), { c0: 0, r0: 0, c1: 1, r1: 1 });
  doc.release();
  // A striped first image larger than the budget: a coarser level, or none.
  const striped = writeTiff([image(600, 400, 'grey', greyPixel, 0), image(300, 200, 'grey', greyPixel, 0)]);
  const small = new LevelsDocument(core, new MemoryRanges(striped), { memoryLimit: 100000 });
  assert.deepEqual([small.levelFor(1), small.levelFor(0.5)], [1, 1]);
  small.release();
  const tiny = new LevelsDocument(core, new MemoryRanges(striped), { memoryLimit: 1000 });
  assert.equal(tiny.levelFor(1), -1);
  tiny.release();
});

test('hostile documents end with a clear error or without the bad level, in bounded memory', () => {
  const base = pyramid(512, 512, 'grey', greyPixel);
  const cases = [
    ['tile offsets past the end', { patch: (e, i) => { if (i === 0) e.find((x) => x[0] === 324)[2][0] = 1e9; } },
      (doc) => assert.match(doc.tile(0, 0, 0).error, /./)],   // the tile stays blank, the error is told
    ['a reduced image pointing back to the first', { patch: () => {} , chainBack: true },
      (doc) => assert.equal(doc.levels.length >= 1, true)],
    ['a tile 4160749569 rows tall', { patch: (e, i) => { if (i === 0) e.find((x) => x[0] === 323)[2][0] = 4160749569; } },
      (doc) => { try { doc.tile(0, 0, 0); } catch (error) { assert.match(error.message, /./); } }],
    ['a level as large as the first image', { patch: (e, i) => {
      if (i === 1) { e.find((x) => x[0] === 256)[2][0] = 512; e.find((x) => x[0] === 257)[2][0] = 512; }
    } }, (doc) => assert.ok(doc.levels.slice(1).every((l) => l.width < 512))],
  ];
  for (const [label, options, check] of cases) {
    let bytes = writeTiff(base, options);
    if (options.chainBack) {
      // The last directory's next pointer leads back to the first one.
      const view = new DataView(bytes.buffer), first = view.getUint32(4, true);
      let ifd = first;
      for (;;) {
        const next = ifd + 2 + 12 * view.getUint16(ifd, true);
        if (view.getUint32(next, true) === 0) { view.setUint32(next, first, true); break; }
        ifd = view.getUint32(next, true);
      }
    }
    const heapBefore = core.HEAPU8.length;
    let doc;
    try {
      doc = new LevelsDocument(core, new MemoryRanges(bytes));
    } catch (error) {
      assert.match(error.message, /./, label);
      continue;
    }
    check(doc);
    doc.release();
    assert.ok(core.HEAPU8.length - heapBefore < 80 << 20, `${label}: the core's memory grew by ${core.HEAPU8.length - heapBefore}`);
  }
  // Not a TIFF file at all.
  assert.throws(() => new LevelsDocument(core, new MemoryRanges(new Uint8Array(100))), /./);
});

test('a source that fails part way gives the source\'s error, not a hang', () => {
  const bytes = writeTiff(pyramid(512, 512, 'grey', greyPixel));
  const source = new MemoryRanges(bytes);
  const doc = new LevelsDocument(core, source);
  source.read = () => { throw new decoder.RangeReadError('12 bytes came for bytes 4096-8191'); };
  assert.throws(() => doc.tile(0, 1, 1), /could not be read: 12 bytes came/);
  assert.throws(() => doc.tile(0, 0, 1), /could not be read/);
  doc.release();
});

test('range answers are checked: bytes, Content-Range and size', () => {
  const rows = [
    [[0, 99, 'bytes 0-99/1000', 100, undefined], 1000],
    [[900, 1999, 'bytes 900-999/1000', 100, 1000], 1000],   // clipped at the end
    [[0, 99, 'bytes 1-100/1000', 100, undefined], /came for bytes 0-99/],
    [[0, 99, 'bytes 0-99/1000', 50, undefined], /50 bytes came/],
    [[0, 99, '', 100, undefined], /no usable Content-Range/],
    [[0, 99, 'bytes 0-99/2000', 100, 1000], /changed/],
    [[0, 99, 'bytes 0-99/*', 100, undefined], /size/],
  ];
  for (const [args, expected] of rows) {
    if (typeof expected === 'number') assert.equal(checkRangeAnswer(...args), expected, args.join(' '));
    else assert.throws(() => checkRangeAnswer(...args), expected, args.join(' '));
  }
});

// --- The worker's messages, with a stand-in server ---

// fetch and XMLHttpRequest over `bytes`: ranges (206) or not (200), and a
// damaged answer after `damageAfter` when asked; `log` gets the bytes sent.
function standInServer(bytes, { ranges = true, damage = null, damageAfter = Infinity } = {}) {
  const log = [];
  const answer = (rangeHeader) => {
    const m = /bytes=(\d+)-(\d+)/.exec(rangeHeader || '');
    if (!ranges || !m) { log.push(bytes.length); return { status: 200, body: bytes, headers: {} }; }
    const first = Number(m[1]), last = Math.min(Number(m[2]), bytes.length - 1);
    let body = bytes.subarray(first, last + 1), contentRange = `bytes ${first}-${last}/${bytes.length}`;
    if (damage && first >= damageAfter) {
      if (damage === 'short') body = body.subarray(0, body.length >> 1);
      else contentRange = `bytes ${first + 1}-${last + 1}/${bytes.length}`;
    }
    log.push(body.length);
    return { status: 206, body, headers: { 'content-range': contentRange } };
  };
  const fetchImpl = async (url, init = {}) => {
    const a = answer(init.headers && init.headers.Range);
    return new Response(a.body.slice(), { status: a.status, headers: a.headers });
  };
  class FakeXhr {
    open(method, url, async) { assert.equal(async, false); this.url = url; }
    setRequestHeader(name, value) { this.range = value; }
    send() { const a = answer(this.range); this.status = a.status; this.response = a.body.slice().buffer; this.h = a.headers; }
    getResponseHeader(name) { return this.h[name.toLowerCase()] ?? null; }
  }
  return { log, fetchImpl, FakeXhr, sent: () => log.reduce((a, b) => a + b, 0) };
}

async function run(server, messages) {
  globalThis.XMLHttpRequest = server.FakeXhr;
  const out = [];
  const worker = new DecoderWorker(core, (message) => out.push(message), { fetchImpl: server.fetchImpl });
  for (const message of messages) await worker.handle(message);
  return out;
}

test('the worker sends the hotspots first, then the tiles of a view, and reads few bytes with ranges', async () => {
  const images = pyramid(4096, 4096, 'bilevel', bilevelPixel);
  const bytes = writeTiff(images);
  for (const ranges of [true, false]) {
    const server = standInServer(bytes, { ranges });
    const out = await run(server, [
      { type: 'open', id: 1, src: 'http://h/doc.htf' },
      { type: 'view', id: 1, view: 1, scale: 1, left: 0, top: 0, right: 300, bottom: 300 },
      { type: 'view', id: 1, view: 2, scale: 0.05, left: 0, top: 0, right: 4096, bottom: 4096 },
      { type: 'close', id: 1 },
    ]);
    const types = out.map((m) => m.type).filter((t) => t !== 'progress');
    assert.equal(types[0], 'hotspots', `ranges ${ranges}`);
    const opened = out.find((m) => m.type === 'hotspots');
    assert.ok(opened.hotspots.count > 0);
    assert.equal(opened.ranged, ranges);
    assert.deepEqual(out.filter((m) => m.type === 'tile').map((m) => [m.view, m.level, m.column, m.row]),
      [[1, 0, 0, 0], [1, 0, 1, 0], [1, 0, 0, 1], [1, 0, 1, 1], [2, 4, 0, 0]]);
    const corner = out.find((m) => m.type === 'tile');
    const expected = new Uint8Array(packRows(images[0], 0, 0, 256, 256));
    assert.deepEqual(new Uint8Array(corner.pixels), expected, 'the corner tile\'s pixels');
    assert.deepEqual(types.slice(-1), ['closed']);
    if (ranges) assert.ok(server.sent() < bytes.length * 0.1, `${server.sent()} of ${bytes.length} bytes sent`);
    else assert.equal(server.sent(), bytes.length);
  }
});

test('damaged range answers, a download over the cap and a replaced document end with clear errors', async () => {
  const bytes = writeTiff(pyramid(2048, 2048, 'grey', greyPixel));
  for (const damage of ['short', 'wrong-range']) {
    const out = await run(standInServer(bytes, { damage, damageAfter: FIRST_RANGE_BYTES }), [
      { type: 'open', id: 7, src: 'http://h/doc.htf' },
      { type: 'view', id: 7, view: 1, scale: 1, left: 0, top: 0, right: 2048, bottom: 2048 },
    ]);
    const error = out.find((m) => m.type === 'error');
    assert.ok(error, damage);
    assert.match(error.message, /could not be read: .*(bytes came|came for bytes)/, damage);
  }
  const capped = await run(standInServer(bytes, { ranges: false }), [
    { type: 'open', id: 2, src: 'http://h/doc.htf', downloadLimit: 100000 },
  ]);
  assert.deepEqual(capped.map((m) => m.type), ['error']);
  assert.match(capped[0].message, /larger than the 100000 bytes a download may take/);
  // A close while a view is still sending its tiles ends the view: it
  // arrives here as the first tile goes out.
  globalThis.XMLHttpRequest = standInServer(bytes).FakeXhr;
  const out = [];
  let worker = null;
  const post = (m) => {
    out.push(m);
    if (m.type === 'tile' && out.filter((x) => x.type === 'tile').length === 1) worker.handle({ type: 'close', id: 3 });
  };
  worker = new DecoderWorker(core, post, { fetchImpl: standInServer(bytes).fetchImpl });
  await worker.handle({ type: 'open', id: 3, src: 'http://h/doc.htf' });
  await worker.handle({ type: 'view', id: 3, view: 1, scale: 1, left: 0, top: 0, right: 2048, bottom: 2048 });
  const done = out.find((m) => m.type === 'view-done');
  assert.equal(done.cancelled, true);
  assert.equal(out.filter((m) => m.type === 'tile').length, 1);
  assert.equal(out.filter((m) => m.type === 'closed').length, 1);
});

test('a striped image is decoded once in the worker and drawn at the view\'s scale as the page would', async () => {
  const striped = image(700, 530, 'bilevel', bilevelPixel, 0);
  const bytes = writeTiff([striped]);
  const server = standInServer(bytes);
  const out = await run(server, [
    { type: 'open', id: 1, src: 'http://h/doc.htf' },
    { type: 'view', id: 1, view: 1, scale: 0.5, left: 0, top: 0, right: 700, bottom: 530 },
    { type: 'view', id: 1, view: 2, scale: 2, left: 100, top: 100, right: 200, bottom: 150 },
  ]);
  const tiles = out.filter((m) => m.type === 'tile');
  assert.deepEqual(tiles.filter((t) => t.view === 1).map((t) => [t.rendered, t.x, t.y, t.width, t.height]),
    [[true, 0, 0, 256, 256], [true, 256, 0, 94, 256], [true, 0, 256, 256, 9], [true, 256, 256, 94, 9]]);
  assert.deepEqual(tiles.filter((t) => t.view === 2).map((t) => [t.column, t.row, t.scaledWidth]), [[0, 0, 1400], [1, 0, 1400], [0, 1, 1400], [1, 1, 1400]]);   // 200-400 x 200-300 on the screen
  // The page's own sampler over the whole image gives the same pixels.
  const whole = wholeSampler(bytes);
  for (const t of tiles) {
    assert.deepEqual(new Uint8Array(t.pixels), whole.tile(t.x, t.y, t.width, t.height, t.scaledWidth, t.scaledHeight),
      `view ${t.view} tile ${t.column},${t.row}`);
  }
  whole.release();
});

// The page's sampler over the whole image of `bytes`: tile(...) gives RGBA bytes.
function wholeSampler(bytes) {
  const whole = wholeRead(bytes);
  const img = core._htf_image_make(whole.width, whole.height, whole.bits, whole.rowBytes);
  core.HEAPU8.set(whole.pixels, core._htf_image_pixels(img));
  new Uint32Array(core.HEAPU8.buffer, core._htf_image_palette(img), whole.palette.length).set(whole.palette);
  core._htf_image_ready(img);
  return {
    tile: (x, y, w, h, sw, sh) => renderWith((out) => core._htf_image_tile(img, x, y, w, h, sw, sh, out), w * h * 4),
    release: () => core._htf_image_release(img),
  };
}

function renderWith(draw, bytes) {
  const buffer = core._htf_alloc(bytes);
  try {
    assert.equal(draw(buffer), 1);
    return core.HEAPU8.slice(buffer, buffer + bytes);
  } finally {
    core._htf_free(buffer);
  }
}

test('a large drawing decoded a band at a time keeps its thin lines at every stage of its reduced plane', () => {
  // Wider than 4096 pixels: its fitted views sample the plane reduced 8 times.
  const bytes = writeTiff([image(4200, 100, 'bilevel', (x, y) => ((x * 7 + y * 13) % 97 === 0 ? 1 : 0), 0)]);
  const doc = new LevelsDocument(core, new MemoryRanges(bytes), {});
  const rows = core._htf_levels_rows_begin(doc.doc, 0);
  const whole = wholeSampler(bytes);
  try {
    // Drawn first with 43 rows decoded, then again once all are: the scaled
    // rows over decoded cells are right at once, all of them at the end.
    const fit = [0, 0, 256, 10, 420, 10];
    assert.equal(core._htf_levels_rows_decode(doc.doc, rows, 43), 43);
    const early = renderWith((out) => core._htf_tile_render(rows, ...fit, out), 256 * 10 * 4);
    const expected = whole.tile(...fit);
    assert.deepEqual(early.subarray(0, 256 * 4 * 4), expected.subarray(0, 256 * 4 * 4), 'rows 0-39 with 43 decoded');
    assert.equal(core._htf_levels_rows_decode(doc.doc, rows, 100), 100);
    assert.deepEqual(renderWith((out) => core._htf_tile_render(rows, ...fit, out), 256 * 10 * 4), expected);
  } finally {
    whole.release();
    core._htf_levels_rows_end(doc.doc);
    core._htf_tile_release(rows);
    doc.release();
  }
});

test('a whole document whose image would pass the memory budget is too large, with its hotspots', async () => {
  const bytes = writeTiff([image(2000, 1000, 'grey', greyPixel, 256)]);
  const [small] = await run(standInServer(bytes), [{ id: 5, bytes: bytes.slice().buffer, memoryLimit: 1000000 }]);
  assert.deepEqual([small.opened, small.hasImage, small.tooLarge, small.fileWidth], [true, false, true, 2000]);
  assert.ok(new HotspotTable(small.hotspots).length > 0);
  assert.equal(small.pixels, undefined);
  const [fits] = await run(standInServer(bytes), [{ id: 6, bytes: bytes.slice().buffer, memoryLimit: 2000000 }]);
  assert.deepEqual([fits.hasImage, fits.width, fits.height], [true, 2000, 1000]);
});

test('a core call that traps: the worker drops that core and its documents, the next document gets a new one', async () => {
  const bytes = writeTiff(pyramid(1024, 1024, 'bilevel', bilevelPixel));
  const server = standInServer(bytes);
  globalThis.XMLHttpRequest = server.FakeXhr;
  const trapping = new Proxy(core, {
    get: (target, key) => (key === '_htf_levels_tile'
      ? () => { throw new WebAssembly.RuntimeError('memory access out of bounds'); } : target[key]),
    set: (target, key, value) => { target[key] = value; return true; },
  });
  const out = [];
  let made = 0;
  const worker = new DecoderWorker(trapping, (message) => out.push(message),
    { fetchImpl: server.fetchImpl, makeCore: async () => { ++made; return core; } });
  const view = (id) => ({ type: 'view', id, view: 1, scale: 1, left: 0, top: 0, right: 100, bottom: 100 });
  for (const message of [{ type: 'open', id: 1, src: 'http://h/a.htf' }, { type: 'open', id: 2, src: 'http://h/b.htf' },
    view(1), view(2), { type: 'open', id: 3, src: 'http://h/c.htf' }, view(3)]) await worker.handle(message);
  const errors = out.filter((m) => m.type === 'error').map((m) => [m.id, m.message]);
  // The trapped document and the other one on the same core end; the core is not called again.
  assert.deepEqual(errors.slice(0, 2).map(([id]) => id).sort(), [1, 2]);
  assert.ok(errors.every(([id, message]) => id === 2 || /reader failed: memory access out of bounds/.test(message)), errors);
  assert.equal(made, 1);
  assert.equal(worker.core, core);
  assert.deepEqual(out.filter((m) => m.type === 'tile').map((m) => [m.id, m.level, m.column, m.row]), [[3, 0, 0, 0]]);
});

test('a striped colour image that breaks off part way is black all over, and the page is told to draw it again', async () => {
  // The strip starts half way into its pixels: its second half lies past the end of the file.
  const bytes = writeTiff([image(300, 200, 'rgb', rgbPixel, 0)], {
    patch: (entries) => { const offsets = entries.find(([tag]) => tag === 273); offsets[2] = [offsets[2][0] + 90000]; },
  });
  const out = await run(standInServer(bytes), [
    { type: 'open', id: 1, src: 'http://h/doc.htf' },
    { type: 'view', id: 1, view: 1, scale: 1, left: 0, top: 0, right: 300, bottom: 200 },
  ]);
  assert.ok(out.some((m) => m.type === 'redraw'), out.map((m) => m.type).join());
  const tiles = out.filter((m) => m.type === 'tile');
  assert.equal(tiles.length, 2);
  for (const t of tiles) {
    const words = new Uint32Array(t.pixels);
    assert.ok(words.every((w) => w === 0xFF000000), `tile ${t.column},${t.row} is not black`);
    assert.match(t.error, /./);
  }
});

test('a striped image whose memory cannot be made stops the strips\' request it started', async () => {
  const bytes = writeTiff([image(300, 300, 'rgb', rgbPixel, 0)]);
  const server = standInServer(bytes);
  const signals = [];
  const fetchImpl = (url, init = {}) => { if (init.signal) signals.push(init.signal); return server.fetchImpl(url, init); };
  const noMemory = new Proxy(core, {
    get: (target, key) => (key === '_htf_levels_rows_begin' ? () => 0 : target[key]),
    set: (target, key, value) => { target[key] = value; return true; },
  });
  globalThis.XMLHttpRequest = server.FakeXhr;
  const out = [];
  const worker = new DecoderWorker(noMemory, (message) => out.push(message), { fetchImpl });
  await worker.handle({ type: 'open', id: 1, src: 'http://h/doc.htf' });
  await worker.handle({ type: 'view', id: 1, view: 1, scale: 1, left: 0, top: 0, right: 300, bottom: 300 });
  assert.ok(signals.length > 0 && signals.every((s) => s.aborted), `${signals.length} requests, all stopped`);
  assert.match(out.find((m) => m.type === 'error').message, /Not enough memory to decode the image/);
});
