// Loading of <htf-viewer>: fetching a document with progress and the
// download cap, reading it in the worker, taking its pixels and hotspots into
// the core beside the page, and the core's own life (adopted, released,
// discarded after a trap). Members of the element.
import { COMMAND } from './htf-logic.js';
import { core, decode, discardCore, isTrap } from './htf-runtime.js';
import { SCROLL_BAR } from './htf-style.js';
import { tileCache } from './htf-paint.js';
import { HotspotTable } from './htf-hotspot-table.js';

const PROGRESS_DELAY_MS = 300;
const DOWNLOAD_LIMIT = 1024 * 1024 * 1024;         // the module's cap on a download
export const FITS = { window: COMMAND.FIT_WINDOW, width: COMMAND.FIT_WIDTH, height: COMMAND.FIT_HEIGHT };

export const loading = {
  async _load() {
    const generation = ++this._generation;
    this._loaded = true;
    this._abort?.abort();
    this._abort = new AbortController();
    this._setDocument(null);
    this._showError('');
    this._view.setAttribute('aria-label', this._documentName());
    const src = this.getAttribute('src');
    if (!src) return;
    this.setAttribute('aria-busy', 'true');
    const progressTimer = setTimeout(() => { this._progress.style.display = 'block'; }, PROGRESS_DELAY_MS);
    try {
      const url = new URL(src, document.baseURI);
      const started = performance.now();
      const [response, coreModule] = await Promise.all([fetch(url, { signal: this._abort.signal }), core()]);
      this._adoptCore(coreModule);
      if (!response.ok) throw new Error(this._string('notLoaded', { status: `${response.status} ${response.statusText}`.trim() }));
      const bytes = await this._readBody(response, generation);
      if (generation !== this._generation) return;
      const fetched = performance.now();
      // The worker is given what the pixels may take once the tiles have their
      // share, so that it does not decode an image only to have it refused.
      const tiles = Math.min(tileCache.limit, this.memoryLimit / 4);
      const result = await decode(bytes, this.memoryLimit - tiles);
      if (generation !== this._generation || !this.isConnected) return;
      const decoded = performance.now();
      if (!result.hasImage && result.tooLarge) {
        throw new Error(this._string('tooLarge', { width: result.fileWidth, height: result.fileHeight }));
      }
      if (!result.hasImage) {
        const detail = result.error ? result.error.replace('\n', ': ') : '';
        throw new Error(detail ? `${this._string('notShown')}\n${detail}` : this._string('notShown'));
      }
      // What does not fit the element's memory is not shown, as the module
      // does with what it cannot hold.
      if (result.rowBytes * result.height + tiles > this.memoryLimit) {
        throw new Error(this._string('tooLarge', { width: result.width, height: result.height }));
      }
      this._setDocument(result);
      if (!this._doc) throw new Error(this._error.textContent || this._string('notShown'));
      // Where the time went: fetching, reading in the worker (and handing
      // the pixels over), preparing and painting the first picture.
      const timings = {
        fetch: fetched - started, read: result.decodeMs, handOver: decoded - fetched - result.decodeMs,
        picture: performance.now() - decoded,
      };
      this._fire('htf-load', { width: result.width, height: result.height, hotspots: this._doc.hotspots.length, timings });
    } catch (error) {
      if (generation !== this._generation || error.name === 'AbortError') return;
      if (isTrap(error)) this._coreFailed(error);
      this._setDocument(null);
      const message = error instanceof Error ? error.message : String(error);
      this._showError(message);
      this._fire('htf-error', { message });
    } finally {
      clearTimeout(progressTimer);
      if (generation === this._generation) {
        this._progress.style.display = 'none';
        this.removeAttribute('aria-busy');
      }
    }
  },

  // The response's bytes, with htf-progress events on the way and the
  // module's download cap.
  async _readBody(response, generation) {
    const total = Number(response.headers.get('Content-Length')) || 0;
    const limit = DOWNLOAD_LIMIT;
    if (total > limit) throw new Error(this._string('tooBig', { limit }));
    this._progress.classList.toggle('unknown', !total);
    this._fire('htf-progress', { loaded: 0, total });
    if (!response.body) return response.arrayBuffer();
    const reader = response.body.getReader();
    // With a length known, the bytes go straight into one block (a document
    // is held once, not in pieces and again whole).
    let whole = total ? new Uint8Array(total) : null;
    const chunks = [];
    let loaded = 0;
    for (;;) {
      const { done, value } = await reader.read();
      if (done) break;
      if (generation !== this._generation) {
        reader.cancel().catch(() => {});
        return new ArrayBuffer(0);
      }
      loaded += value.byteLength;
      if (loaded > limit) {
        reader.cancel().catch(() => {});
        throw new Error(this._string('tooBig', { limit }));
      }
      if (whole && loaded <= whole.length) whole.set(value, loaded - value.byteLength);
      else {
        if (whole) chunks.push(whole.subarray(0, loaded - value.byteLength)), whole = null;
        chunks.push(value);
      }
      if (total) this._progress.firstChild.style.width = `${Math.min(100, (100 * loaded) / total)}%`;
      this._fire('htf-progress', { loaded, total });
    }
    if (whole) return loaded === whole.length ? whole.buffer : whole.slice(0, loaded).buffer;
    const bytes = new Uint8Array(loaded);
    let at = 0;
    for (const chunk of chunks) {
      bytes.set(chunk, at);
      at += chunk.byteLength;
    }
    return bytes.buffer;
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
      if (this._doc?.image) c._htf_image_release(this._doc.image);
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
    this._doc = null;
    this._core = null;
    this._viewState = 0;
    this._clearTiles();
    this._links.replaceChildren();
    this._linkOf = new Map();
    return true;
  },

  _fail(error) {
    const message = error instanceof Error ? error.message : String(error);
    this._showError(message);
    this._fire('htf-error', { message });
  },

  _setDocument(result) {
    const c = this._core;
    this._hideTip();
    this._endDrag();
    const previous = this._outlined();
    if (this._doc?.image && c) c._htf_image_release(this._doc.image);
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
      const pixelBytes = result.rowBytes * result.height;
      const image = c._htf_image_make(result.width, result.height, result.bits, result.rowBytes);
      if (!image) {
        this._showError(this._string('tooLarge', { width: result.width, height: result.height }));
        this._paint();
        return;
      }
      try {
        c.HEAPU8.set(new Uint8Array(result.pixels, 0, Math.min(pixelBytes, result.pixels.byteLength)), c._htf_image_pixels(image));
        if (result.bits !== 32) c.HEAPU8.set(new Uint8Array(result.palette), c._htf_image_palette(image));
        c._htf_image_ready(image);
        const table = new HotspotTable(result.hotspots);
        this._doc = { image, width: result.width, height: result.height, hotspots: table };
        c._htf_view_set_image(this._viewState, result.width, result.height);
        this._addViewHotspots(table);
      } catch (error) {
        if (!this._coreFailed(error)) c._htf_image_release(image);
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
    this._error.textContent = message;
    this._error.style.display = message ? 'flex' : 'none';
  },
};
