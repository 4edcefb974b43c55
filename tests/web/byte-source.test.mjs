// The worker's byte sources against servers that misbehave, through the
// WebAssembly core under node: a file replaced while it is read, answers
// that flood, stall, break off or fail for a while, compressed range answers,
// and range reads past the download cap. Streamed requests go to a server on
// 127.0.0.1; the synchronous range reads (XMLHttpRequest, which node lacks)
// are answered by the same file model in-process.
//   node --test tests/web/   (HTF_WEB_DIR: the built build/web)
import assert from 'node:assert/strict';
import fs from 'node:fs';
import http from 'node:http';
import path from 'node:path';
import test from 'node:test';
import { fileURLToPath } from 'node:url';

import { coreWasm } from '../../web/htf-core-file.js';

import { greyPixel, image, packRows, pyramid, writeTiff } from './tiff-fixtures.mjs';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
const webDir = process.env.HTF_WEB_DIR || path.join(root, 'build', 'web');
const { CHANGED, DecoderWorker, FIRST_RANGE_BYTES, HttpRanges, openSource } = await import(path.join(webDir, 'htf-decoder.js'));
const { default: createHtfCore } = await import(path.join(webDir, 'htf-core.js'));
const core = await createHtfCore({ wasmBinary: fs.readFileSync(path.join(webDir, coreWasm)) });

const FAST = { retryDelays: [20, 40], timeouts: { idle: 300, total: 3000 } };
const FLOOD_LIMIT = 512 * 1024 * 1024;

// A file on a server that answers single byte ranges with a validator and
// If-Range as production servers do. `plan` (streamed requests) and
// `syncPlan` (synchronous ones): misbehaviours for the next requests, one
// each (503, 404, 'drop', 'stall', 'flood', 'gzip', 'wrong-total'); `log`
// gets each request's range, If-Range and the body bytes written.
class FileServer {
  // ignores: 'preconditions' (If-Match, If-Unmodified-Since) or 'all'
  // (If-Range too) of the validators a request sends.
  constructor(bytes, { validator = 'etag', ignores = null } = {}) {
    this.bytes = bytes;
    this.version = 1;
    this.validator = validator;
    this.ignores = ignores;
    this.plan = [];
    this.syncPlan = [];
    this.log = [];
  }

  replace(bytes) {
    this.bytes = bytes;
    ++this.version;
  }

  validatorHeaders() {
    if (this.validator === 'etag') return { etag: `"v${this.version}"` };
    if (this.validator === 'last-modified') return { 'last-modified': new Date(Date.UTC(2024, 0, this.version)).toUTCString() };
    return {};
  }

  // { status, headers, body, misbehave } for a GET with these request headers.
  answer(header, plan) {
    const misbehave = plan.shift() ?? null;
    const m = /^bytes=(\d+)-(\d+)$/.exec(header('range') || '');
    const ifRange = header('if-range');
    const headers = this.validatorHeaders();
    const current = (value) => this.ignores === 'all' || value == null || Object.values(headers).includes(value);
    const precondition = this.ignores ? undefined : header('if-match') ?? header('if-unmodified-since');
    const entry = { range: m ? [Number(m[1]), Number(m[2])] : null, ifRange, misbehave, sent: 0,
      sync: plan === this.syncPlan };
    this.log.push(entry);
    if (!current(precondition)) entry.misbehave = 412;
    const status = typeof misbehave === 'number' ? misbehave : entry.misbehave;
    if (typeof status === 'number') return { status, headers, body: new Uint8Array(0), entry };
    if (!m || !current(ifRange)) return { status: 200, headers, body: this.bytes, entry, misbehave };
    const first = Number(m[1]), last = Math.min(Number(m[2]), this.bytes.length - 1);
    const total = this.bytes.length + (misbehave === 'wrong-total' ? 1 : 0);
    headers['content-range'] = `bytes ${first}-${last}/${total}`;
    if (misbehave === 'gzip') headers['content-encoding'] = 'gzip';
    return { status: 206, headers, body: this.bytes.subarray(first, last + 1), entry, misbehave };
  }

  // Serves the model on 127.0.0.1 at a free port; resolves to the file's URL.
  async start() {
    this.http = http.createServer((request, response) => this.serve(request, response));
    await new Promise((resolve) => this.http.listen(0, '127.0.0.1', resolve));
    return `http://127.0.0.1:${this.http.address().port}/doc.htf`;
  }

  stop() {
    this.http?.closeAllConnections();
    this.http?.close();
  }

  async serve(request, response) {
    const { status, headers, body, entry, misbehave } = this.answer((name) => request.headers[name], this.plan);
    const half = body.subarray(0, body.length >> 1);
    const write = async (bytes) => {
      entry.sent += bytes.length;
      if (!response.write(bytes)) await new Promise((resolve) => response.once('drain', resolve));
    };
    if (misbehave === 'flood') {
      // Far more than the Content-Range names, until the reader goes.
      response.writeHead(status, headers);
      const chunk = new Uint8Array(1 << 20);
      let gone = false;
      response.on('close', () => { gone = true; });
      while (!gone && entry.sent < FLOOD_LIMIT) await write(chunk);
      response.end();
      return;
    }
    response.writeHead(status, { ...headers, 'content-length': String(body.length) });
    if (misbehave === 'drop') {
      await write(half);
      await new Promise((resolve) => setTimeout(resolve, 100));   // the half reaches the reader
      response.socket.destroy();
      return;
    }
    if (misbehave === 'stall') {
      await write(half);   // and nothing more: the connection stays open
      return;
    }
    await write(body);
    response.end();
  }

  // XMLHttpRequest, synchronous, over the same model: a dropped connection
  // is a NetworkError, a stall a TimeoutError (only with a time-out set).
  get Xhr() {
    const server = this;
    return class {
      constructor() { this.requestHeaders = {}; this.timeout = 0; }
      open(method, url, async) { assert.equal(async, false); }
      setRequestHeader(name, value) { this.requestHeaders[name.toLowerCase()] = value; }
      send() {
        const { status, headers, body, misbehave } = server.answer((name) => this.requestHeaders[name], server.syncPlan);
        if (misbehave === 'drop') throw new DOMException('dropped', 'NetworkError');
        if (misbehave === 'stall') {
          if (!(this.timeout > 0)) throw new Error('the request waits for ever: no time-out set');
          throw new DOMException('timed out', 'TimeoutError');
        }
        this.status = status;
        this.headers = headers;
        this.response = body.slice().buffer;
      }
      getResponseHeader(name) { return this.headers[name.toLowerCase()] ?? null; }
    };
  }
}

// Runs the worker's messages against `server`; `during(message, worker)` sees
// each message the worker sends as it sends it.
async function runWorker(server, url, messages, { during = () => {}, sourceOptions = FAST } = {}) {
  globalThis.XMLHttpRequest = server.Xhr;
  const out = [];
  let worker = null;
  worker = new DecoderWorker(core, (message) => { out.push(message); during(message, worker); }, { sourceOptions });
  for (const message of messages) await (typeof message === 'function' ? message() : worker.handle(message));
  return out;
}

const open = (url, extra = {}) => ({ type: 'open', id: 1, src: url, ...extra });
const view = (number, scale, left, top, right, bottom) => ({ type: 'view', id: 1, view: number, scale, left, top, right, bottom });
const errors = (out) => out.filter((m) => m.type === 'error').map((m) => m.message);

test('a file replaced between two reads ends its document with the clear error, with a validator or without', async () => {
  const tiled = writeTiff(pyramid(1024, 1024, 'grey', greyPixel));
  const sameSize = writeTiff(pyramid(1024, 1024, 'grey', (x, y) => 255 - greyPixel(x, y)));
  const longer = writeTiff(pyramid(1100, 1024, 'grey', greyPixel));
  // Two striped levels: the first one's strips are asked for by the view,
  // after the file was replaced.
  const striped = writeTiff([image(600, 400, 'grey', greyPixel, 0), image(300, 200, 'grey', greyPixel, 0)]);
  const stripedAgain = writeTiff([image(600, 400, 'grey', (x, y) => 255 - greyPixel(x, y), 0),
    image(300, 200, 'grey', greyPixel, 0)]);
  const rows = [
    // label, document, replacement, server options, If-Range sent
    ['tiles, ETag, same size', tiled, sameSize, { validator: 'etag' }, '"v1"'],
    ['tiles, Last-Modified, same size', tiled, sameSize, { validator: 'last-modified' }, 'Mon, 01 Jan 2024 00:00:00 GMT'],
    ['tiles, no validator, another size', tiled, longer, { validator: 'none' }, undefined],
    ['tiles, If-Match ignored: If-Range\'s whole file', tiled, sameSize, { ignores: 'preconditions' }, '"v1"'],
    ['tiles, all ignored: the answer\'s ETag differs', tiled, sameSize, { ignores: 'all' }, '"v1"'],
    ['strips\' streamed answer, ETag, same size', striped, stripedAgain, { validator: 'etag' }, '"v1"'],
    ['strips\' streamed answer, no validator, another size', striped, longer, { validator: 'none' }, undefined],
  ];
  for (const [label, bytes, replacement, options, ifRange] of rows) {
    const server = new FileServer(bytes, options);
    const url = await server.start();
    try {
      const out = await runWorker(server, url, [open(url), async () => server.replace(replacement),
        view(1, 1, 0, 0, 1024, 1024)]);
      assert.ok(out.some((m) => m.type === 'hotspots'), label);
      assert.ok(errors(out).includes(CHANGED), `${label}: ${errors(out)}`);
      assert.equal(out.filter((m) => m.type === 'tile' && !m.error).length, 0, `${label}: a tile of the new file was sent`);
      const later = server.log.slice(1);
      assert.ok(later.length > 0 && later.every((entry) => entry.ifRange === ifRange), `${label}: If-Range ${later.map((e) => e.ifRange)}`);
    } finally {
      server.stop();
    }
  }
});

test('an answer longer than asked for is stopped early, the first one too', { timeout: 60000 }, async () => {
  const bytes = writeTiff([image(600, 400, 'grey', greyPixel, 0)]);
  for (const [label, plan, messages] of [
    ['the first answer', ['flood'], (url) => [open(url)]],
    ['the strips\' answer', [null, 'flood'], (url) => [open(url), view(1, 1, 0, 0, 600, 400)]],
  ]) {
    const server = new FileServer(bytes);
    const url = await server.start();
    server.plan = plan;
    try {
      const out = await runWorker(server, url, messages(url));
      assert.match(errors(out).join(), /could not be read: more than the \d+ bytes asked for came/, label);
      await new Promise((resolve) => setTimeout(resolve, 100));
      const flooded = server.log.find((entry) => entry.misbehave === 'flood');
      assert.ok(flooded.sent < 64 << 20, `${label}: ${flooded.sent} bytes were written before the reader stopped`);
    } finally {
      server.stop();
    }
  }
});

test('range reads go on past the download cap in total: it bounds one answer, not the session', async () => {
  const images = pyramid(2048, 2048, 'grey', greyPixel);
  const bytes = writeTiff(images);
  const server = new FileServer(bytes);
  const url = await server.start();
  try {
    const limit = 1024 * 1024;
    // Twice over the whole image at 1:1, a quarter at a time: 4 MB read.
    const views = [];
    for (let pass = 0; pass < 2; ++pass) {
      for (const [x, y] of [[0, 0], [1024, 0], [0, 1024], [1024, 1024]]) {
        views.push(view(views.length + 1, 1, x, y, x + 1024, y + 1024));
      }
    }
    const out = await runWorker(server, url, [open(url, { downloadLimit: limit }), ...views]);
    assert.deepEqual(errors(out), []);
    const tiles = out.filter((m) => m.type === 'tile');
    assert.equal(tiles.length, 2 * 64);
    const last = tiles.at(-1);
    assert.deepEqual(new Uint8Array(last.pixels), packRows(images[0], last.x, last.y, 256, 256));
    const sent = server.log.reduce((sum, entry) => sum + (entry.range ? entry.range[1] - entry.range[0] + 1 : 0), 0);
    assert.ok(sent > 2 * limit, `${sent} bytes read in all`);
  } finally {
    server.stop();
  }
});

test('passing failures are tried again after a delay; lasting ones, 4xx and compressed ranges are not', { timeout: 60000 }, async () => {
  const bytes = writeTiff(pyramid(512, 512, 'grey', greyPixel));
  // plan, outcome (true: opened; a pattern: the error), requests made
  const rows = [
    [[503], true, 2],
    [[503, 503], true, 3],
    [[503, 503, 503], /503/, 3],
    [['drop'], true, 2],
    [['stall'], true, 2],
    [['stall', 'stall', 'stall'], /no bytes came for 0.3 s/, 3],
    [[404], /404/, 1],
    [['gzip'], /compressed a range answer \(Content-Encoding: gzip\)/, 1],
    // No server at all: tried again, then a failure marked as having had no
    // answer (the page tells a refused origin by it).
    [['refused'], /the range request failed/, 0],
  ];
  for (const [plan, outcome, requests] of rows) {
    const server = new FileServer(bytes);
    const url = await server.start();
    server.plan = [...plan];
    if (plan[0] === 'refused') server.stop();
    const started = performance.now();
    try {
      let result;
      try {
        result = await openSource(url, FAST);
      } catch (error) {
        result = error;
      }
      const label = plan.join(', ');
      if (outcome === true) assert.equal(result.ranged, true, `${label}: ${result.message}`);
      else assert.match(result.message, outcome, label);
      assert.equal(!!result.network, plan[0] === 'refused', `${label}: network`);
      assert.equal(server.log.length, requests, label);
      if (requests === 3) assert.ok(performance.now() - started >= 60, `${label}: tried again without waiting`);
    } finally {
      server.stop();
    }
  }
  // The same for the synchronous reads of the core.
  const syncRows = [
    [[503], true, 2],
    [['drop', 'stall'], true, 3],
    [['stall', 'stall', 'stall'], /no answer came within/, 3],
    [[416], /answered 416/, 1],
    [['gzip'], /Content-Encoding: gzip/, 1],
  ];
  for (const [plan, outcome, requests] of syncRows) {
    const server = new FileServer(bytes);
    globalThis.XMLHttpRequest = server.Xhr;
    const source = new HttpRanges('http://h/doc.htf', bytes.length, bytes.subarray(0, 100), { ...FAST, validator: null });
    server.syncPlan = [...plan];
    let result;
    try {
      result = source.read(1000, 5000);
    } catch (error) {
      result = error;
    }
    const label = `synchronous: ${plan.join(', ')}`;
    if (outcome === true) assert.deepEqual(result, bytes.subarray(1000, 6000), label);
    else assert.match(result.message, outcome, label);
    assert.equal(server.log.length, requests, label);
  }
});

test('the strips\' answer broken off part way is asked for again from where it broke, and the picture is whole', { timeout: 60000 }, async () => {
  const bytes = writeTiff([image(600, 400, 'grey', greyPixel, 0)]);
  for (const misbehave of ['drop', 'stall']) {
    const server = new FileServer(bytes);
    const url = await server.start();
    server.plan = [null, misbehave];
    try {
      const out = await runWorker(server, url, [open(url), view(1, 1, 0, 0, 600, 400)]);
      assert.deepEqual(errors(out), [], misbehave);
      const [, broken, again] = server.log.filter((entry) => !entry.sync);
      assert.ok(again.range[0] > broken.range[0] && again.range[0] <= broken.range[0] + broken.sent,
        `${misbehave}: the second request starts where the first broke off`);
      assert.equal(again.range[1], broken.range[1]);
      const done = out.find((m) => m.type === 'view-done');
      assert.equal(done.tiles, 6, misbehave);
    } finally {
      server.stop();
    }
  }
});

test('the worker\'s views: a strips\' answer of another size, a newer view after one tile, a document closed while its strips are held', async () => {
  // A strips' answer whose total differs from the file's size.
  const striped = writeTiff([image(600, 400, 'grey', greyPixel, 0)]);
  const server = new FileServer(striped, { validator: 'none' });
  const url = await server.start();
  try {
    server.plan = [null, 'wrong-total'];
    const out = await runWorker(server, url, [open(url), view(1, 1, 0, 0, 600, 400)]);
    assert.ok(errors(out).includes(CHANGED), errors(out).join());
  } finally {
    server.stop();
  }

  // View 2 sent right after view 1's first tile ends view 1 after that tile.
  const tiled = writeTiff(pyramid(2048, 2048, 'grey', greyPixel));
  const second = new FileServer(tiled);
  const secondUrl = await second.start();
  try {
    let pending = null;
    const out = await runWorker(second, secondUrl, [open(secondUrl), view(1, 1, 0, 0, 2048, 2048), () => pending], {
      during: (m, worker) => {
        if (m.type === 'tile' && m.view === 1 && !pending) pending = worker.handle(view(2, 1, 0, 0, 300, 300));
      },
    });
    const done = out.filter((m) => m.type === 'view-done').sort((a, b) => a.view - b.view);
    assert.deepEqual(done.map((m) => [m.view, m.tiles, m.cancelled]), [[1, 1, true], [2, 4, false]]);
  } finally {
    second.stop();
  }

  // A striped document closed while its strips' answer is held: that request is stopped.
  const held = new FileServer(striped);
  globalThis.XMLHttpRequest = held.Xhr;
  const signals = [];
  const holdStrips = (request, init = {}) => {
    if (!/^bytes=0-/.test(init.headers?.Range)) {
      signals.push(init.signal);
      return new Promise((resolve, reject) => init.signal.addEventListener('abort', () => reject(init.signal.reason)));
    }
    return fetch(request, init);
  };
  const heldUrl = await held.start();
  try {
    const out = [];
    const worker = new DecoderWorker(core, (m) => out.push(m), { fetchImpl: holdStrips, sourceOptions: FAST });
    await worker.handle(open(heldUrl));
    const viewing = worker.handle(view(1, 1, 0, 0, 600, 400));
    await new Promise((resolve) => setTimeout(resolve, 50));
    assert.equal(signals.length, 1);
    assert.equal(signals[0].aborted, false);
    await worker.handle({ type: 'close', id: 1 });
    assert.equal(signals[0].aborted, true);
    await viewing;
    assert.deepEqual(errors(out), []);
  } finally {
    held.stop();
  }
});
