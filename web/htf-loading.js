// Loading of <htf-viewer>: a document opened by its address in the worker
// (read in ranges or downloaded once, with progress and the download cap),
// its hotspots taken into the core beside the page before any pixel, the
// reader's messages and errors, and the core's own life (adopted, released,
// discarded after a trap). Members of the element.
import { COMMAND, loadFailure } from './htf-logic.js';
import { core, discardCore, isTrap, openDocument } from './htf-runtime.js';
import { SCROLL_BAR } from './htf-style.js';
import { fileUrl } from './htf-files.js';
import { decodedBytes, tileCache } from './htf-paint.js';
import { HotspotTable } from './htf-hotspot-table.js';

const PROGRESS_DELAY_MS = 300;
const DOWNLOAD_LIMIT = 1024 * 1024 * 1024;         // the module's cap on a download
export const FITS = { window: COMMAND.FIT_WINDOW, width: COMMAND.FIT_WIDTH, height: COMMAND.FIT_HEIGHT };

// An error with its code for htf-error (see loadFailure).
function coded(text, code) {
  const error = new Error(text);
  error.code = code;
  return error;
}

// The reader's error as the module words it: "<where> Error: <what>".
function readerDetail(error) {
  return error ? error.replace('\n', ': ').replace(/^(\w+): /, '$1 Error: ') : '';
}

export const loading = {
  // Opens `src` in the worker: the directories and hotspots come first
  // (htf-hotspots), then the tiles of each view (htf-load once the first
  // picture is complete). The worker reads the file in byte ranges where the
  // server answers them, else downloads it once.
  async _load() {
    const generation = ++this._generation;
    this._loaded = true;
    this._closeReader();
    this._loadEnded();
    this._setDocument(null);
    this._showError('');
    this._view.setAttribute('aria-label', this._documentName());
    const src = this.getAttribute('src');
    if (!src) return;
    this.setAttribute('aria-busy', 'true');
    this._progressTimer = setTimeout(() => { this._progress.style.display = 'block'; }, PROGRESS_DELAY_MS);
    this._timing = { started: performance.now() };
    try {
      if (!this._lensFrame.src) this._lensFrame.src = fileUrl('lens.png');
      const url = new URL(src, document.baseURI).href;
      this._url = url;
      this._progress.classList.add('unknown');
      this._fire('htf-progress', { loaded: 0, total: 0 });
      // The worker is given what the pixels may take once the tiles have their
      // share, so that it does not decode an image only to have it refused.
      // It starts reading while the page's own core may still be compiling;
      // its messages wait for that core.
      const tiles = Math.min(tileCache.limit, this.memoryLimit / 4);
      let early = [];
      this._reader = openDocument({ src: url, memoryLimit: this.memoryLimit - tiles, downloadLimit: DOWNLOAD_LIMIT },
        (message) => (early ? early.push(message) : this._readerMessage(message, generation)));
      this._reading = { open: true, views: 0 };
      this._adoptCore(await core());
      const waiting = early;
      early = null;
      for (const message of waiting) this._readerMessage(message, generation);
    } catch (error) {
      this._loadFailed(error, generation);
    }
  },

  _readerMessage(message, generation) {
    if (generation !== this._generation) return;
    try {
      switch (message.type) {
        case 'progress': return this._loadProgress(message);
        case 'hotspots': return this._opened(message);
        case 'tile': return this._tileArrived(message);
        case 'view-done': return this._viewDone(message);
        case 'error': return this._readerError(message, generation);
        case 'redraw': return this._redraw();
        default: return undefined;
      }
    } catch (error) {
      this._loadFailed(error, generation);
    }
  },

  _loadProgress({ bytesFetched, fileBytes }) {
    this._progress.classList.toggle('unknown', !fileBytes);
    if (fileBytes) this._progressValue.style.width = `${Math.min(100, (100 * bytesFetched) / fileBytes)}%`;
    this._fire('htf-progress', { loaded: bytesFetched, total: fileBytes || 0 });
  },

  // The directories and the hotspots are read: the hotspots and their links
  // are there before any pixel.
  _opened(message) {
    this._reading.open = false;
    const first = message.levels[0];
    if (!first) {
      const detail = readerDetail(message.error);
      throw new Error(detail ? `${this._string('notShown')}\n${detail}` : this._string('notShown'));
    }
    // A striped image is decoded whole in the worker: what does not fit the
    // element's memory at any level is not shown, as the module does with
    // what it cannot hold.
    const tiles = Math.min(tileCache.limit, this.memoryLimit / 4);
    if (message.levels.every((l) => !l.tiled && decodedBytes(l) + tiles > this.memoryLimit)) {
      throw coded(this._string('tooLarge', { width: first.width, height: first.height }), 'too-large');
    }
    this._timing.hotspots = performance.now();
    this._setDocument({ width: message.width, height: message.height, levels: message.levels,
      hotspots: message.hotspots, ranged: message.ranged, fileBytes: message.fileBytes });
    if (!this._doc) throw new Error(this._errorText.textContent || this._string('notShown'));
    this._fire('htf-hotspots', { hotspots: this.hotspots });
  },

  // The first complete picture: htf-load.
  _pictureComplete() {
    if (!this._doc || this._doc.shown) return;
    this._doc.shown = true;
    this._loadEnded();
    const t = this._timing;
    const timings = { hotspots: t.hotspots - t.started, picture: performance.now() - t.started };
    this._fire('htf-load', { width: this._doc.width, height: this._doc.height, hotspots: this._doc.hotspots.length,
      timings });
  },

  // The worker's picture changed where it was drawn already (a damaged
  // colour image turns black all over): its tiles are asked for again.
  _redraw() {
    this._clearTiles();
    if (this._views) this._views.key = '';
    this._paint();
  },

  _readerError(message, generation) {
    if (message.crashed) this._reader = null;
    const { code, status } = loadFailure(message, this._url, location.origin);
    let text = message.message;
    if (message.status) text = this._string('notLoaded', { status: message.status });
    else if (code === 'cors') text = this._string('blocked', { url: this._url, origin: new URL(this._url).origin });
    else if (code === 'network') text = this._string('unreachable', { url: this._url });
    else if (message.tooLarge && this._doc) {
      text = this._string('tooLarge', { width: this._doc.width, height: this._doc.height });
    } else if (message.tooBig) text = this._string('tooBig', { limit: DOWNLOAD_LIMIT });
    else if (!this._doc && !/^The /.test(text)) text = `${this._string('notShown')}\n${readerDetail(text)}`;
    const error = coded(text, code);
    error.status = status;
    this._loadFailed(error, generation);
  },

  // A load that failed: the error is shown and htf-error fired, once for the
  // load, whatever else fails after it (the worker and the core may both).
  _loadFailed(error, generation) {
    if (generation !== this._generation || error.name === 'AbortError' || this._failed === generation) return;
    this._failed = generation;
    const trap = isTrap(error);
    if (trap) this._coreFailed(error);
    this._closeReader();
    this._setDocument(null);
    this._loadEnded();
    const message = error instanceof Error ? error.message : String(error);
    const code = error.code ?? (trap ? 'reader' : loadFailure({ message }, this._url, location.origin).code);
    this._showError(message);
    this._fire('htf-error', { message, code, status: error.status ?? null, url: this._url ?? null });
  },

  _loadEnded() {
    clearTimeout(this._progressTimer);
    this._progress.style.display = 'none';
    this.removeAttribute('aria-busy');
  },

  // The document goes: the worker closes it; a read it still waits for is
  // stopped (a worker busy with it alone is ended).
  _closeReader() {
    const reader = this._reader, reading = this._reading;
    this._reader = null;
    this._reading = null;
    this._views = null;
    this._printing = null;
    if (reader) reader.close(!!reading && (reading.open || reading.views > 0));
  },

  _adoptCore(coreModule) {
    if (this._core === coreModule || coreModule.trapped) return;
    if (this._core) this._releaseCore();
    const viewState = coreModule._htf_view_new(SCROLL_BAR);
    const stateBuffer = coreModule._htf_alloc(20 * 4), rectBuffer = coreModule._htf_alloc(4 * 4);
    if (!viewState || !stateBuffer || !rectBuffer) {
      // The core has no memory left for the smallest of things.
      if (viewState) coreModule._htf_view_release(viewState);
      coreModule._htf_free(stateBuffer);
      coreModule._htf_free(rectBuffer);
      this._fail(new Error(this._string('outOfMemory')));
      return;
    }
    this._core = coreModule;
    this._viewState = viewState;
    this._stateBuffer = stateBuffer;
    this._rectBuffer = rectBuffer;
    this._layout();
  },

  // Gives the view state and buffers back to the core.
  _releaseCore() {
    const c = this._core;
    if (!c) return;
    if (!c.trapped) {
      c._htf_view_release(this._viewState);
      c._htf_free(this._stateBuffer);
      c._htf_free(this._rectBuffer);
    }
    this._clearTiles();
    this._doc = null;
    this._core = null;
    this._viewState = this._stateBuffer = this._rectBuffer = 0;
  },

  // A core call that trapped: the core is thrown away (a new one is made for
  // the next document), the element shows the error. True when it was one.
  _coreFailed(error) {
    if (!isTrap(error)) return false;
    const c = this._core;
    discardCore(c);
    this._closeReader();
    this._doc = null;
    this._core = null;
    this._viewState = 0;
    this._clearTiles();
    this._links.replaceChildren();
    this._linkOf = new Map();
    return true;
  },

  // A failure outside a load (the core trapped while drawing, or has no
  // memory left for a view).
  _fail(error) {
    const message = error instanceof Error ? error.message : String(error);
    this._showError(message);
    this._fire('htf-error', { message, code: isTrap(error) ? 'reader' : 'out-of-memory', status: null,
      url: this._url ?? null });
  },

  _setDocument(result) {
    const c = this._core;
    this._hideTip();
    this._endDrag();
    const previous = this._outlined();
    this._doc = null;
    this._clearTiles();
    this._hover = this._keyboard = this._lastKeyboard = -1;
    this._highlighted = [];
    this._targets = null;
    this._links.replaceChildren();
    this._linkOf = new Map();
    if (previous >= 0) this._syncListRows();
    if (c && this._viewState) c._htf_view_set_image(this._viewState, 0, 0);
    if (result && c) {
      try {
        const table = new HotspotTable(result.hotspots);
        this._doc = { width: result.width, height: result.height, levels: result.levels, hotspots: table,
          ranged: result.ranged, fileBytes: result.fileBytes, shown: false };
        c._htf_view_set_image(this._viewState, result.width, result.height);
        this._addViewHotspots(table);
      } catch (error) {
        this._coreFailed(error);
        this._doc = null;
        throw error;
      }
      this._makeLinks();
      this._describe();
      // The page's fit, applied at once and kept while the element resizes.
      this._keptFit = FITS[this.getAttribute('fit')] ?? 0;
      this._layout();
      this._syncListRows();
      return;
    }
    this._describe();
    this._layout();
  },

  // The hotspots' rectangles into the view model, written straight into its
  // table.
  _addViewHotspots(table) {
    const c = this._core, bytes = table.rects.byteLength;
    if (!table.length) return;
    const rects = c._htf_view_hotspot_rects(this._viewState, table.length);
    if (!rects) throw new Error(this._string('outOfMemory'));
    c.HEAPU8.set(new Uint8Array(table.rects.buffer, table.rects.byteOffset, bytes), rects);
  },

  _showError(message) {
    this._errorText.textContent = message;
    this._error.style.display = message ? 'flex' : 'none';
  },
};
