// The view's string and the page address it is kept in, and the overview's
// geometry and choice of tiles: node --test tests/web/
import assert from 'node:assert/strict';
import test from 'node:test';

import { formatView, hashKeys, parseView, readHash, writeHash } from '../../web/htf-hash.js';
import { overviewFrame, overviewSize, overviewTiles } from '../../web/htf-overview.js';

test('a view string is three numbers with a positive scale; anything else is refused', () => {
  const cases = [
    ['0.5,1200,800', { scale: 0.5, x: 1200, y: 800 }],
    [' 2 , 10.5 , -3 ', { scale: 2, x: 10.5, y: -3 }],
    ['1e-3,50000,50000', { scale: 0.001, x: 50000, y: 50000 }],
    ['.25,0,0', { scale: 0.25, x: 0, y: 0 }],
    ['0,10,10', null], ['-1,10,10', null], ['1,10', null], ['1,10,10,10', null], ['1,,10', null],
    ['1,10,x', null], ['Infinity,1,1', null], ['1,NaN,1', null], ['1e999,1,1', null], ['0x10,1,1', null],
    ['', null], [null, null], ['<script>,1,1', null],
  ];
  for (const [text, expected] of cases) assert.deepEqual(parseView(text), expected, String(text));
});

test('a written view gives back the same scroll positions when it is read', () => {
  // The centre of a view at integer position p in a client of `client`
  // pixels; written and read, it must land on p again.
  for (const scale of [0.001, 0.0123457, 0.05, 0.2, 0.55, 1, 1.7, 3]) {
    for (const client of [301, 600, 1023]) {
      for (const position of [0, 1, 17, 4321, 99999]) {
        const centre = (position + client / 2) / scale;
        const read = parseView(formatView({ scale, x: centre, y: centre }));
        assert.ok(Math.abs(read.scale - scale) <= scale * 1e-5, `scale ${scale}`);
        assert.equal(Math.round(read.x * read.scale - client / 2) + 0, position, `${scale} ${client} ${position}`);
      }
    }
  }
  assert.equal(formatView({ scale: 0.123456789, x: 10.04, y: 7.06 }), '0.123457,10,7.1');
});

test('the address keeps every other part as it was and each element under its own keys', () => {
  const cases = [
    // hash before, key, value, keys removed -> hash after
    ['', 'view', '1,2,3', [], '#view=1,2,3'],
    ['#', 'view', '1,2,3', [], '#view=1,2,3'],
    ['#view=9,9,9', 'view', '1,2,3', [], '#view=1,2,3'],
    ['#intro', 'view', '1,2,3', [], '#intro&view=1,2,3'],
    ['#a=1&view=0,0,0&b=%20x', 'view', '1,2,3', [], '#a=1&view=1,2,3&b=%20x'],
    ['#view=1,1,1&view=2,2,2', 'view', '3,3,3', [], '#view=3,3,3'],
    ['#hotspot=C9&plan.view=1,1,1', 'view', '1,2,3', ['hotspot'], '#plan.view=1,1,1&view=1,2,3'],
    ['#view=1,1,1', 'plan.view', '5,6,7', ['plan.hotspot'], '#view=1,1,1&plan.view=5,6,7'],
    ['#x=%E0%A4%A', 'view', '1,2,3', [], '#x=%E0%A4%A&view=1,2,3'],
    ['#view=1,1,1', 'view', 'a&b=c', [], '#view=a%26b%3Dc'],
  ];
  for (const [before, key, value, remove, after] of cases) {
    assert.equal(writeHash(before, key, value, remove), after, `${before} ${key}`);
  }
  const hash = '#hotspot=C%209&plan.hotspot=Room+1&plan.view=0.5,10,20&bad=%E0%A4%A&flag';
  const reads = [['hotspot', 'C 9'], ['plan.hotspot', 'Room 1'], ['plan.view', '0.5,10,20'], ['view', undefined],
    ['bad', '%E0%A4%A'], ['flag', undefined]];
  for (const [key, value] of reads) assert.equal(readHash(hash, key), value, key);
  assert.deepEqual(hashKeys(''), { view: 'view', hotspot: 'hotspot' });
  assert.deepEqual(hashKeys(null), { view: 'view', hotspot: 'hotspot' });
  assert.deepEqual(hashKeys('plan'), { view: 'plan.view', hotspot: 'plan.hotspot' });
});

test('the overview keeps the document\'s proportions within its box and a share of the view', () => {
  const cases = [
    // W, H, client width, client height -> size (null: too small to use)
    [100000, 100000, 1000, 800, { width: 160, height: 160 }],
    [13245, 18720, 1000, 800, { width: 113, height: 160 }],
    [8000, 6000, 300, 1000, { width: 120, height: 90 }],
    [1, 65535, 1000, 800, { width: 4, height: 160 }],
    [1000, 1000, 100, 800, null],
    [0, 1000, 1000, 800, null],
  ];
  for (const [W, H, cw, ch, size] of cases) assert.deepEqual(overviewSize(W, H, cw, ch), size, `${W}x${H} in ${cw}x${ch}`);
});

test('the overview is drawn from the coarsest whole set of tiles at least its size', () => {
  const levels = [
    { width: 2000, height: 1000, tileWidth: 256, tileHeight: 256 },
    { width: 1000, height: 500, tileWidth: 256, tileHeight: 256 },
    { width: 500, height: 250, tileWidth: 256, tileHeight: 256 },
    { width: 250, height: 125, tileWidth: 256, tileHeight: 256 },
  ];
  const levelTiles = (level, cells = null) => {
    const l = levels[level], out = [];
    for (let row = 0; row < Math.ceil(l.height / 256); ++row) {
      for (let column = 0; column < Math.ceil(l.width / 256); ++column) {
        if (!cells || cells.includes(`${column},${row}`)) {
          out.push({ kind: 'L', level, column, row, resWidth: l.width, resHeight: l.height });
        }
      }
    }
    return out;
  };
  const drawn = (w, h) => {
    const out = [];
    for (let row = 0; row < Math.ceil(h / 256); ++row) {
      for (let column = 0; column < Math.ceil(w / 256); ++column) out.push({ kind: 'R', level: 0, column, row, resWidth: w, resHeight: h });
    }
    return out;
  };
  const cases = [
    // tiles held, the overview's width -> the set chosen (null: none whole)
    ['one whole level', levelTiles(2), 160, 'L2'],
    ['the coarsest at least the size', [...levelTiles(1), ...levelTiles(2), ...levelTiles(3)], 200, 'L3'],
    ['a coarser one too small', [...levelTiles(1), ...levelTiles(3)], 320, 'L1'],
    ['only smaller ones: the finest', [...levelTiles(3), ...drawn(150, 75)], 320, 'L3'],
    ['a level missing a tile', levelTiles(1, ['0,0', '1,0', '2,0', '3,0', '0,1', '1,1', '2,1']), 160, null],
    ['a corner of the first image only', levelTiles(0, ['0,0', '1,0']), 160, null],
    ['a striped image drawn whole', [...drawn(600, 300), ...drawn(160, 80)], 160, 'R160x80'],
    ['a striped image drawn in part', drawn(600, 300).slice(1), 160, null],
    ['nothing', [], 160, null],
  ];
  for (const [name, tiles, width, key] of cases) assert.equal(overviewTiles(tiles, levels, width)?.key ?? null, key, name);
  // A level's tiles of another size than the document says are not taken for it.
  const odd = levelTiles(3).map((e) => ({ ...e, resWidth: 251 }));
  assert.equal(overviewTiles(odd, levels, 100), null);
});

test('the overview outlines the visible part of the image', () => {
  const state = (h, v, cw, ch, left = 0, top = 0) => ({ h: { position: h }, v: { position: v }, clientWidth: cw,
    clientHeight: ch, imageLeft: left, imageTop: top });
  const cases = [
    // state, scale, W, H, overview w x h -> frame
    [state(0, 0, 500, 400), 1, 1000, 800, 100, 80, { left: 0, top: 0, width: 50, height: 40 }],
    [state(500, 400, 500, 400), 1, 1000, 800, 100, 80, { left: 50, top: 40, width: 50, height: 40 }],
    [state(1000, 0, 500, 400), 2, 1000, 800, 100, 80, { left: 50, top: 0, width: 25, height: 20 }],
    // narrower than the client: centred, the frame the whole width
    [state(0, 200, 800, 400, 150, 0), 0.5, 1000, 4000, 40, 160, { left: 0, top: 16, width: 40, height: 32 }],
  ];
  for (const [s, scale, W, H, ow, oh, frame] of cases) assert.deepEqual(overviewFrame(s, scale, W, H, ow, oh), frame);
});
