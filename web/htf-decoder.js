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
//           row], ...] tiles the page still holds, not sent again; drawn
//           tiles (below) as [level, column, row, 1], only while the scale
//           stays;
//           scaledWidth/Height: the whole image's size on the screen (the
//           view model's; by default width and height times scale rounded)
//      out: for a tiled level, the level's own tiles, packed as the file has
//           them (the page scales them):
//           { type: 'tile', id, view, level, column, row, x, y, width,
//             height, levelWidth, levelHeight, bits, rowBytes,
//             pixels: ArrayBuffer, palette: ArrayBuffer } for each tile;
//           for a striped level (decoded once, kept in the worker: a band of
//           strips at a time as their bytes arrive, in one streamed range
//           request beside the decoding), and for a tiled level whose tiles
//           would each cover less than a quarter of TILE x TILE screen
//           pixels (its tiles under the view read into a plane of the
//           level kept in the worker, a row of drawn tiles at a time), the
//           view drawn at its scale in RGBA tiles of TILE x TILE screen
//           pixels, each row of tiles as soon as the rows under it are
//           decoded (a picture from the top):
//           { type: 'tile', id, view, level, rendered: true, column, row,
//             x, y, width, height (screen pixels of the scaled image),
//             scaledWidth, scaledHeight, bits: 32, rowBytes,
//             pixels: ArrayBuffer (RGBA, red first) }; then once
//           { type: 'view-done', id, view, level, rendered, tiles,
//             cancelled, bytesFetched, requests, fetchMs, ms, heapBytes }
//           (rendered: the view was drawn here)
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
//           { type: 'error', id, message, tooLarge, status, tooBig, network }
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
import { locateCore } from './htf-core-file.js';
import { fileUrl } from './htf-files.js';
import { noHotspots, packHotspots } from './htf-hotspot-table.js';
import { DEFAULT_DOWNLOAD_LIMIT, HttpRanges, MemoryRanges, RangeReadError, openSource } from './htf-byte-source.js';
import { DEFAULT_MEMORY_LIMIT, LevelsDocument, copyOut, decodedBytes, nextTask, TILE } from './htf-levels-document.js';

export {
  CHANGED, DEFAULT_DOWNLOAD_LIMIT, FIRST_RANGE_BYTES, HttpRanges, MemoryRanges, RangeReadError, checkRangeAnswer,
  openSource,
} from './htf-byte-source.js';

export { DEFAULT_MEMORY_LIMIT, LevelsDocument, decodedBytes, TILE };

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
        status: error.status, tooBig: !!error.tooBig, network: !!error.network });
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
      failure.network = error instanceof TypeError || !!error.network;   // no answer at all (offline, refused, CORS)
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
    const sw = Math.max(1, scaledWidth ?? Math.round(doc.width * scale));
    const sh = Math.max(1, scaledHeight ?? Math.round(doc.height * scale));
    const tiled = doc.levels[level].tiled;
    // A tiled level whose tiles are much smaller than the screen's is drawn
    // here like a striped one: as many messages as the screen has tiles,
    // whatever the level's tiling.
    const mosaic = tiled && doc.drawsTiled(level, sw, sh) ? doc.mosaicLevel(level) : null;
    const rendered = !tiled || !!mosaic;
    // The page lists the drawn tiles it holds with a fourth element.
    const held = new Set(have.filter((h) => !!h[3] === rendered).map(([l, c, r]) => `${l}/${c}/${r}`));
    const started = performance.now(), fetchMsBefore = doc.fetchMs, requestsBefore = doc.requests;
    let range, next, startRow = null;
    const wanted = () => !entry.closed && entry.view === view;
    if (!rendered) {
      range = doc.tilesFor(level, left, top, right ?? doc.width, bottom ?? doc.height);
      doc.prefetch(level, range);
      next = (column, row) => doc.tile(level, column, row);
    } else {
      // The drawn tiles of TILE x TILE screen pixels the view meets.
      const fx = sw / doc.width, fy = sh / doc.height, last = (n) => Math.max(0, Math.ceil(n / TILE) - 1);
      const cell = (v, f, n) => Math.max(0, Math.min(last(n), Math.floor(v * f / TILE)));
      range = { c0: cell(left, fx, sw), r0: cell(top, fy, sh),
        c1: cell(Math.max(left, (right ?? doc.width) - 1e-6), fx, sw),
        r1: cell(Math.max(top, (bottom ?? doc.height) - 1e-6), fy, sh) };
    }
    if (mosaic) {
      // Tiled, drawn from the level's plane: the level's tiles under a row of
      // drawn tiles are fetched together and put in the plane, then that row
      // is drawn.
      startRow = (row, c0, c1) => doc.fillMosaic(mosaic, c0, c1, row, sw, sh, wanted);
      next = (column, row) => doc.drawnFromMosaic(mosaic, column, row, sw, sh);
    } else if (!tiled) {
      // Striped: decoded in the worker as its strips arrive, drawn at the
      // view's scale a row of tiles at a time, each once the rows under it
      // are there.
      doc.stripedLevel(level);
      next = (column, row) => doc.rendered(level, column, row, sw, sh, wanted);
    }
    let tiles = 0, cancelled = false;
    for (let row = range.r0; row <= range.r1 && !cancelled; ++row) {
      const columns = [];
      for (let column = range.c0; column <= range.c1; ++column) {
        if (!held.has(`${level}/${column}/${row}`)) columns.push(column);
      }
      if (columns.length && startRow && !(await startRow(row, columns[0], columns[columns.length - 1]))) {
        cancelled = true;
        break;
      }
      for (const column of columns) {
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
    this.post({ type: 'view-done', id, view, level, rendered, tiles, cancelled, bytesFetched: doc.bytesFetched(),
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

// The core's code beside this script (the build this engine runs), named as
// bundlers follow it: loaded from there only when the page could not hand
// over its compiled core.
const coreFile = (file) => fileUrl(locateCore(file));

// In a worker: answer the page's messages. The page hands over its compiled
// core ({ type: 'core', module }; { type: 'core', pending: true } first
// while it is still compiling, and module null when it could not), which the
// worker instantiates; a worker told nothing of it loads the core itself at
// its first message. An open's first request does not wait for the core.
if (typeof WorkerGlobalScope !== 'undefined' && self instanceof WorkerGlobalScope) {
  let compiled = null, awaiting = null;
  const makeCore = () => (compiled ? instantiateCore(compiled) : createHtfCore({ locateFile: coreFile }));
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
