// The decoding worker of <htf-viewer>: reads documents with the portable core
// (WebAssembly) away from the page's thread, so the page never freezes.
//
// Two ways in:
//
// 1. The whole document at once (the page fetched the bytes itself):
//      in:  { id, bytes: ArrayBuffer, memoryLimit? }
//      out: { id, opened, hasImage, tooLarge, fileWidth, fileHeight, error,
//             hotspots, width, height, bits, rowBytes, pixels: ArrayBuffer,
//             palette: ArrayBuffer, decodeMs, heapBytes }
//      An image whose decoded pixels would pass memoryLimit (1 GiB by
//      default) is not decoded: tooLarge, with its hotspots.
//      `hotspots` here and below: packed, as htf-hotspot-table.js describes
//      ({ count, rects, offsets, chars }, the buffers transferred).
//
// 2. A document by its address, read in parts: the directories and the
//    hotspots first, then only the tiles a view needs, at the resolution it
//    needs. With a server that answers range requests (206) the worker reads
//    byte ranges with synchronous requests (they block this worker only);
//    otherwise (a 200 answer, a blob: or data: address) it downloads the
//    document once, streamed, and reads it from memory (htf-byte-source.js:
//    validators, time-outs, retries).
//      in:  { type: 'open', id, src, memoryLimit?, downloadLimit? }
//           src: an absolute URL (the page resolves it against its own base:
//           a relative one here would be taken from this script's address);
//           both limits in bytes, 1 GiB by default (downloadLimit: a whole
//           download; reads by ranges are not limited in total). The page
//           sends views for `id` only after its 'hotspots' message.
//      out: { type: 'hotspots', id, hotspots, width, height, levels, ranged,
//             fileBytes, bytesFetched, heapBytes, error }
//           sent as soon as the directories are read, before any pixel;
//           levels[i]: { width, height, tileWidth, tileHeight, tiled, bits },
//           level 0 is the document's first image, each next one smaller;
//           error: a damaged reduced level or first image, '' without one
//      in:  { type: 'view', id, view, scale, left, top, right, bottom, have?,
//             scaledWidth?, scaledHeight? }
//           the visible part in pixels of the first image and the scale
//           shown (screen pixels per image pixel); `have`: [[level, column,
//           row], ...] tiles the page still holds, not sent again (for the
//           drawn tiles of a striped level: only while the scale stays);
//           scaledWidth/Height: the whole image's size on the screen (the
//           view model's; by default width and height times scale rounded)
//      out: for a tiled level, the level's own tiles, packed as the file has
//           them (the page scales them):
//           { type: 'tile', id, view, level, column, row, x, y, width,
//             height, levelWidth, levelHeight, bits, rowBytes,
//             pixels: ArrayBuffer, palette: ArrayBuffer } for each tile;
//           for a striped level (decoded once, kept in the worker: a band of
//           strips at a time as their bytes arrive, in one streamed range
//           request beside the decoding), the view drawn at its scale in
//           RGBA tiles of TILE x TILE screen pixels, each row of tiles as
//           soon as the rows under it are decoded (a picture from the top):
//           { type: 'tile', id, view, level, rendered: true, column, row,
//             x, y, width, height (screen pixels of the scaled image),
//             scaledWidth, scaledHeight, bits: 32, rowBytes,
//             pixels: ArrayBuffer (RGBA, red first) }; then once
//           { type: 'view-done', id, view, level, tiles, cancelled,
//             bytesFetched, requests, fetchMs, ms, heapBytes }
//           (requests and fetchMs: the source reads of this view and the
//           time spent waiting for them; ms: the whole view)
//           A tile of a damaged document still comes, with `error` set.
//      in:  { type: 'close', id }
//      out: { type: 'closed', id, heapBytes, retire }
//      and at any time:
//           { type: 'progress', id, bytesFetched, fileBytes }
//           (the download, the range reads and the streamed strips)
//           { type: 'redraw', id }: a striped colour level that failed part
//           way is black all over, also where it was drawn already
//           { type: 'error', id, message, tooLarge }
//    A later 'view' or a 'close' of the same document ends a view still
//    sending tiles (at the next tile); ending the worker ends a read at once.
//    `retire` says that the worker's memory grew past `memoryLimit`: the page
//    ends it (terminate) and starts a new one, which gives the memory back.
//
// And first, from the page: { type: 'core', module } (the page's compiled
// core, instantiated here), or { type: 'core', pending: true } and the module
// later; without one the worker loads the core itself.
import createHtfCore from './htf-core.js';
import { instantiateCore } from './htf-core-module.js';
import { noHotspots, packHotspots } from './htf-hotspot-table.js';
import { DEFAULT_DOWNLOAD_LIMIT, HttpRanges, MemoryRanges, RangeReadError, openSource } from './htf-byte-source.js';

export {
  CHANGED, DEFAULT_DOWNLOAD_LIMIT, FIRST_RANGE_BYTES, HttpRanges, MemoryRanges, RangeReadError, checkRangeAnswer,
  openSource,
} from './htf-byte-source.js';

export const DEFAULT_MEMORY_LIMIT = 1024 * 1024 * 1024;
// The side of the tiles a striped level is drawn in, in screen pixels.
export const TILE = 256;
const CACHE_BYTES = 32 * 1024 * 1024;
// The range file's block (RangeFile::kBlockBytes): streamed bytes are handed
// to the core in whole blocks.
const BLOCK_BYTES = 16 * 1024;
// A band of about this many decoded bytes is decoded between two looks at
// the messages (views, a close).
const BAND_BYTES = 4 * 1024 * 1024;
// Streamed strip bytes are read into a buffer of this size.
const STAGE_BYTES = 256 * 1024;
// Progress messages at most this often.
const PROGRESS_MS = 50;
const OUTCOME_DECODED = 0, OUTCOME_TOO_LARGE = 2, OUTCOME_NO_MEMORY = 3;

// The bytes a level takes decoded.
export function decodedBytes(level) {
  return level.bits === 32 ? level.width * level.height * 4 : Math.ceil(level.width * level.bits / 8) * level.height;
}

// A new task after the messages already queued (a timer's would be clamped
// to 4 ms after a few); setImmediate where there is one (node, which an
// open message port would keep running).
let taskChannel = null;
const taskQueue = [];
function nextTask() {
  if (typeof setImmediate === 'function') return new Promise((resolve) => setImmediate(resolve));
  if (!taskChannel) {
    taskChannel = new MessageChannel();
    taskChannel.port1.onmessage = () => taskQueue.shift()();
  }
  return new Promise((resolve) => {
    taskQueue.push(resolve);
    taskChannel.port2.postMessage(0);
  });
}

// Copies a block of the core's memory out, to be handed over without another copy.
function copyOut(core, address, bytes) {
  return core.HEAPU8.slice(address, address + bytes).buffer;
}

// A document read through the core level by level and tile by tile.
export class LevelsDocument {
  // `source.read(offset, length)` gives exactly those bytes or throws.
  // withHotspots false: the levels alone, no hotspots (a probe of the sizes).
  constructor(core, source,
    { memoryLimit = DEFAULT_MEMORY_LIMIT, withHotspots = true, progress = null } = {}) {
    this.core = core;
    this.source = source;
    this.memoryLimit = memoryLimit;
    this.failure = null;   // the first error of the bytes' source
    this.progress = progress;
    this.progressAt = 0;
    this.rows = null;      // the striped level decoded a band at a time
    this.fetched = 0;      // bytes the core asked the source for
    this.requests = 0;     // and in how many reads
    this.fetchMs = 0;      // waiting for them
    this.handle = LevelsDocument.sources.push(this) - 1;
    LevelsDocument.install(core);
    this.doc = core._htf_levels_open(this.handle, source.size, CACHE_BYTES, withHotspots ? 1 : 0);
    if (!this.doc) throw new Error('Not enough memory to read the document');
    if (!core._htf_levels_opened(this.doc)) {
      const error = this.error();
      this.release();
      throw new Error(error || 'The document is not a TIFF document');
    }
    const out = core._htf_alloc(24);
    if (!out) throw new Error('Not enough memory to read the document');
    this.levels = [];
    for (let i = 0; i < core._htf_levels_count(this.doc); ++i) {
      core._htf_levels_info(this.doc, i, out);
      const [width, height, tileWidth, tileHeight, tiled, bits] = core.HEAP32.subarray(out >> 2, (out >> 2) + 6);
      this.levels.push({ width, height, tileWidth, tileHeight, tiled: tiled !== 0, bits });
    }
    core._htf_free(out);
    this.openError = this.error();
  }

  // The core asks for bytes through Module.htfReadRange(source, offset, length, address).
  static install(core) {
    if (core.htfReadRange) return;
    core.htfReadRange = (handle, offset, length, address) => {
      const document = LevelsDocument.sources[handle];
      if (!document || document.failure) return 0;
      try {
        const started = performance.now();
        const bytes = document.source.read(offset, length);
        document.fetchMs += performance.now() - started;
        ++document.requests;
        if (bytes.length !== length) throw new RangeReadError(`${bytes.length} bytes came for ${length}`);
        document.fetched += length;
        core.HEAPU8.set(bytes, address);
        if (document.source instanceof HttpRanges) document.reportProgress();
        return 1;
      } catch (error) {
        document.failure = error;
        return 0;
      }
    };
  }

  get width() { return this.levels.length ? this.levels[0].width : 0; }
  get height() { return this.levels.length ? this.levels[0].height : 0; }

  bytesFetched() {
    return this.doc ? this.core._htf_levels_fetched(this.doc) : 0;
  }

  // Tells the page how far the reads got (not more often than PROGRESS_MS).
  reportProgress(force = false) {
    const now = performance.now();
    if (!this.progress || (!force && now - this.progressAt < PROGRESS_MS)) return;
    this.progressAt = now;
    this.progress(Math.min(this.source.size, this.bytesFetched()), this.source.size);
  }

  // The first error since the last call: the source's before libtiff's.
  error() {
    const tiff = this.doc ? this.core.UTF8ToString(this.core._htf_levels_error(this.doc)) : '';
    if (this.failure) {
      const failure = this.failure;
      return failure instanceof RangeReadError && !/^The /.test(failure.message)
        ? `The document could not be read: ${failure.message}` : String(failure.message || failure);
    }
    return tiff;
  }

  // The level a view at `scale` shows, and whether it fits the memory budget
  // (a striped level is decoded whole); coarser levels when it does not.
  levelFor(scale) {
    let level = this.core._htf_levels_for(this.doc, scale);
    for (; level < this.levels.length; ++level) {
      const l = this.levels[level];
      if (l.tiled || decodedBytes(l) <= this.memoryLimit) return level;
    }
    return -1;
  }

  // Tiles of `level` covering the rectangle (pixels of the first image).
  tilesFor(level, left, top, right, bottom) {
    const l = this.levels[level];
    const sx = l.width / this.width, sy = l.height / this.height;
    const clamp = (v, max) => Math.max(0, Math.min(max, v));
    const c0 = clamp(Math.floor(left * sx / l.tileWidth), Math.ceil(l.width / l.tileWidth) - 1);
    const c1 = clamp(Math.ceil(right * sx / l.tileWidth) - 1, Math.ceil(l.width / l.tileWidth) - 1);
    const r0 = clamp(Math.floor(top * sy / l.tileHeight), Math.ceil(l.height / l.tileHeight) - 1);
    const r1 = clamp(Math.ceil(bottom * sy / l.tileHeight) - 1, Math.ceil(l.height / l.tileHeight) - 1);
    return { c0, r0, c1: Math.max(c0, c1), r1: Math.max(r0, r1) };
  }

  // The hotspots packed for the page (see htf-hotspot-table.js), with the
  // buffers to transfer.
  hotspots() {
    return packHotspots(this.core, this.core._htf_levels_hotspots(this.doc));
  }

  prefetch(level, { c0, r0, c1, r1 }) {
    this.core._htf_levels_prefetch(this.doc, level, c0, r0, c1, r1);
  }

  // One tile as the worker sends it; throws with the reader's error.
  tile(level, column, row) {
    const core = this.core, l = this.levels[level];
    const tile = core._htf_levels_tile(this.doc, level, column, row);
    if (!tile) throw new Error('Not enough memory to decode a tile');
    try {
      const outcome = core._htf_tile_outcome(tile);
      const error = this.error();
      if (this.failure || outcome !== OUTCOME_DECODED) {
        const tooLarge = outcome === OUTCOME_TOO_LARGE || outcome === OUTCOME_NO_MEMORY;
        const failure = new Error(error || (tooLarge ? 'The image is too large to show' : 'The tile cannot be read'));
        failure.tooLarge = tooLarge && !this.failure;
        throw failure;
      }
      const pixels = core._htf_tile_pixels(tile), palette = core._htf_tile_palette(tile);
      return {
        level, column, row, x: column * l.tileWidth, y: row * l.tileHeight,
        width: core._htf_tile_width(tile), height: core._htf_tile_height(tile),
        levelWidth: l.width, levelHeight: l.height,
        bits: core._htf_tile_bits(tile), rowBytes: core._htf_tile_row_bytes(tile),
        pixels: copyOut(core, pixels, core._htf_tile_pixel_bytes(tile)),
        palette: copyOut(core, palette, 4 * core._htf_tile_palette_count(tile)),
        error,   // a damaged tile still decodes partly
      };
    } finally {
      core._htf_tile_release(tile);
    }
  }

  // A striped level decoded a band of rows at a time, kept for the views
  // that follow: started by the first view that needs it, then fed by
  // feedRows() while views draw the rows decoded so far.
  stripedLevel(level) {
    if (this.rows && this.rows.level === level) {
      if (this.rows.failure) throw this.rows.failure;
      return this.rows;
    }
    this.dropRows();
    const core = this.core, l = this.levels[level];
    // The strips' request goes out first: their bytes are on their way
    // while the image's memory is being made.
    const request = this.requestStrips(level);
    const tile = core._htf_levels_rows_begin(this.doc, level);
    if (!tile) {
      request.abort?.abort();
      throw new Error('Not enough memory to decode the image');
    }
    const outcome = core._htf_tile_outcome(tile), error = this.error();
    if (this.failure || outcome !== OUTCOME_DECODED) {
      request.abort?.abort();
      core._htf_tile_release(tile);
      const failure = new Error(error || 'The image is too large to show');
      failure.tooLarge = !this.failure && (outcome === OUTCOME_TOO_LARGE || outcome === OUTCOME_NO_MEMORY);
      throw failure;
    }
    const rows = this.rows = { level, tile, height: l.height, done: 0, finished: false, failure: null, error,
      cleared: false, waiters: [], abort: request.abort, sinceYield: 0 };
    this.feedRows(rows, request).catch((failure) => this.rowsFailed(rows, failure));
    return rows;
  }

  // The span of a striped level's strips in the file (whole blocks) and,
  // through ranges, the one request for the part of it that the first
  // answer does not hold: { span, at, abort, answer } (answer: a promise of
  // { response } or { error }, never rejected). { span: null } when the
  // strips cannot be told; no request when the bytes are in hand.
  requestStrips(level) {
    const core = this.core, size = this.source.size;
    const out = core._htf_alloc(16);
    if (!out) return { span: null };
    let span = null;
    if (core._htf_levels_strip_span(this.doc, level, out)) {
      const [begin, end] = core.HEAPF64.subarray(out >> 3, (out >> 3) + 2);
      span = { begin: Math.floor(begin / BLOCK_BYTES) * BLOCK_BYTES, end: Math.min(size, Math.ceil(end / BLOCK_BYTES) * BLOCK_BYTES) };
    }
    core._htf_free(out);
    if (!span || !(this.source instanceof HttpRanges)) return { span };
    // What the first answer holds already is not asked for again.
    const first = this.source.first;
    let at = span.begin;
    if (at < first.length) at = Math.max(at, Math.min(span.end, Math.floor(first.length / BLOCK_BYTES) * BLOCK_BYTES));
    if (at >= span.end) return { span, at };
    const abort = new AbortController();
    const answer = this.source.stream(at, span.end, abort.signal, STAGE_BYTES).then((stream) => ({ stream }), (error) => ({ error }));
    return { span, at, abort, answer };
  }

  // Resolves once the level's rows up to `count` are decoded (or it ended).
  rowsReady(rows, count) {
    if (rows.done >= count || rows.finished) return Promise.resolve();
    return new Promise((resolve) => rows.waiters.push({ count, resolve }));
  }

  rowsAdvanced(rows) {
    rows.waiters = rows.waiters.filter((w) => {
      if (rows.done < w.count && !rows.finished) return true;
      w.resolve();
      return false;
    });
  }

  rowsFailed(rows, failure) {
    if (this.rows !== rows || failure?.name === 'AbortError') return;   // dropped meanwhile
    rows.failure = failure instanceof RangeReadError && !/^The /.test(failure.message)
      ? new Error(`The document could not be read: ${failure.message}`) : failure;
    rows.finished = true;
    this.rowsAdvanced(rows);
    this.onRowsFailed?.(rows.failure);
  }

  // Decodes the rows the bytes in hand hold, a band at a time, letting the
  // messages in between.
  async decodeReady(rows, ready) {
    const core = this.core, l = this.levels[rows.level];
    const band = Math.max(1, Math.floor(BAND_BYTES / Math.max(1, l.bits === 32 ? l.width * 4 : (l.width * l.bits) / 8)));
    while (rows.done < ready && this.rows === rows) {
      if (rows.sinceYield >= band) {
        rows.sinceYield = 0;
        await nextTask();
        if (this.rows !== rows) return;
      }
      const step = Math.min(ready, rows.done + band - rows.sinceYield);
      const done = core._htf_levels_rows_decode(this.doc, rows.tile, step);
      const error = this.error();
      if (error && !rows.error) rows.error = error;
      if (this.failure || core._htf_levels_changed(this.doc)) throw new Error(this.error() || 'The document could not be read');
      if (core._htf_levels_rows_cleared(this.doc) && !rows.cleared) {
        rows.cleared = true;
        this.onRowsCleared?.();
      }
      if (done <= rows.done) break;   // nothing more to decode from these bytes
      rows.sinceYield += done - rows.done;
      rows.done = done;
      this.rowsAdvanced(rows);
    }
  }

  // Feeds the striped level's rows: through ranges, the bytes of all its
  // strips in one streamed request, handed to the core in pieces and decoded
  // as their strips complete, so that fetching and decoding overlap; from a
  // document in memory, straight away.
  async feedRows(rows, request) {
    if (request.span && this.source instanceof HttpRanges) await this.streamStrips(rows, request);
    if (this.rows === rows && !rows.finished) await this.decodeReady(rows, rows.height);
    if (this.rows !== rows) return;
    rows.finished = true;
    this.rowsAdvanced(rows);
    this.reportProgress(true);
  }

  // Hands `bytes` (at file offset `at`) to the core.
  supply(at, bytes) {
    const core = this.core, address = core._htf_alloc(Math.max(1, bytes.length));
    if (!address) return;   // the reads fetch them themselves
    core.HEAPU8.set(bytes, address);
    core._htf_levels_supply(this.doc, at, address, bytes.length);
    core._htf_free(address);
  }

  async streamStrips(rows, { span: { begin, end }, at, answer }) {
    // What the first answer holds already.
    if (at > begin) this.supply(begin, this.source.first.subarray(begin, at));
    if (!answer) return;
    const started = performance.now();
    const { stream, error } = await answer;
    if (error) {
      if (this.rows !== rows || error?.name === 'AbortError') return;
      if (error instanceof RangeReadError) throw error;
      throw new RangeReadError(`the range request failed (${error.message || error})`);
    }
    const core = this.core;
    if (this.rows !== rows) {
      stream.cancel();
      return;
    }
    ++this.requests;
    // The bytes go straight into a staging block of the core's memory and
    // from there, whole blocks at a time, into its cache: no copy of the
    // file's bytes is kept in JavaScript. A byte stream is read into one
    // reused buffer (no garbage of 138 MB of pieces for the collector).
    let stageBytes = STAGE_BYTES + BLOCK_BYTES, stage = core._htf_alloc(stageBytes), held = 0, ended = false;
    if (!stage) {
      stream.cancel();
      throw new Error('Not enough memory to read the document');
    }
    try {
      for (;;) {
        let done, value;
        try {
          ({ done, value } = await stream.read());
        } catch (error) {
          if (this.rows !== rows || error?.name === 'AbortError') return;
          throw error;
        }
        if (this.rows !== rows) return;
        if (done) ended = true;
        if (value) {
          if (held + value.length > stageBytes) {
            const larger = core._htf_alloc(held + value.length);
            if (!larger) throw new Error('Not enough memory to read the document');
            core.HEAPU8.copyWithin(larger, stage, stage + held);
            core._htf_free(stage);
            stage = larger, stageBytes = held + value.length;
          }
          core.HEAPU8.set(value, stage + held);
          held += value.length;
        }
        // Whole blocks to the core's cache, the rest kept for the next piece.
        const whole = done ? held : Math.floor(held / BLOCK_BYTES) * BLOCK_BYTES;
        if (whole > 0) {
          core._htf_levels_supply(this.doc, at, stage, whole);
          core.HEAPU8.copyWithin(stage, stage + whole, stage + held);
          held -= whole;
          at += whole;
          this.fetched += whole;
          this.fetchMs += performance.now() - started;
          this.reportProgress(done);
          const ready = core._htf_levels_rows_within(this.doc, rows.level, rows.done, begin, at);
          await this.decodeReady(rows, ready);
          if (this.rows !== rows) return;
        }
        if (done) return;
      }
    } finally {
      if (!ended) stream.cancel();
      if (this.core === core && !core.trapped) core._htf_free(stage);
    }
  }

  dropRows() {
    const rows = this.rows;
    if (!rows) return;
    this.rows = null;
    rows.abort?.abort();
    rows.finished = true;
    rows.failure = new Error('The level was put aside');
    this.rowsAdvanced(rows);
    this.core._htf_levels_rows_end(this.doc);
    this.core._htf_tile_release(rows.tile);
  }

  // The rows of tile row `row` at scaledHeight reach down to this source
  // row of the level (the cells of the sampling rule, whole cells of 8 rows
  // of a bilevel image's reduced plane).
  static rowsUnder(row, scaledHeight, height) {
    const bottom = Math.min(scaledHeight, (row + 1) * TILE);
    const last = Math.floor((bottom * height) / scaledHeight);
    return Math.min(height, Math.ceil((last + 2) / 8) * 8);
  }

  // The tile (column, row) of TILE x TILE screen pixels of a striped level
  // drawn at scaledWidth x scaledHeight, once the rows under it are decoded.
  async rendered(level, column, row, scaledWidth, scaledHeight, stillWanted = () => true) {
    const rows = this.stripedLevel(level);
    await this.rowsReady(rows, LevelsDocument.rowsUnder(row, scaledHeight, rows.height));
    if (this.rows !== rows || !stillWanted()) return null;   // put aside, or the view is over
    if (rows.failure) throw rows.failure;
    const core = this.core, tile = rows.tile;
    const x = column * TILE, y = row * TILE;
    const width = Math.min(TILE, scaledWidth - x), height = Math.min(TILE, scaledHeight - y);
    const out = core._htf_alloc(width * height * 4);
    if (!out) throw new Error('Not enough memory to draw the image');
    try {
      if (!core._htf_tile_render(tile, x, y, width, height, scaledWidth, scaledHeight, out)) {
        throw new Error('The image cannot be drawn at this scale');
      }
      return { level, rendered: true, column, row, x, y, width, height, scaledWidth, scaledHeight, bits: 32,
        rowBytes: width * 4, pixels: copyOut(core, out, width * height * 4), error: rows.error };
    } finally {
      core._htf_free(out);
    }
  }

  release() {
    if (this.doc) this.dropRows();
    if (this.doc) this.core._htf_levels_release(this.doc);
    this.doc = 0;
    LevelsDocument.sources[this.handle] = null;
  }
}
LevelsDocument.sources = [];

// The whole document at once, as the first way in.
function readWhole(core, bytes) {
  const data = new Uint8Array(bytes);
  const input = core._htf_alloc(Math.max(1, data.length));
  if (!input) return { result: { opened: false, hasImage: false, error: 'Out of memory', hotspots: noHotspots() } };
  core.HEAPU8.set(data, input);
  // The message's copy is not needed once the core has its own: given back
  // now (a detached buffer frees its memory), so that the document is held
  // once while it is read. A buffer that cannot be detached stays as it is.
  const size = data.length;
  try {
    bytes.transfer?.(0);
  } catch {
    // kept until the message goes
  }
  const doc = core._htf_read(input, size);
  core._htf_free(input);
  if (!doc) return { result: { opened: false, hasImage: false, error: 'Out of memory', hotspots: noHotspots() } };
  try {
    const result = {
      opened: core._htf_doc_opened(doc) !== 0,
      hasImage: core._htf_doc_has_image(doc) !== 0,
      tooLarge: core._htf_doc_too_large(doc) !== 0,
      fileWidth: core._htf_doc_file_width(doc),
      fileHeight: core._htf_doc_file_height(doc),
      error: core.UTF8ToString(core._htf_doc_error(doc)),
    };
    const hotspots = packHotspots(core, core._htf_doc_hotspots(doc));
    result.hotspots = hotspots.packed;
    const transfer = hotspots.transfer;
    if (result.hasImage) {
      const pixels = core._htf_doc_pixels(doc), bytesOf = core._htf_doc_pixel_bytes(doc);
      const palette = core._htf_doc_palette(doc), colours = core._htf_doc_palette_count(doc);
      result.width = core._htf_doc_width(doc);
      result.height = core._htf_doc_height(doc);
      result.bits = core._htf_doc_bits(doc);
      result.rowBytes = core._htf_doc_row_bytes(doc);
      result.pixels = copyOut(core, pixels, bytesOf);
      result.palette = copyOut(core, palette, 4 * colours);
      transfer.push(...[result.pixels, result.palette].filter(Boolean));
    }
    return { result, transfer };
  } finally {
    core._htf_doc_release(doc);
  }
}

// The worker's side of the messages above; `post(message, transfer)` sends
// to the page. Kept apart from the worker's globals so that it runs in tests.
export class DecoderWorker {
  // `makeCore()`: a new core (a promise) for when a call into this one trapped.
  // `sourceOptions`: the byte sources' fetch, time-outs and retry delays
  // (openSource), replaced in tests.
  constructor(core, post, { fetchImpl, makeCore, sourceOptions = {} } = {}) {
    this.core = core;
    this.post = post;
    this.sourceOptions = { ...sourceOptions, ...(fetchImpl ? { fetchImpl } : {}) };
    this.makeCore = makeCore;
    this.nextCore = null;
    this.documents = new Map();   // id -> { document, memoryLimit, view }
  }

  heapBytes() {
    return this.core ? this.core.HEAPU8.length : 0;
  }

  async handle(message) {
    const { type, id } = message;
    // An open asks for its first bytes while the core is still being made.
    if (type !== 'open') await this.coreReady();
    if (type === undefined) return this.whole(message);
    try {
      if (type === 'open') return await this.open(message);
      if (type === 'view') return await this.view(message);
      if (type === 'close') return this.close(message);
      throw new Error(`Unknown message "${type}"`);
    } catch (error) {
      if (this.trapped(error, id)) {
        this.post({ type: 'error', id, message: `The reader failed: ${error.message || error}` });
        return;
      }
      this.post({ type: 'error', id, message: String(error.message || error), tooLarge: !!error.tooLarge,
        status: error.status, tooBig: !!error.tooBig });
    }
  }

  async coreReady() {
    while (this.nextCore) {
      const pending = this.nextCore, core = await pending;
      if (this.nextCore === pending) this.core = core, this.nextCore = null;
    }
  }

  // A call into the core that trapped may have left its memory inconsistent:
  // the core is not used again. Its documents are gone (each open one is told
  // so) and the next message waits for a new core. True when it was a trap.
  trapped(error, id) {
    if (!(error instanceof WebAssembly.RuntimeError) || !this.makeCore) return false;
    const lost = [...this.documents.keys()];
    for (const entry of this.documents.values()) entry.closed = true;
    this.documents.clear();
    LevelsDocument.sources.fill(null);
    this.core = null;
    this.nextCore = this.makeCore();
    for (const other of lost.filter((other) => other !== id)) {
      this.post({ type: 'error', id: other, message: `The reader failed: ${error.message || error}` });
    }
    return true;
  }

  whole({ id, bytes, memoryLimit = DEFAULT_MEMORY_LIMIT }) {
    let result, transfer = [];
    const started = performance.now();
    try {
      ({ result, transfer = [] } = this.overBudget(bytes, memoryLimit) || readWhole(this.core, bytes));
      result.decodeMs = performance.now() - started;
    } catch (error) {
      result = { opened: false, hasImage: false, error: `The reader failed: ${error}`, hotspots: noHotspots() };
      transfer = [];
      this.trapped(error);
    }
    result.id = id;
    result.heapBytes = this.heapBytes();
    this.post(result, transfer);
  }

  // The answer for a document whose first image would decode past the
  // budget, from its directory alone; null when it fits (or cannot be told).
  overBudget(bytes, memoryLimit) {
    const probe = (withHotspots) => {
      try {
        return new LevelsDocument(this.core, new MemoryRanges(new Uint8Array(bytes)), { memoryLimit, withHotspots });
      } catch {
        return null;   // the whole reader reports what is wrong
      }
    };
    // The sizes first, without the hotspots (the whole read gets them when
    // the image fits); only an image past the budget reads them here.
    const sizes = probe(false);
    if (!sizes) return null;
    const first = sizes.levels[0];
    sizes.release();
    if (!first || decodedBytes(first) <= memoryLimit) return null;
    const withHotspots = probe(true);
    try {
      const { packed, transfer } = withHotspots ? withHotspots.hotspots() : { packed: noHotspots(), transfer: [] };
      return { result: { opened: true, hasImage: false, tooLarge: true, fileWidth: first.width,
        fileHeight: first.height, error: '', hotspots: packed }, transfer };
    } finally {
      withHotspots?.release();
    }
  }

  async open({ id, src, memoryLimit = DEFAULT_MEMORY_LIMIT, downloadLimit = DEFAULT_DOWNLOAD_LIMIT }) {
    this.close({ id, quiet: true });
    const entry = { document: null, memoryLimit, view: 0, closed: false };
    this.documents.set(id, entry);
    const progress = (bytesFetched, fileBytes) => this.post({ type: 'progress', id, bytesFetched, fileBytes });
    let opened;
    try {
      opened = await openSource(src, { ...this.sourceOptions, downloadLimit, progress });
    } catch (error) {
      if (this.documents.get(id) === entry) this.documents.delete(id);
      const failure = new Error(error instanceof RangeReadError && !/^The /.test(error.message)
        ? `The document could not be read: ${error.message}` : String(error.message || error));
      failure.status = error.status;
      failure.tooBig = error.tooBig;
      throw failure;
    }
    await this.coreReady();
    if (entry.closed) return;   // closed or replaced during the first request
    entry.document = new LevelsDocument(this.core, opened.source, { memoryLimit, progress });
    const doc = entry.document;
    // The striped level's own reads end in an error or make it black after
    // its views were sent: the page is told.
    doc.onRowsFailed = (failure) => {
      if (this.documents.get(id) === entry) this.post({ type: 'error', id, message: String(failure.message || failure) });
    };
    doc.onRowsCleared = () => {
      if (this.documents.get(id) === entry) this.post({ type: 'redraw', id });
    };
    const hotspots = doc.hotspots();
    this.post({
      type: 'hotspots', id, hotspots: hotspots.packed, width: doc.width, height: doc.height, levels: doc.levels,
      ranged: opened.ranged, fileBytes: opened.source.size, bytesFetched: doc.bytesFetched(),
      heapBytes: this.heapBytes(), error: doc.openError,
    }, hotspots.transfer);
    // A document of one striped image: every view needs that image, so its
    // strips are fetched and decoded from now on, before the first view
    // arrives.
    if (doc.levels.length === 1 && !doc.levels[0].tiled && doc.levelFor(1) === 0) {
      try {
        doc.stripedLevel(0);
      } catch {
        // The first view reports what is wrong.
      }
    }
  }

  async view({ id, view = 0, scale = 1, left = 0, top = 0, right, bottom, have = [], scaledWidth, scaledHeight }) {
    const entry = this.documents.get(id);
    if (!entry || !entry.document) throw new Error('No document is open');
    const doc = entry.document;
    entry.view = view;
    if (!doc.levels.length) throw new Error(doc.openError || 'The document has no image to show');
    const level = doc.levelFor(scale);
    if (level < 0) {
      const tooLarge = new Error('The image is too large to show');
      tooLarge.tooLarge = true;
      throw tooLarge;
    }
    const held = new Set(have.map(([l, c, r]) => `${l}/${c}/${r}`));
    const started = performance.now(), fetchMsBefore = doc.fetchMs, requestsBefore = doc.requests;
    let range, next;
    if (doc.levels[level].tiled) {
      range = doc.tilesFor(level, left, top, right ?? doc.width, bottom ?? doc.height);
      doc.prefetch(level, range);
      next = (column, row) => doc.tile(level, column, row);
    } else {
      // Striped: decoded in the worker as its strips arrive, drawn at the
      // view's scale a row of tiles at a time, each once the rows under it
      // are there.
      const sw = Math.max(1, scaledWidth ?? Math.round(doc.width * scale));
      const sh = Math.max(1, scaledHeight ?? Math.round(doc.height * scale));
      const fx = sw / doc.width, fy = sh / doc.height, last = (n) => Math.max(0, Math.ceil(n / TILE) - 1);
      const cell = (v, f, n) => Math.max(0, Math.min(last(n), Math.floor(v * f / TILE)));
      range = { c0: cell(left, fx, sw), r0: cell(top, fy, sh),
        c1: cell(Math.max(left, (right ?? doc.width) - 1e-6), fx, sw),
        r1: cell(Math.max(top, (bottom ?? doc.height) - 1e-6), fy, sh) };
      doc.stripedLevel(level);
      const wanted = () => !entry.closed && entry.view === view;
      next = (column, row) => doc.rendered(level, column, row, sw, sh, wanted);
    }
    let tiles = 0, cancelled = false;
    for (let row = range.r0; row <= range.r1 && !cancelled; ++row) {
      for (let column = range.c0; column <= range.c1; ++column) {
        if (held.has(`${level}/${column}/${row}`)) continue;
        const tile = await next(column, row);
        if (!tile) {
          cancelled = true;
          break;
        }
        this.post({ type: 'tile', id, view, ...tile }, [tile.pixels, tile.palette].filter(Boolean));
        ++tiles;
        // Lets a newer view or a close of this document in before the next tile.
        await nextTask();
        if (entry.closed || entry.view !== view) {
          cancelled = true;
          break;
        }
      }
    }
    if (doc.core !== this.core) return;   // the core trapped meanwhile
    this.post({ type: 'view-done', id, view, level, tiles, cancelled, bytesFetched: doc.bytesFetched(),
      requests: doc.requests - requestsBefore, fetchMs: doc.fetchMs - fetchMsBefore,
      ms: performance.now() - started, heapBytes: this.heapBytes() });
  }

  close({ id, quiet = false }) {
    const entry = this.documents.get(id);
    if (entry) {
      entry.closed = true;
      if (entry.document) entry.document.release();
      this.documents.delete(id);
    }
    if (quiet) return;
    const heapBytes = this.heapBytes();
    const limit = entry ? entry.memoryLimit : DEFAULT_MEMORY_LIMIT;
    this.post({ type: 'closed', id, heapBytes, retire: heapBytes > limit });
  }
}

// In a worker: answer the page's messages. The page hands over its compiled
// core ({ type: 'core', module }; { type: 'core', pending: true } first
// while it is still compiling, and module null when it could not), which the
// worker instantiates; a worker told nothing of it loads the core itself at
// its first message. An open's first request does not wait for the core.
if (typeof WorkerGlobalScope !== 'undefined' && self instanceof WorkerGlobalScope) {
  let compiled = null, awaiting = null;
  const makeCore = () => (compiled ? instantiateCore(compiled) : createHtfCore());
  const worker = new DecoderWorker(null, (message, transfer) => self.postMessage(message, transfer || []), { makeCore });
  self.onmessage = (event) => {
    const message = event.data;
    if (message.type === 'core') {
      if (message.pending) {
        worker.nextCore ??= new Promise((resolve) => { awaiting = resolve; });
        return;
      }
      compiled = message.module || null;
      if (awaiting) awaiting(makeCore()), awaiting = null;
      else if (!worker.core && !worker.nextCore) worker.nextCore = makeCore();
      return;
    }
    if (!worker.core && !worker.nextCore) worker.nextCore = makeCore();
    worker.handle(message);
  };
}
