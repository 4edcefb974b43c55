// The worker's levels document: a document read through the core level by
// level and tile by tile (htf-decoder.js describes the messages it serves).
import { packHotspots } from './htf-hotspot-table.js';
import { HttpRanges, RangeReadError } from './htf-byte-source.js';

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
// A tiled level drawn in the worker is decoded about this many of its tiles
// at a time between two looks at the messages (views, a close).
const MOSAIC_BAND_TILES = 8192;

// The bytes a level takes decoded.
export function decodedBytes(level) {
  return level.bits === 32 ? level.width * level.height * 4 : Math.ceil(level.width * level.bits / 8) * level.height;
}

// A new task after the messages already queued (a timer's would be clamped
// to 4 ms after a few); setImmediate where there is one (node, which an
// open message port would keep running).
let taskChannel = null;
const taskQueue = [];
export function nextTask() {
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
export function copyOut(core, address, bytes) {
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

  // What stopped a tile's decoding that ended in `outcome` (the source's
  // error or `error`, the reader's, first), or null when it decoded.
  tileFailure(outcome, error) {
    if (!this.failure && outcome === OUTCOME_DECODED) return null;
    const tooLarge = outcome === OUTCOME_TOO_LARGE || outcome === OUTCOME_NO_MEMORY;
    const failure = new Error(error || (tooLarge ? 'The image is too large to show' : 'The tile cannot be read'));
    failure.tooLarge = tooLarge && !this.failure;
    return failure;
  }

  // One tile as the worker sends it; throws with the reader's error.
  tile(level, column, row) {
    const core = this.core, l = this.levels[level];
    const tile = core._htf_levels_tile(this.doc, level, column, row);
    if (!tile) throw new Error('Not enough memory to decode a tile');
    try {
      const outcome = core._htf_tile_outcome(tile);
      const error = this.error();
      const failure = this.tileFailure(outcome, error);
      if (failure) throw failure;
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

  // Whether a view at scaledWidth x scaledHeight draws tiled `level` in the
  // worker rather than sending its tiles: each of them would cover less
  // than a quarter of a drawn tile's screen pixels (more messages than the
  // screen needs), and the level's plane fits the memory budget.
  drawsTiled(level, scaledWidth, scaledHeight) {
    const l = this.levels[level];
    if (!l?.tiled || this.mosaicless?.has(level)) return false;
    const onScreen = (l.tileWidth * scaledWidth / l.width) * (l.tileHeight * scaledHeight / l.height);
    return onScreen < (TILE / 2) ** 2 && decodedBytes(l) <= this.memoryLimit;
  }

  // The plane tiled `level` is drawn from, kept for the views that follow
  // (one level at a time); null when it cannot be made (such a level's
  // tiles are sent as they are).
  mosaicLevel(level) {
    if (this.mosaic?.level === level) return this.mosaic;
    this.dropMosaic();
    const handle = this.core._htf_levels_mosaic_begin(this.doc, level);
    if (!handle) {
      (this.mosaicless ??= new Set()).add(level);
      return null;
    }
    this.mosaic = { level, handle };
    return this.mosaic;
  }

  dropMosaic() {
    if (this.mosaic) this.core._htf_mosaic_release(this.mosaic.handle);
    this.mosaic = null;
  }

  // The level's tiles under the drawn tiles in columns [c0, c1] of row `row`
  // (TILE x TILE screen pixels at scaledWidth x scaledHeight) put into the
  // plane: the level's pixels the drawn pixels sample, from the first pixel
  // of the first cell to the last of the last. (A bilevel level's reduced
  // plane samples cells of 8 x 8 pixels, which never cross the edge of a
  // tile: its tiles start on whole bytes.) Their bytes are asked for
  // together; they are decoded a band of MOSAIC_BAND_TILES at a time,
  // letting the messages in between: false when the view is no longer
  // wanted meanwhile. Throws with the reader's error.
  async fillMosaic(mosaic, c0, c1, row, scaledWidth, scaledHeight, stillWanted = () => true) {
    const core = this.core, l = this.levels[mosaic.level];
    const under = (from, to, scaled, size, tile) => {
      const first = Math.floor((from * size) / scaled);
      const last = Math.max(first, Math.min(size, Math.ceil((to * size) / scaled)) - 1);
      return [Math.floor(first / tile), Math.floor(last / tile)];
    };
    const [tc0, tc1] = under(c0 * TILE, Math.min(scaledWidth, (c1 + 1) * TILE), scaledWidth, l.width, l.tileWidth);
    const [tr0, tr1] = under(row * TILE, Math.min(scaledHeight, (row + 1) * TILE), scaledHeight, l.height, l.tileHeight);
    this.prefetch(mosaic.level, { c0: tc0, r0: tr0, c1: tc1, r1: tr1 });
    const bandRows = Math.max(1, Math.floor(MOSAIC_BAND_TILES / (tc1 - tc0 + 1)));
    for (let r = tr0; r <= tr1; r += bandRows) {
      if (r > tr0) {
        await nextTask();
        if (this.mosaic !== mosaic || !stillWanted()) return false;
      }
      const outcome = core._htf_levels_mosaic_fill(this.doc, mosaic.handle, tc0, r, tc1, Math.min(tr1, r + bandRows - 1));
      const error = this.error();
      const failure = this.tileFailure(outcome, error);
      if (failure) throw failure;
      if (error) mosaic.error ||= error;   // a damaged tile still decodes partly
    }
    return true;
  }

  // The tile (column, row) of TILE x TILE screen pixels of tiled `level`
  // drawn at scaledWidth x scaledHeight from its plane, once fillMosaic()
  // put the level's tiles under it there.
  drawnFromMosaic(mosaic, column, row, scaledWidth, scaledHeight) {
    const core = this.core;
    const x = column * TILE, y = row * TILE;
    const width = Math.min(TILE, scaledWidth - x), height = Math.min(TILE, scaledHeight - y);
    const out = core._htf_alloc(width * height * 4);
    if (!out) throw new Error('Not enough memory to draw the image');
    try {
      if (!core._htf_tile_render(core._htf_mosaic_plane(mosaic.handle), x, y, width, height, scaledWidth,
        scaledHeight, out)) {
        throw new Error('The image cannot be drawn at this scale');
      }
      return { level: mosaic.level, rendered: true, column, row, x, y, width, height, scaledWidth, scaledHeight,
        bits: 32, rowBytes: width * 4, pixels: copyOut(core, out, width * height * 4), error: mosaic.error || '' };
    } finally {
      core._htf_free(out);
    }
  }

  release() {
    if (this.doc) this.dropMosaic();
    if (this.doc) this.dropRows();
    if (this.doc) this.core._htf_levels_release(this.doc);
    this.doc = 0;
    LevelsDocument.sources[this.handle] = null;
  }
}
LevelsDocument.sources = [];
