// The element's JavaScript that needs no browser, and the WebAssembly core
// under node: node --test tests/web/  (HTF_WEB_DIR: the built build/web).
import assert from 'node:assert/strict';
import fs from 'node:fs';
import path from 'node:path';
import test from 'node:test';
import { fileURLToPath, pathToFileURL } from 'node:url';

import { coreWasm } from '../../web/htf-core-file.js';

import {
  COMMAND, MODE, TOOLBAR, hotspotNavigation, modeAfter, navigationRules, parseFrameColor, parseFrameWidth,
  platformWheel, positionAtThumb, referenceString, thumbGeometry, tilesCovering,
} from '../../web/htf-logic.js';
import { HotspotTable, lazyList, packHotspots } from '../../web/htf-hotspot-table.js';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
const webDir = process.env.HTF_WEB_DIR || path.join(root, 'build', 'web');
const bytesOf = (text) => Array.from(Buffer.from(text, 'latin1'));

test('the toolbar has the module\'s ten buttons and commands in order', () => {
  assert.deepEqual(TOOLBAR.map((b) => b.name), ['Pointer', 'Zoom in', 'Zoom out', 'Magnifier', 'Pan', 'Fit window',
    'Fit height', 'Fit width', 'Actual size', 'Print']);
  assert.deepEqual(TOOLBAR.map((b) => b.command), [132, 123, 124, 125, 126, 127, 129, 128, 130, 131]);
  assert.deepEqual(TOOLBAR.map((b) => b.picture), [0, 1, 2, 3, 4, 5, 6, 7, 8, 9]);
});

test('magnifier and pan toggle; pointer ends both; other commands keep the mode', () => {
  const steps = [
    [MODE.POINTER, COMMAND.MAGNIFIER, MODE.MAGNIFIER], [MODE.MAGNIFIER, COMMAND.MAGNIFIER, MODE.POINTER],
    [MODE.MAGNIFIER, COMMAND.PAN, MODE.PAN], [MODE.PAN, COMMAND.PAN, MODE.POINTER],
    [MODE.PAN, COMMAND.POINTER, MODE.POINTER], [MODE.PAN, COMMAND.ZOOM_IN, MODE.PAN],
  ];
  for (const [from, command, to] of steps) assert.equal(modeAfter(from, command), to, `${from} ${command}`);
});

test('settings attributes read as the settings file does', () => {
  const widths = [['1', 1], ['0', 0], ['3px', 3], ['-2', 0], ['99', 10], ['x', 0], [null, 1]];
  for (const [text, width] of widths) assert.equal(parseFrameWidth(text), width, String(text));
  assert.equal(parseFrameColor('255,0,0'), 'rgb(255,0,0)');
  assert.equal(parseFrameColor('256, 1, -1'), 'rgb(0,1,255)');
  assert.equal(parseFrameColor('navy'), 'navy');
  assert.equal(parseFrameColor(''), 'rgb(0,128,128)');
});

test('scroll bar thumbs map positions and back over the whole range', () => {
  for (const [range, page, track] of [[2000, 400, 349], [13245, 981, 947], [600, 599, 100], [100, 0, 50]]) {
    const { maxPosition } = thumbGeometry(range, page, 0, track);
    assert.equal(maxPosition, range - Math.max(page - 1, 0));
    assert.equal(thumbGeometry(range, page, 0, track).offset, 0);
    const end = thumbGeometry(range, page, maxPosition, track);
    assert.equal(end.offset + end.length, track, `${range} ${page}`);
    for (const position of [0, Math.floor(maxPosition / 3), maxPosition]) {
      const { offset, length } = thumbGeometry(range, page, position, track);
      const back = positionAtThumb(range, page, offset, track);
      assert.ok(Math.abs(back - position) <= Math.ceil(maxPosition / Math.max(1, track - length)), `${range} ${position} ${back}`);
    }
  }
});

test('browser wheel events become the platform\'s wheel deltas', () => {
  const cases = [
    [{ deltaMode: 0, deltaX: 0, deltaY: 100, shiftKey: false }, { delta: -120, horizontal: false, tilt: false }],
    [{ deltaMode: 0, deltaX: 0, deltaY: -50, shiftKey: false }, { delta: 60, horizontal: false, tilt: false }],
    [{ deltaMode: 1, deltaX: 0, deltaY: 3, shiftKey: false }, { delta: -120, horizontal: false, tilt: false }],
    [{ deltaMode: 0, deltaX: 0, deltaY: 100, shiftKey: true }, { delta: -120, horizontal: true, tilt: false }],
    [{ deltaMode: 0, deltaX: 100, deltaY: 0, shiftKey: true }, { delta: -120, horizontal: true, tilt: false }],
    [{ deltaMode: 0, deltaX: 100, deltaY: 0, shiftKey: false }, { delta: 120, horizontal: true, tilt: true }],
  ];
  for (const [event, expected] of cases) assert.deepEqual(platformWheel(event), expected, JSON.stringify(event));
});

test('tiles cover exactly the visible part of the scaled image', () => {
  const tiles = tilesCovering(100, 200, 700, 500, 1000, 450);
  assert.deepEqual(tiles.map((t) => [t.column, t.row]), [[0, 0], [1, 0], [2, 0], [0, 1], [1, 1], [2, 1]]);
  const last = tiles.at(-1);
  assert.deepEqual([last.x, last.y, last.w, last.h], [512, 256, 256, 194]);
  assert.deepEqual(tilesCovering(1000, 0, 1200, 100, 1000, 450), []);
  assert.deepEqual(tilesCovering(0, 0, 10, 10, 0, 0), []);
});

// --- The WebAssembly core under node ---

async function loadCore() {
  const loader = path.join(webDir, 'htf-core.js');
  if (!fs.existsSync(loader)) return null;
  const { default: createHtfCore } = await import(loader);
  return createHtfCore({ wasmBinary: fs.readFileSync(path.join(webDir, coreWasm)) });
}

function readDocument(core, bytes) {
  const input = core._htf_alloc(Math.max(1, bytes.length));
  core.HEAPU8.set(bytes, input);
  const doc = core._htf_read(input, bytes.length);
  core._htf_free(input);
  try {
    return {
      opened: core._htf_doc_opened(doc) === 1,
      hasImage: core._htf_doc_has_image(doc) === 1,
      width: core._htf_doc_width(doc),
      height: core._htf_doc_height(doc),
      bits: core._htf_doc_bits(doc),
      error: core.UTF8ToString(core._htf_doc_error(doc)),
      hotspots: Array.from(new HotspotTable(packHotspots(core, core._htf_doc_hotspots(doc)).packed)),
    };
  } finally {
    core._htf_doc_release(doc);
  }
}

test('the WebAssembly reader opens the example document from memory', async (t) => {
  const core = await loadCore();
  if (!core) return t.skip('build/web is not built');
  const bytes = fs.readFileSync(path.join(root, 'examples', 'floorplan.htf'));
  const doc = readDocument(core, bytes);
  assert.equal(doc.hasImage, true);
  assert.equal(doc.width, 360);
  assert.equal(doc.height, 240);
  assert.ok(doc.hotspots.length >= 3);
  assert.equal(doc.hotspots[0].reference, 'living');
  assert.equal(doc.error, '');
  // Cut off: the first error of the reader, no image; garbage: not TIFF.
  const cut = readDocument(core, bytes.subarray(0, 200));
  assert.equal(cut.hasImage, false);
  assert.match(cut.error, / Error\n/);
  const garbage = readDocument(core, Buffer.from('not a document at all'));
  assert.equal(garbage.opened, false);
  assert.equal(garbage.hasImage, false);
});

test('the WebAssembly zoom model follows the shared geometry table', async (t) => {
  const core = await loadCore();
  if (!core) return t.skip('build/web is not built');
  const lines = fs.readFileSync(path.join(root, 'tests', 'data', 'view-geometry.txt'), 'utf8').split('\n');
  const commands = { zoomin: 123, zoomout: 124, fitwindow: 127, fitwidth: 128, fitheight: 129, actual: 130 };
  const state = core._htf_alloc(80);
  let view = 0, bar = 0, steps = 0;
  for (const line of lines) {
    const words = line.trim().split(/\s+/);
    if (!words[0] || words[0].startsWith('#')) continue;
    if (words[0] === 'scrollbar') { bar = Number(words[1]); continue; }
    if (words[0] === 'case') {
      if (view) core._htf_view_release(view);
      view = core._htf_view_new(bar);
      core._htf_view_set_viewport(view, Number(words[2]), Number(words[3]));
      core._htf_view_set_image(view, Number(words[4]), Number(words[5]));
      continue;
    }
    const arrow = words.indexOf('->');
    const args = words.slice(1, arrow).map(Number);
    if (words[0] === 'paint') core._htf_view_fit(view);
    else if (commands[words[0]]) core._htf_view_command(view, commands[words[0]]);
    else if (words[0] === 'hscroll' || words[0] === 'vscroll') core._htf_view_scroll(view, words[0] === 'hscroll' ? 1 : 0, args[0], args[1]);
    else if (words[0] === 'resize') core._htf_view_set_viewport(view, args[0], args[1]);
    core._htf_view_state(view, state);
    const s = new Int32Array(core.HEAPU8.buffer, state, 20);
    const [scale, w, h, hb, vb, hp, vp] = words.slice(arrow + 1).map(Number);
    assert.ok(Math.abs(core._htf_view_scale(view) - scale) < 5e-7, line);
    assert.deepEqual([s[0], s[1], s[12], s[16], s[15], s[19]], [w, h, hb, vb, hp, vp], line);
    steps += 1;
  }
  assert.ok(steps >= 50);
  core._htf_view_release(view);
  core._htf_free(state);
});

test('the zoom model finds the first hotspot under a point through its index at every zoom', async (t) => {
  const core = await loadCore();
  if (!core) return t.skip('build/web is not built');
  const sets = [
    ['overlapping, reversed and empty', [[10, 10, 60, 40], [30, 20, 90, 70], [80, 60, 20, 5], [50, 50, 50, 50], [0, 0, 199, 99]]],
    ['a grid of small ones', Array.from({ length: 400 }, (_, i) => [(i % 40) * 5, Math.floor(i / 40) * 10, (i % 40) * 5 + 4, Math.floor(i / 40) * 10 + 9])],
    ['outside the image', [[-50, -50, -10, -10], [150, 20, 400, 300], [5, 5, 7, 7]]],
  ];
  const state = core._htf_alloc(80), rect = core._htf_alloc(16);
  // Written into the view's table at once, or added in two parts with a hit
  // test between them (the index is built again for the second part).
  const fills = {
    'in one block': (view, rects) => {
      const at = core._htf_view_hotspot_rects(view, rects.length);
      new Int32Array(core.HEAPU8.buffer, at, 4 * rects.length).set(rects.flat());
    },
    'in two parts': (view, rects) => {
      const half = Math.ceil(rects.length / 2), block = core._htf_alloc(16 * rects.length);
      new Int32Array(core.HEAPU8.buffer, block, 4 * rects.length).set(rects.flat());
      assert.equal(core._htf_view_add_hotspots(view, block, half), 1);
      core._htf_view_hotspot_at(view, 0, 0);
      assert.equal(core._htf_view_add_hotspots(view, block + 16 * half, rects.length - half), 1);
      core._htf_free(block);
    },
  };
  for (const [label, rects, fill] of sets.flatMap(([l, r]) => Object.keys(fills).map((f) => [`${l}, ${f}`, r, fills[f]]))) {
    const view = core._htf_view_new(16);
    core._htf_view_set_viewport(view, 300, 200);
    assert.equal(core._htf_view_hotspot_rects(view, rects.length), 0, `${label}: no image, no room`);
    core._htf_view_set_image(view, 200, 100);
    fill(view, rects);
    const steps = [['before the fit', () => {}], ['fitted', () => core._htf_view_fit(view)],
      ['zoomed in', () => { core._htf_view_command(view, 123); core._htf_view_command(view, 123); }],
      ['scrolled', () => { core._htf_view_set_position(view, 1, 150); core._htf_view_set_position(view, 0, 40); }]];
    for (const [step, act] of steps) {
      act();
      core._htf_view_state(view, state);
      const s = new Int32Array(core.HEAPU8.buffer, state, 20), h = s[15], v = s[19];
      const boxes = rects.map((_, i) => {
        assert.equal(core._htf_view_hotspot_rect(view, i, rect), 1);
        return Array.from(new Int32Array(core.HEAPU8.buffer, rect, 4));
      });
      for (let y = -2; y < 200; y += 3) {
        for (let x = -2; x < 300; x += 3) {
          const first = boxes.findIndex(([l, tp, r, b]) => l <= x + h && x + h <= r && tp <= y + v && y + v <= b);
          assert.equal(core._htf_view_hotspot_at(view, x, y), first, `${label}, ${step}: (${x}, ${y})`);
        }
      }
    }
    assert.equal(core._htf_view_hotspot_rect(view, rects.length, rect), 0, `${label}: past the list`);
    core._htf_view_set_image(view, 200, 100);
    assert.equal(core._htf_view_hotspot_rect(view, 0, rect), 0, `${label}: a new image has no hotspots`);
    assert.equal(core._htf_view_hotspot_at(view, 20, 20), -1, `${label}: nor any under a point`);
    core._htf_view_release(view);
  }
  core._htf_free(state);
  core._htf_free(rect);
});

test('navigation follows relative and web URLs by the module\'s rules', async (t) => {
  const core = await loadCore();
  if (!core) return t.skip('build/web is not built');
  const rules = navigationRules(core);
  const page = 'http://www.example.com/town/plan.html';
  const cases = [
    ['/servlets/ZevuRedor?ShtmlFile=#HSREF#', '815', 'http://www.example.com/servlets/ZevuRedor?ShtmlFile=815'],
    ['/servlets/ZevuRedor?ShtmlFile=#HSREF#', '815&view=2', 'http://www.example.com/servlets/ZevuRedor?ShtmlFile=815&view=2'],
    ['/servlets/ZevuRedor?ShtmlFile=#HSREF#', 'javascript:alert(1)', 'http://www.example.com/servlets/ZevuRedor?ShtmlFile=javascript:alert(1)'],
    ['#HSREF#', 'room.html', 'http://www.example.com/town/room.html'],
    ['#HSREF#', 'https://other.example/x', 'https://other.example/x'],
    ['#HSREF#/#HSREF#', 'a', 'http://www.example.com/town/a/a'],
    ['#HSREF#', '//other.example/x', null],
    ['#HSREF#', 'javascript:alert(document.cookie)//', null],
    ['#HSREF#', 'JavaScript:alert(1)', null],
    ['#HSREF#', ' javascript:alert(1)', null],
    ['#HSREF#', 'vbscript:msgbox', null],
    ['#HSREF#', 'data:text/html,<script>alert(1)</script>', null],
    ['#HSREF#', 'file:///C:/windows/win.ini', null],
    ['#HSREF#', 'mailto:someone@example.com', null],
    ['#HSREF#', '815\r\nSet-Cookie: x', null],
    ['#HSREF#', 'a\tb', null],
    ['#HSREF#', 'a\x7Fb', null],
    ['java\tscript:#HSREF#', 'alert(1)', null],
  ];
  for (const [template, reference, expected] of cases) {
    const result = hotspotNavigation({ template, frame: '', referenceBytes: bytesOf(reference), pageUrl: page, ...rules });
    if (expected === null) {
      assert.ok(result.refused, `${JSON.stringify(reference)} must be refused, got ${result.url}`);
    } else {
      assert.equal(result.url, new URL(expected).href, JSON.stringify(reference));
      assert.equal(result.frame, '_self');
    }
  }
  // A relative reference on a local page resolves to a file: nothing is followed.
  const local = hotspotNavigation({ template: '#HSREF#', frame: '', referenceBytes: bytesOf('room.html'),
    pageUrl: 'file:///home/user/plan.html', ...rules });
  assert.ok(local.refused);
  assert.equal(hotspotNavigation({ template: '#HSREF#', frame: 'content', referenceBytes: bytesOf('a'), pageUrl: page,
    ...rules }).frame, 'content');
});

test('a core out of memory fails the navigation rules instead of writing at address 0', () => {
  // A core whose every allocation fails, watching for writes to address 0.
  const writes = [];
  const starved = {
    _htf_alloc: () => 0, _htf_free: () => {}, lengthBytesUTF8: (s) => s.length,
    stringToUTF8: (text, at) => writes.push(at), UTF8ToString: () => '', HEAPU8: new Uint8Array(16),
    _htf_hotspot_url: () => 0, _htf_resolved_refusal: () => 0, _htf_refusal_text: () => 0,
  };
  const rules = navigationRules(starved);
  for (const [name, call] of [['compose', () => rules.compose('/x?#HSREF#', '815')],
    ['checkResolved', () => rules.checkResolved('http://host/')]]) {
    assert.throws(call, /Out of memory/, name);
  }
  assert.deepEqual(writes, []);
});

test('a hotspot that opens a new browsing context cannot reach back to the page, as a link or followed', async () => {
  // As built: the toolbar's module imports the generated pictures.
  const { hotspots } = await import(pathToFileURL(path.join(webDir, 'htf-hotspots.js')).href);
  const url = 'http://example.test/servlets/ZevuRedor?ShtmlFile=815';
  // A hotspot is followed as a link is: an anchor with the link's target and
  // rel, clicked while it is in the element's shadow tree, then taken out.
  const clicks = [];
  const shadowRoot = { children: new Set(), append(a) { this.children.add(a); } };
  const saved = globalThis.document;
  globalThis.document = {
    createElement: () => ({
      addEventListener() {},
      click() { clicks.push([this.href, this.target, this.rel, shadowRoot.children.has(this)]); },
      remove() { shadowRoot.children.delete(this); },
    }),
  };
  // One link taken through every target in turn: a rel left from the one
  // before must go.
  const link = { setAttribute(name, value) { this[name] = value; }, removeAttribute(name) { delete this[name]; } };
  const rows = [
    ['_blank', 'noopener noreferrer'], ['_self', undefined], ['content', 'noopener noreferrer'], ['_top', undefined],
    ['', 'noopener noreferrer'], ['_PARENT', undefined],
  ];
  try {
    for (const [frame, rel] of rows) {
      const element = {
        _doc: { hotspots: { at: () => ({ reference: '815', text: '' }) } }, shadowRoot,
        _target: () => ({ url, frame }), _fire: () => true, _coreFailed: () => false,
      };
      hotspots._setLinkTarget.call(element, link, 0);
      assert.deepEqual([link.href, link.target, link.rel], [url, frame, rel], `link to ${frame}`);
      clicks.length = 0;
      hotspots._navigate.call(element, 0);
      assert.deepEqual(clicks, [[url, frame, rel, true]], `followed to ${frame}`);
      assert.equal(shadowRoot.children.size, 0, `the anchor to ${frame} is taken out`);
    }
  } finally {
    globalThis.document = saved;
  }
});

test('the strings table\'s fill-ins', async () => {
  const { fillString, STRINGS } = await import(pathToFileURL(path.join(webDir, 'htf-toolbar.js')).href);
  assert.equal(fillString(STRINGS.tooLarge, { width: 92680, height: 92680 }),
    'This image is too large to show: 92680 \u00D7 92680 pixels');
  assert.equal(fillString('{a} and {b}', { a: 1 }), '1 and {b}');
});

test('references read as the author\'s code page, ASCII as it stands', () => {
  const cases = [['815', '815'], ['R#\u007f', 'R#\u007f'], ['\u00E9t\u00E9', '\u00E9t\u00E9'], ['', '']];
  for (const [reference, text] of cases) assert.equal(referenceString(reference), text, reference);
});

test('the built package names its files, types and the module\'s version', (t) => {
  const file = path.join(webDir, 'package.json');
  if (!fs.existsSync(file)) return t.skip('build/web is not built');
  const pkg = JSON.parse(fs.readFileSync(file, 'utf8'));
  const [, major, minor, patch, build] = /ROZERADO_VERSION (\d+), *(\d+), *(\d+), *(\d+)/.exec(
    fs.readFileSync(path.join(root, 'host', 'ProductVersion.h'), 'utf8'));
  // npm publishes major.minor.patch; the build number is kept beside it.
  assert.equal(pkg.version, `${major}.${minor}.${patch}`);
  assert.equal(pkg.productVersion, `${major}.${minor}.${patch}.${build}`);
  for (const entry of [pkg.types, pkg.exports['.'].types, pkg.exports['.'].default, pkg.main])
    assert.ok(fs.existsSync(path.join(webDir, entry)), entry);
  const viewer = fs.readFileSync(path.join(webDir, 'htf-viewer.js'), 'utf8');
  assert.ok(viewer.includes(`VERSION = '${pkg.version}${build === '0' ? '' : `+${build}`}'`));
  const types = fs.readFileSync(path.join(webDir, pkg.types), 'utf8');
  assert.match(types, /'htf-viewer': HtfViewer/);
});

// Packs hotspots by hand as the worker does: [rect, reference, text] each,
// the code units in `charBytes` bytes each.
function packed(hotspots, patch = (p) => p, charBytes = 2) {
  const units = [], offsets = [0];
  for (const [, reference, text] of hotspots) {
    for (const ch of reference) units.push(ch.charCodeAt(0));
    offsets.push(units.length);
    for (let i = 0; i < text.length; ++i) units.push(text.charCodeAt(i));
    offsets.push(units.length);
  }
  return patch({ count: hotspots.length, rects: new Int32Array(hotspots.flatMap(([r]) => r)).buffer,
    offsets: new Uint32Array(offsets).buffer, chars: (charBytes === 1 ? new Uint8Array(units) : new Uint16Array(units)).buffer,
    ...(charBytes === 1 ? { charBytes } : {}) });
}

test('the packed hotspots read back whole, and damaged blocks read as none', () => {
  const long = 'x'.repeat(20000) + '\u00e9';
  const list = [[[1, 2, 30, 40], 'A\u00e9\u00ff', 'caf\u00e9 \ud83d\ude00 \ud800'], [[-5, 7, -9, 2147483647], 'B', ''],
    [[0, 0, 1, 1], 'long', long]];
  const table = new HotspotTable(packed(list));
  assert.equal(table.length, 3);
  assert.deepEqual(Array.from(table), list.map(([[left, top, right, bottom], reference, text]) =>
    ({ left, top, right, bottom, reference, text })));
  for (const index of [-1, 3, 1.5, NaN]) assert.equal(table.at(index), undefined, String(index));
  const damaged = [
    ['count past the rectangles', (p) => ({ ...p, count: 4 })],
    ['rectangles cut short', (p) => ({ ...p, rects: p.rects.slice(0, 16) })],
    ['offsets past the characters', (p) => ({ ...p, chars: p.chars.slice(0, 8) })],
    ['offsets going back', (p) => { const o = new Uint32Array(p.offsets); o[2] = 0; return p; }],
    ['offsets cut short', (p) => ({ ...p, offsets: p.offsets.slice(0, 8) })],
  ];
  for (const [name, patch] of damaged) assert.equal(new HotspotTable(packed(list, patch)).length, 0, name);
  assert.equal(new HotspotTable().length, 0);
  // One byte a unit reads the same when every unit fits.
  const latin = [[[1, 2, 3, 4], 'A\u00ff', 'caf\u00e9'], [[5, 6, 7, 8], 'B', '']];
  assert.deepEqual(Array.from(new HotspotTable(packed(latin, undefined, 1))), Array.from(new HotspotTable(packed(latin))));
});

test('the public hotspot list makes each item at its first read and behaves as an array', () => {
  const made = [];
  const make = (i) => { made.push(i); return Object.freeze({ ref: `R${i}` }); };
  const list = lazyList(1000000, make);
  assert.equal(list.length, 1000000);
  assert.equal(Array.isArray(list), true);
  assert.equal(list[123456].ref, 'R123456');
  assert.equal(list[123456], list[123456]);
  assert.deepEqual(made, [123456]);
  assert.equal(list[1000000], undefined);
  assert.equal(1000000 in list, false);
  const small = lazyList(3, make);
  assert.deepEqual(small.map((h) => h.ref), ['R0', 'R1', 'R2']);
  assert.deepEqual([...small].map((h) => h.ref), ['R0', 'R1', 'R2']);
  assert.equal(JSON.stringify(lazyList(2, make)), '[{"ref":"R0"},{"ref":"R1"}]');
  assert.deepEqual(Object.keys(lazyList(2, make)), ['0', '1']);
  // The page's changes stay in its own list.
  const mine = lazyList(3, make), other = lazyList(3, make);
  mine[0] = 'changed';
  delete mine[1];
  mine.length = 2;
  assert.deepEqual([mine[0], mine[1], mine[2], mine.length], ['changed', undefined, undefined, 2]);
  assert.equal(other[0].ref, 'R0');
});


test('tiles land on whole pixels, neighbours meet without gap or overlap, and the wanted ones are drawn last', async () => {
  const { tilePlace, drawingOrder } = await import('../../web/htf-paint.js');
  // A level's row of tiles (its own width, tile size) placed in pictures of these widths.
  for (const [levelWidth, tile, width] of [[625, 256, 625], [625, 256, 400], [5000, 256, 3600], [157, 256, 600],
    [20000, 256, 20000], [10000, 512, 6601]]) {
    let right = 0;
    for (let x = 0; x < levelWidth; x += tile) {
      const w = Math.min(tile, levelWidth - x);
      const at = tilePlace({ x, y: 0, w, h: 1, resWidth: levelWidth, resHeight: 1 }, width, 1);
      assert.equal(at.left, right, `${levelWidth} -> ${width}: tile at ${x}`);
      if (levelWidth === width) assert.equal(at.right - at.left, w, 'drawn at its own size');
      right = at.right;
    }
    assert.equal(right, width, `${levelWidth} -> ${width} ends at the picture's edge`);
  }
  const tiles = [{ resWidth: 5000, wanted: false }, { resWidth: 625, wanted: true }, { resWidth: 157, wanted: false },
    { resWidth: 20000, wanted: false }];
  assert.deepEqual(drawingOrder(tiles, (t) => (t.wanted ? 1 : 0)).map((t) => t.resWidth), [157, 5000, 20000, 625]);
});
