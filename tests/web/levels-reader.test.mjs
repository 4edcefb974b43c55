// The worker's reading in parts through the WebAssembly core under node:
// hotspots and levels from the directories alone, tiles equal to the whole
// image's pixels, the level a scale needs, damaged and hostile documents, the
// worker's messages with a server that answers ranges and one that does not,
// and levels in tiles far smaller than the screen's drawn in the worker.
//   node --test tests/web/   (HTF_WEB_DIR: the built build/web)
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import test from 'node:test';
import { fileURLToPath } from 'node:url';

import { coreWasm } from '../../web/htf-core-file.js';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
const webDir = process.env.HTF_WEB_DIR || path.join(root, 'build', 'web');
const decoder = await import(path.join(webDir, 'htf-decoder.js'));
const { default: createHtfCore } = await import(path.join(webDir, 'htf-core.js'));
const { HotspotTable, packHotspots } = await import(path.join(webDir, 'htf-hotspot-table.js'));
const listed = (packed) => Array.from(new HotspotTable(packed));
const core = await createHtfCore({ wasmBinary: fs.readFileSync(path.join(webDir, coreWasm)) });
const { LevelsDocument, MemoryRanges, DecoderWorker, checkRangeAnswer, FIRST_RANGE_BYTES } = decoder;
import { bilevelPixel, greyPixel, image, packRows, pyramid, rgbPixel, writeTiff } from './tiff-fixtures.mjs';

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

// Tiled levels whose tiles are far smaller than the screen's: the worker
// draws the view at its scale, one message a drawn tile of TILE x TILE
// screen pixels, whatever the tiling and the number of levels; the pixels
// are those of the level drawn whole by the page's sampler. Where the
// level's tiles are large enough on the screen, they still come as they are.
test('a level in tiles far smaller than the screen\'s is drawn in the worker, as many messages as the screen has tiles', async () => {
  const tiny = image(2048, 2048, 'bilevel', bilevelPixel, 16);
  const tinyBytes = writeTiff([tiny]);
  // Levels each half the one before, all in tiles of 16.
  const levels = [tiny];
  for (let s = 2; 2048 / s >= 64; s *= 2) levels.push(image(2048 / s, 2048 / s, 'bilevel', (x, y) => bilevelPixel(x * s, y * s), 16));
  const wide = image(4200, 2600, 'bilevel', (x, y) => ((x * 7 + y * 13) % 97 === 0 ? 1 : 0), 16);
  const rgb = image(600, 360, 'rgb', rgbPixel, 16), grey = image(1000, 700, 'grey', greyPixel, 16);
  const cases = [
    // label, document, [scale, left, top, right, bottom], level, drawn tiles
    // [x, y, width, height] (or level tiles sent: a count), bytes sent at most
    ['fit, no reduced level', tinyBytes, [0.25, 0, 0, 2048, 2048], 0,
      [[0, 0, 256, 256], [256, 0, 256, 256], [0, 256, 256, 256], [256, 256, 256, 256]], 1],
    ['a part at 1:1', tinyBytes, [1, 100, 100, 700, 500], 0,
      [[0, 0, 256, 256], [256, 0, 256, 256], [512, 0, 256, 256], [0, 256, 256, 256], [256, 256, 256, 256],
        [512, 256, 256, 256]], 0.5],
    ['a part at 4:1: tiles of 64 x 64 on the screen', tinyBytes, [4, 0, 0, 100, 60], 0,
      [[0, 0, 256, 256], [256, 0, 256, 256]], 0.1],
    ['at 8:1 its tiles cover 128 x 128 on the screen and come as they are', tinyBytes, [8, 0, 0, 100, 60], 0, 28, 0.1],
    ['many levels, each in tiles of 16', writeTiff(levels), [0.3, 0, 0, 2048, 2048], 1,
      [[0, 0, 256, 256], [256, 0, 256, 256], [512, 0, 102, 256], [0, 256, 256, 256], [256, 256, 256, 256],
        [512, 256, 102, 256], [0, 512, 256, 102], [256, 512, 256, 102], [512, 512, 102, 102]], 1],
    ['wider than 4096: the reduced plane follows each row of tiles', writeTiff([wide]), [0.1, 0, 0, 4200, 2600], 0,
      [[0, 0, 256, 256], [256, 0, 164, 256], [0, 256, 256, 4], [256, 256, 164, 4]], 1],
    ['colour', writeTiff([rgb]), [0.5, 0, 0, 600, 360], 0, [[0, 0, 256, 180], [256, 0, 44, 180]], 1],
    ['grey, the last tiles cut by the edges', writeTiff([grey]), [0.3, 0, 0, 1000, 700], 0,
      [[0, 0, 256, 210], [256, 0, 44, 210]], 1],
    ['grey, scrolled: the first drawn tile starts on the last pixel of a level tile', writeTiff([grey]),
      [0.616, 420, 420, 1000, 700], 0, [[256, 256, 256, 175], [512, 256, 104, 175]], 1],
  ];
  for (const [label, bytes, [scale, left, top, right, bottom], level, expected, share] of cases) {
    const server = standInServer(bytes);
    const out = await run(server, [
      { type: 'open', id: 1, src: 'http://h/doc.htf' },
      { type: 'view', id: 1, view: 1, scale, left, top, right, bottom },
    ]);
    const done = out.find((m) => m.type === 'view-done');
    assert.ok(done, `${label}: ${JSON.stringify(out.find((m) => m.type === 'error'))}`);
    const tiles = out.filter((m) => m.type === 'tile');
    assert.ok(tiles.every((t) => t.level === level && !t.error), label);
    if (typeof expected === 'number') {
      assert.deepEqual([done.rendered, tiles.length, tiles.some((t) => t.rendered)], [false, expected, false], label);
    } else {
      assert.equal(done.rendered, true, label);
      assert.deepEqual(tiles.map((t) => [t.x, t.y, t.width, t.height]), expected, label);
      const whole = wholeSampler(level ? writeTiff([levels[level]]) : bytes);
      try {
        for (const t of tiles) {
          assert.ok(t.rendered, label);
          const got = new Uint8Array(t.pixels);
          const want = whole.tile(t.x, t.y, t.width, t.height, t.scaledWidth, t.scaledHeight);
          if (Buffer.compare(Buffer.from(got), Buffer.from(want)) !== 0) {
            assert.fail(`${label}: drawn tile ${t.column},${t.row} differs from the level drawn whole`);
          }
        }
      } finally {
        whole.release();
      }
    }
    assert.ok(server.sent() <= bytes.length * share + FIRST_RANGE_BYTES, `${label}: ${server.sent()} of ${bytes.length} bytes sent`);
  }
  // Damaged answers for the tiles end the drawn view with a clear error.
  for (const damage of ['short', 'wrong-range']) {
    const out = await run(standInServer(tinyBytes, { damage, damageAfter: FIRST_RANGE_BYTES }), [
      { type: 'open', id: 1, src: 'http://h/doc.htf' },
      { type: 'view', id: 1, view: 1, scale: 0.25, left: 0, top: 0, right: 2048, bottom: 2048 },
    ]);
    assert.deepEqual(out.filter((m) => m.type === 'tile' || m.type === 'view-done'), [], damage);
    assert.match(out.find((m) => m.type === 'error')?.message ?? '', /could not be read: .*(bytes came|came for bytes)/, damage);
  }
});

test('drawn tiles the page holds are not sent again at the same scale; level tiles of the same numbers are no stand-in', async () => {
  const bytes = writeTiff([image(1024, 1024, 'grey', greyPixel, 16)]);
  const fit = { type: 'view', id: 1, scale: 0.5, left: 0, top: 0, right: 1024, bottom: 1024 };
  const drawn = [[0, 0, 0, 1], [0, 1, 0, 1], [0, 0, 1, 1]];
  const out = await run(standInServer(bytes), [
    { type: 'open', id: 1, src: 'http://h/doc.htf' },
    { ...fit, view: 1 },
    { ...fit, view: 2, have: drawn },
    { ...fit, view: 3, have: drawn.map(([l, c, r]) => [l, c, r]) },
  ]);
  const sent = (view) => out.filter((m) => m.type === 'tile' && m.view === view).map((m) => [m.column, m.row]);
  assert.deepEqual([sent(1), sent(2), sent(3)], [[[0, 0], [1, 0], [0, 1], [1, 1]], [[1, 1]], [[0, 0], [1, 0], [0, 1], [1, 1]]]);
});

test('a newer view ends a drawn view while the level\'s tiles under its first row are still being decoded', async () => {
  // 16 384 tiles under the first row of drawn tiles: decoded in two bands.
  const bytes = writeTiff([image(2048, 2048, 'grey', greyPixel, 16)]);
  globalThis.XMLHttpRequest = standInServer(bytes).FakeXhr;
  const out = [];
  const worker = new DecoderWorker(core, (m) => out.push(m), { fetchImpl: standInServer(bytes).fetchImpl });
  await worker.handle({ type: 'open', id: 1, src: 'http://h/doc.htf' });
  const fit = { type: 'view', id: 1, scale: 0.125, left: 0, top: 0, right: 2048, bottom: 2048 };
  const first = worker.handle({ ...fit, view: 1 });
  await new Promise((resolve) => setImmediate(resolve));   // the first band is decoded by now
  await Promise.all([first, worker.handle({ ...fit, view: 2, scale: 0.1 })]);
  const done = out.filter((m) => m.type === 'view-done').map((m) => [m.view, m.cancelled, m.tiles]);
  assert.deepEqual(done, [[1, true, 0], [2, false, 1]]);
});

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
  // The strips' request (every request has a signal: the first answer's ends its time-out).
  const fetchImpl = (url, init = {}) => {
    if (!/^bytes=0-/.test(init.headers?.Range)) signals.push(init.signal);
    return server.fetchImpl(url, init);
  };
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
