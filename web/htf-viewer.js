// <htf-viewer>: shows a hotspotted TIFF document (.htf) in any current
// browser, as the ROZERADO module does where plug-ins and ActiveX controls
// still run. A plain ES module; a page uses it with
//   <script type="module" src="htf-viewer.js"></script>
//   <htf-viewer src="floorplan.htf" style="width:600px;height:400px"></htf-viewer>
// Attributes: src, template ("/servlets/ZevuRedor?ShtmlFile=#HSREF#"),
// frame ("_self"), frame-width (1), frame-color (rgb(0,128,128)).
//
// The document is read by the portable C++ core compiled to WebAssembly, in a
// worker (htf-decoder.js); the zoom and scroll model and the image sampling
// are the same core, run beside the page (htf-core.js). Events: "htf-load"
// (detail: width, height, hotspots), "htf-error" (detail: message) and the
// cancelable "htf-navigate" (detail: url, frame) before a hotspot is followed.
import createHtfCore from './htf-core.js';
import {
  ACTION, COMMAND, DEFAULTS, MODE, SCROLL, TOOLBAR, VIEW_KEY, hotspotNavigation, modeAfter, navigationRules,
  parseFrameColor, parseFrameWidth, platformWheel, positionAtThumb, referenceText, thumbGeometry, tilesCovering,
} from './htf-logic.js';

const here = new URL('.', import.meta.url);
const asset = (name) => new URL(name, here).href;

const TOOLBAR_HEIGHT = 40;
const BORDER = 1;
const SCROLL_BAR = 17;             // the platform's scroll bar thickness
const TILE = 256;
const TILE_CACHE_BYTES = 64 << 20;
const TIP_DELAY_MS = 500;
const LENS = { width: 238, height: 171, hotX: 116, hotY: 80 };
const LIGHT_GREY = '#c0c0c0';

// --- The core beside the page and the shared decoding worker ---

let corePromise = null;
function core() {
  corePromise ??= createHtfCore({ locateFile: (file) => asset(file) });
  return corePromise;
}

let worker = null;
let nextRequest = 1;
const pending = new Map();
function decoder() {
  if (worker) return worker;
  worker = new Worker(asset('htf-decoder.js'), { type: 'module' });
  worker.onmessage = (event) => {
    const request = pending.get(event.data.id);
    pending.delete(event.data.id);
    request?.resolve(event.data);
  };
  worker.onerror = (event) => {
    // A worker that failed to start or crashed answers nothing more: every
    // waiting element gets an error, and the next document starts a new one.
    for (const request of pending.values()) request.reject(new Error(event.message || 'The reader stopped'));
    pending.clear();
    worker.terminate();
    worker = null;
  };
  return worker;
}
function decode(bytes) {
  return new Promise((resolve, reject) => {
    const id = nextRequest++;
    pending.set(id, { resolve, reject });
    decoder().postMessage({ id, bytes }, [bytes]);
  });
}

const STYLE = `
:host { display: inline-block; position: relative; width: 300px; height: 150px; contain: strict;
        font: 12px Arial, sans-serif; color: #000; background: ${LIGHT_GREY}; user-select: none; }
.toolbar { position: absolute; left: 0; top: 0; right: 0; height: ${TOOLBAR_HEIGHT}px; display: flex;
           align-items: center; gap: 1px; padding: 0 4px; box-sizing: border-box; overflow: hidden;
           background: ${LIGHT_GREY}; }
.toolbar button { width: 31px; height: 30px; padding: 0; margin: 0; border: 1px solid transparent;
                  background: transparent; display: grid; place-items: center; cursor: default; }
.toolbar button:hover { border-color: #fff #808080 #808080 #fff; }
.toolbar button[aria-pressed="true"] { border-color: #808080 #fff #fff #808080; background: #e0e0e0; }
.toolbar button:focus-visible { outline: 1px dotted #000; outline-offset: -4px; }
.toolbar img { width: 24px; height: 24px; image-rendering: pixelated; pointer-events: none; }
.view { position: absolute; left: 0; right: 0; top: ${TOOLBAR_HEIGHT}px; bottom: 0; border: ${BORDER}px solid #000;
        background: ${LIGHT_GREY}; overflow: hidden; }
.view:focus-visible { outline: 1px dotted #000; outline-offset: -3px; }
canvas.picture { position: absolute; left: 0; top: 0; image-rendering: pixelated; }
.links { position: absolute; left: 0; top: 0; pointer-events: none; }
.links a { position: absolute; display: block; outline: none; }
.bar { position: absolute; background: #e0e0e0; display: none; }
.bar.h { left: 0; height: ${SCROLL_BAR}px; bottom: 0; }
.bar.v { top: 0; width: ${SCROLL_BAR}px; right: 0; }
.bar .thumb { position: absolute; background: ${LIGHT_GREY}; box-sizing: border-box;
              border: 1px solid; border-color: #fff #404040 #404040 #fff; }
.bar .arrow { position: absolute; width: ${SCROLL_BAR}px; height: ${SCROLL_BAR}px; background: ${LIGHT_GREY};
              box-sizing: border-box; border: 1px solid; border-color: #fff #404040 #404040 #fff; }
.corner { position: absolute; right: 0; bottom: 0; width: ${SCROLL_BAR}px; height: ${SCROLL_BAR}px;
          background: ${LIGHT_GREY}; display: none; }
.tip { position: absolute; display: none; padding: 2px 4px; background: #ffffe1;
       border: 1px solid #000; font: 16px Arial, sans-serif; white-space: pre; pointer-events: none;
       box-shadow: 2px 2px 2px rgba(0,0,0,0.3); z-index: 3; }
.error { position: absolute; inset: 0; display: none; align-items: center; justify-content: center; padding: 8px;
         text-align: center; white-space: pre-wrap; font: 13px Arial, sans-serif; }
canvas.lens { position: absolute; display: none; pointer-events: none; z-index: 2; }
`;

class HtfViewer extends HTMLElement {
  static observedAttributes = ['src', 'template', 'frame', 'frame-width', 'frame-color'];

  constructor() {
    super();
    const root = this.attachShadow({ mode: 'open' });
    root.innerHTML = `<style>${STYLE}</style>
      <div class="toolbar" role="toolbar" aria-label="Viewer"></div>
      <div class="view" part="view" tabindex="0" role="group" aria-label="Hotspot document">
        <canvas class="picture"></canvas>
        <div class="links"></div>
        <div class="bar h"><div class="arrow"></div><div class="thumb"></div><div class="arrow"></div></div>
        <div class="bar v"><div class="arrow"></div><div class="thumb"></div><div class="arrow"></div></div>
        <div class="corner"></div>
        <canvas class="lens" width="${LENS.width}" height="${LENS.height}"></canvas>
        <div class="tip" role="tooltip"></div>
        <div class="error" role="alert"></div>
      </div>`;
    this._toolbar = root.querySelector('.toolbar');
    this._view = root.querySelector('.view');
    this._canvas = root.querySelector('canvas.picture');
    this._links = root.querySelector('.links');
    this._bars = { h: root.querySelector('.bar.h'), v: root.querySelector('.bar.v') };
    this._corner = root.querySelector('.corner');
    this._lensCanvas = root.querySelector('canvas.lens');
    this._tip = root.querySelector('.tip');
    this._error = root.querySelector('.error');
    this._buttons = new Map();
    for (const entry of TOOLBAR) {
      const button = document.createElement('button');
      button.type = 'button';
      button.title = entry.name;
      button.setAttribute('aria-label', entry.name);
      button.dataset.command = String(entry.command);
      if (entry.command === COMMAND.MAGNIFIER || entry.command === COMMAND.PAN) button.setAttribute('aria-pressed', 'false');
      const picture = document.createElement('img');
      picture.alt = '';
      picture.src = asset(`toolbar-${entry.picture}.png`);
      button.append(picture);
      button.addEventListener('click', () => this.command(entry.command));
      this._toolbar.append(button);
      this._buttons.set(entry.command, button);
    }
    this._lensFrame = new Image();
    this._lensFrame.src = asset('lens.png');

    this._mode = MODE.POINTER;
    this._generation = 0;
    this._doc = null;           // { image, width, height, hotspots }
    this._core = null;
    this._viewState = 0;
    this._tiles = new Map();
    this._tileKey = '';
    this._tileBytes = 0;
    this._hover = -1;           // hotspot under the pointer
    this._keyboard = -1;        // hotspot with the keyboard focus
    this._outlineFrom = 'none'; // which input set the outline last: 'pointer' or 'keyboard'
    this._tipTimer = 0;
    this._drag = null;
    this._printed = 0;
    this._bindInput();
    this._resizeObserver = new ResizeObserver(() => this._layout());
  }

  // --- Attributes and life cycle ---

  connectedCallback() {
    // The core and the decoding worker start compiling now, while the
    // document is still being fetched.
    decoder();
    core().then((c) => this._adoptCore(c), () => {});
    this._resizeObserver.observe(this);
    this._layout();
    if (!this._loaded && this.hasAttribute('src')) this._load();
  }

  disconnectedCallback() {
    this._resizeObserver.disconnect();
    this._hideTip();
    this._endDrag();
    // Moved within the page, the element keeps its document; removed, it
    // gives back its image memory (and loads again if it comes back).
    queueMicrotask(() => {
      if (this.isConnected) return;
      ++this._generation;
      this._abort?.abort();
      this._setDocument(null);
      this._loaded = false;
    });
  }

  attributeChangedCallback(name, oldValue, newValue) {
    if (name === 'src') {
      if (this.isConnected && oldValue !== newValue) this._load();
      return;
    }
    this._paint();
  }

  get template() { return this.getAttribute('template') ?? DEFAULTS.template; }
  get frame() { return this.getAttribute('frame') ?? DEFAULTS.frame; }
  get frameWidth() { return parseFrameWidth(this.getAttribute('frame-width') ?? DEFAULTS.frameWidth); }
  get frameColor() { return parseFrameColor(this.getAttribute('frame-color') ?? DEFAULTS.frameColor); }
  get mode() { return this._mode; }

  // The zoom and scroll state, for pages and tests: the same numbers as the
  // module's viewer window of the same size.
  get viewState() {
    if (!this._core || !this._viewState) return null;
    const s = this._state();
    return {
      scale: this._core._htf_view_scale(this._viewState),
      minScale: this._core._htf_view_min_scale(this._viewState),
      maxScale: this._core._htf_view_max_scale(this._viewState),
      scaledWidth: s.scaledWidth, scaledHeight: s.scaledHeight,
      clientWidth: s.clientWidth, clientHeight: s.clientHeight,
      imageLeft: s.imageLeft, imageTop: s.imageTop,
      horizontalBar: s.h.shown, verticalBar: s.v.shown,
      horizontalPosition: s.h.position, verticalPosition: s.v.position,
      hotspots: this._doc ? this._doc.hotspots.map((_, i) => this._hotspotRect(i)) : [],
    };
  }

  // --- Loading a document ---

  async _load() {
    const generation = ++this._generation;
    this._loaded = true;
    this._abort?.abort();
    this._abort = new AbortController();
    this._setDocument(null);
    this._showError('');
    const src = this.getAttribute('src');
    if (!src) return;
    try {
      const url = new URL(src, document.baseURI);
      const started = performance.now();
      const [response, coreModule] = await Promise.all([fetch(url, { signal: this._abort.signal }), core()]);
      this._adoptCore(coreModule);
      if (!response.ok) throw new Error(`The document could not be loaded (${response.status} ${response.statusText}).`);
      const bytes = await response.arrayBuffer();
      if (generation !== this._generation) return;
      const fetched = performance.now();
      const result = await decode(bytes);
      if (generation !== this._generation || !this.isConnected) return;
      const decoded = performance.now();
      if (!result.hasImage && result.tooLarge) {
        throw new Error(`This image is too large to show: ${result.fileWidth} \u00D7 ${result.fileHeight} pixels`);
      }
      if (!result.hasImage) {
        const detail = result.error ? result.error.replace('\n', ': ') : '';
        throw new Error(detail ? `The document could not be shown.\n${detail}` : 'The document could not be shown.');
      }
      this._setDocument(result);
      // Where the time went: fetching, reading in the worker (and handing
      // the pixels over), preparing and painting the first picture.
      const timings = {
        fetch: fetched - started, read: result.decodeMs, handOver: decoded - fetched - result.decodeMs,
        picture: performance.now() - decoded,
      };
      this.dispatchEvent(new CustomEvent('htf-load', {
        detail: { width: result.width, height: result.height, hotspots: result.hotspots.length, timings },
      }));
    } catch (error) {
      if (generation !== this._generation || error.name === 'AbortError') return;
      this._setDocument(null);
      const message = error instanceof Error ? error.message : String(error);
      this._showError(message);
      this.dispatchEvent(new CustomEvent('htf-error', { detail: { message } }));
    }
  }

  _adoptCore(coreModule) {
    if (this._core) return;
    this._core = coreModule;
    this._viewState = coreModule._htf_view_new(SCROLL_BAR);
    this._stateBuffer = coreModule._htf_alloc(20 * 4);
    this._rectBuffer = coreModule._htf_alloc(4 * 4);
    this._layout();
  }

  _setDocument(result) {
    const c = this._core;
    this._hideTip();
    this._endDrag();
    if (this._doc?.image && c) c._htf_image_release(this._doc.image);
    this._doc = null;
    this._clearTiles();
    this._hover = this._keyboard = -1;
    this._links.replaceChildren();
    if (c && this._viewState) c._htf_view_set_image(this._viewState, 0, 0);
    if (result && c) {
      const image = c._htf_image_make(result.width, result.height, result.bits, result.rowBytes);
      if (!image) {
        this._showError(`This image is too large to show: ${result.width} \u00D7 ${result.height} pixels`);
        this._paint();
        return;
      }
      c.HEAPU8.set(new Uint8Array(result.pixels), c._htf_image_pixels(image));
      if (result.bits !== 32) c.HEAPU8.set(new Uint8Array(result.palette), c._htf_image_palette(image));
      c._htf_image_ready(image);
      const hotspots = result.hotspots.map((h) => ({ ...h, referenceBytes: Array.from(h.reference, (ch) => ch.charCodeAt(0)) }));
      this._doc = { image, width: result.width, height: result.height, hotspots };
      c._htf_view_set_image(this._viewState, result.width, result.height);
      for (const h of hotspots) c._htf_view_add_hotspot(this._viewState, h.left, h.top, h.right, h.bottom);
      this._makeLinks();
      this._view.setAttribute('aria-description',
        `${result.width} × ${result.height} pixels, ${hotspots.length} link${hotspots.length === 1 ? '' : 's'}`);
    } else {
      this._view.removeAttribute('aria-description');
    }
    this._layout();
  }

  _showError(message) {
    this._error.textContent = message;
    this._error.style.display = message ? 'flex' : 'none';
  }

  // --- Geometry ---

  _viewport() {
    return {
      width: Math.max(0, this._view.clientWidth),
      height: Math.max(0, this._view.clientHeight),
    };
  }

  _layout() {
    const { width, height } = this._viewport();
    this._canvas.width = width;
    this._canvas.height = height;
    if (this._core && this._viewState) {
      this._core._htf_view_set_viewport(this._viewState, width, height);
      if (this._doc) this._core._htf_view_fit(this._viewState);
    }
    this._paint();
  }

  _state() {
    const c = this._core;
    c._htf_view_state(this._viewState, this._stateBuffer);
    const v = new Int32Array(c.HEAPU8.buffer, this._stateBuffer, 20);
    return {
      scaledWidth: v[0], scaledHeight: v[1], clientWidth: v[2], clientHeight: v[3],
      imageLeft: v[4], imageTop: v[5], imageRight: v[6], imageBottom: v[7],
      h: { shown: v[12] !== 0, range: v[13], page: v[14], position: v[15] },
      v: { shown: v[16] !== 0, range: v[17], page: v[18], position: v[19] },
    };
  }

  _hotspotRect(index) {
    const c = this._core;
    if (!c._htf_view_hotspot_rect(this._viewState, index, this._rectBuffer)) return null;
    const r = new Int32Array(c.HEAPU8.buffer, this._rectBuffer, 4);
    return { left: r[0], top: r[1], right: r[2], bottom: r[3] };
  }

  // --- Painting ---

  _clearTiles() {
    this._tiles.clear();
    this._tileBytes = 0;
    this._tileKey = '';
  }

  _tile(t, scaledWidth, scaledHeight) {
    const key = `${scaledWidth}x${scaledHeight}`;
    if (key !== this._tileKey) {
      this._clearTiles();
      this._tileKey = key;
    }
    const id = `${t.column},${t.row}`;
    let tile = this._tiles.get(id);
    if (tile) {
      this._tiles.delete(id);     // most recently used last
      this._tiles.set(id, tile);
      return tile;
    }
    const c = this._core;
    const bytes = t.w * t.h * 4;
    const out = c._htf_alloc(bytes);
    if (!out) return null;
    try {
      if (!c._htf_image_tile(this._doc.image, t.x, t.y, t.w, t.h, scaledWidth, scaledHeight, out)) return null;
      tile = document.createElement('canvas');
      tile.width = t.w;
      tile.height = t.h;
      tile.getContext('2d').putImageData(new ImageData(new Uint8ClampedArray(c.HEAPU8.buffer, out, bytes), t.w, t.h), 0, 0);
    } finally {
      c._htf_free(out);
    }
    this._tiles.set(id, tile);
    this._tileBytes += bytes;
    for (const [oldest, old] of this._tiles) {
      if (this._tileBytes <= TILE_CACHE_BYTES || oldest === id) break;
      this._tileBytes -= old.width * old.height * 4;
      this._tiles.delete(oldest);
    }
    return tile;
  }

  // Draws the picture as the module's paint does: grey margins, the visible
  // part of the scaled image from tiles, then the hotspot outline.
  _paint({ outline = true } = {}) {
    const ctx = this._canvas.getContext('2d');
    const width = this._canvas.width, height = this._canvas.height;
    ctx.fillStyle = LIGHT_GREY;
    ctx.fillRect(0, 0, width, height);
    if (!this._doc || !this._core || !this._core._htf_view_fit(this._viewState)) {
      this._updateBars(null);
      return;
    }
    const s = this._state();
    const hp = s.h.position, vp = s.v.position;
    const r = { left: s.imageLeft, top: s.imageTop, right: s.imageRight, bottom: s.imageBottom };
    ctx.save();
    ctx.beginPath();
    ctx.rect(r.left, r.top, r.right - r.left, r.bottom - r.top);
    ctx.clip();
    for (const t of tilesCovering(hp, vp, hp + (r.right - r.left), vp + (r.bottom - r.top), s.scaledWidth, s.scaledHeight, TILE)) {
      const tile = this._tile(t, s.scaledWidth, s.scaledHeight);
      if (tile) ctx.drawImage(tile, r.left + t.x - hp, r.top + t.y - vp);
    }
    ctx.restore();
    const outlined = this._outlined();
    if (outline && outlined >= 0 && this.frameWidth > 0) {
      const h = this._hotspotRect(outlined);
      // The platform's rectangle with a pen of width w: the pen's centre
      // runs along the rectangle's edges, right and bottom exclusive.
      const w = this.frameWidth;
      ctx.strokeStyle = this.frameColor;
      ctx.lineWidth = w;
      const inset = w % 2 ? 0.5 : 0;
      const left = h.left - hp + inset, top = h.top - vp + inset;
      ctx.strokeRect(left, top, h.right - h.left - 1, h.bottom - h.top - 1);
    }
    this._updateBars(s);
    this._placeLinks(s);
  }

  _outlined() {
    if (this._mode !== MODE.POINTER) return -1;
    return this._outlineFrom === 'keyboard' ? this._keyboard : this._hover;
  }

  // --- Scroll bars ---

  _updateBars(s) {
    const both = s && s.h.shown && s.v.shown;
    for (const key of ['h', 'v']) {
      const bar = this._bars[key];
      const info = s?.[key];
      bar.style.display = info?.shown ? 'block' : 'none';
      if (!info?.shown) continue;
      const horizontal = key === 'h';
      const length = horizontal ? s.clientWidth : s.clientHeight;
      bar.style[horizontal ? 'width' : 'height'] = `${length}px`;
      const track = Math.max(0, length - 2 * SCROLL_BAR);
      const { offset, length: thumb } = thumbGeometry(info.range, info.page, info.position, track);
      const [first, thumbElement, last] = bar.children;
      const along = horizontal ? ['left', 'width'] : ['top', 'height'];
      const across = horizontal ? ['top', 'height'] : ['left', 'width'];
      first.style[along[0]] = '0px';
      last.style[along[0]] = `${length - SCROLL_BAR}px`;
      for (const e of [first, last, thumbElement]) {
        e.style[across[0]] = '0px';
        e.style[across[1]] = `${SCROLL_BAR}px`;
      }
      thumbElement.style[along[0]] = `${SCROLL_BAR + offset}px`;
      thumbElement.style[along[1]] = `${thumb}px`;
      bar._track = track;
      bar._thumb = { offset, length: thumb };
    }
    this._corner.style.display = both ? 'block' : 'none';
  }

  _scroll(horizontal, request, thumb = 0) {
    if (!this._doc) return;
    this._core._htf_view_scroll(this._viewState, horizontal ? 1 : 0, request, thumb);
    this._afterScroll();
  }

  _setPositions(h, v) {
    if (h != null) this._core._htf_view_set_position(this._viewState, 1, h);
    if (v != null) this._core._htf_view_set_position(this._viewState, 0, v);
  }

  _afterScroll() {
    this._paint();
    if (this._keyboard >= 0) this._showTipAtHotspot(this._keyboard);
  }

  _barPointerDown(event, key) {
    if (!this._doc || event.button !== 0) return;
    event.preventDefault();
    event.stopPropagation();
    const bar = this._bars[key];
    const horizontal = key === 'h';
    const rect = bar.getBoundingClientRect();
    const at = horizontal ? event.clientX - rect.left : event.clientY - rect.top;
    const length = horizontal ? rect.width : rect.height;
    if (at < SCROLL_BAR) return this._scroll(horizontal, SCROLL.LINE_UP);
    if (at >= length - SCROLL_BAR) return this._scroll(horizontal, SCROLL.LINE_DOWN);
    const thumb = bar._thumb;
    const inTrack = at - SCROLL_BAR;
    if (inTrack < thumb.offset) return this._scroll(horizontal, SCROLL.PAGE_UP);
    if (inTrack >= thumb.offset + thumb.length) return this._scroll(horizontal, SCROLL.PAGE_DOWN);
    // Dragging the thumb: positions follow as the platform's thumb tracking.
    const grab = inTrack - thumb.offset;
    bar.setPointerCapture(event.pointerId);
    const move = (e) => {
      const s = this._state()[key];
      const offset = (horizontal ? e.clientX - rect.left : e.clientY - rect.top) - SCROLL_BAR - grab;
      this._scroll(horizontal, SCROLL.THUMB, positionAtThumb(s.range, s.page, offset, bar._track));
    };
    const up = () => {
      bar.removeEventListener('pointermove', move);
      bar.removeEventListener('pointerup', up);
      bar.removeEventListener('lostpointercapture', up);
    };
    bar.addEventListener('pointermove', move);
    bar.addEventListener('pointerup', up);
    bar.addEventListener('lostpointercapture', up);
  }

  // A scroll bar request as the platform numbers them (0 line up, 1 line
  // down, 2 page up, 3 page down, 5 thumb track to `thumb`) on the
  // "horizontal" or "vertical" bar.
  scrollBar(bar, request, thumb = 0) {
    this._scroll(bar === 'horizontal', request, thumb);
  }

  // --- Commands ---

  // A toolbar command (the ids of COMMAND); ignored while no document is shown.
  command(id) {
    if (!this._doc) return;
    this._hideTip();
    if (id === COMMAND.PRINT) return this.print();
    if (id === COMMAND.MAGNIFIER || id === COMMAND.PAN || id === COMMAND.POINTER) {
      this._mode = modeAfter(this._mode, id);
      this._buttons.get(COMMAND.MAGNIFIER).setAttribute('aria-pressed', String(this._mode === MODE.MAGNIFIER));
      this._buttons.get(COMMAND.PAN).setAttribute('aria-pressed', String(this._mode === MODE.PAN));
      this._updateCursor();
      this._paint();
      return;
    }
    if (this._core._htf_view_command(this._viewState, id)) this._paint();
  }

  // Prints what the view shows: the visible part of the picture, without
  // outline, lens or tooltip, on one page.
  print() {
    if (!this._doc) return;
    this._paint({ outline: false });
    // The image rectangle, as far as the scaled image reaches into it.
    const s = this._state();
    const left = s.imageLeft, top = s.imageTop;
    const width = Math.min(s.imageRight - s.imageLeft, s.scaledWidth - s.h.position);
    const height = Math.min(s.imageBottom - s.imageTop, s.scaledHeight - s.v.position);
    const part = document.createElement('canvas');
    part.width = Math.max(1, width);
    part.height = Math.max(1, height);
    part.getContext('2d').drawImage(this._canvas, left, top, part.width, part.height, 0, 0, part.width, part.height);
    this._paint();
    const frame = document.createElement('iframe');
    frame.setAttribute('aria-hidden', 'true');
    frame.style.cssText = 'position:fixed;width:0;height:0;border:0;left:-10px;top:-10px;';
    const source = part.toDataURL('image/png');
    frame.srcdoc = `<!DOCTYPE html><title>Print</title><style>@page{margin:10mm}body{margin:0}` +
      `img{max-width:100%;max-height:100vh;object-fit:contain}</style><img src="${source}">`;
    this._printed += 1;
    this.dataset.printed = String(this._printed);
    this.dataset.printedSize = `${part.width}x${part.height}`;
    frame.onload = () => {
      // The page may be gone by the time the dialog closes: nothing is
      // touched after print() returns but the frame itself.
      try { frame.contentWindow?.print(); } finally { setTimeout(() => frame.remove(), 1000); }
    };
    document.body.append(frame);
  }

  // --- Pointer ---

  _bindInput() {
    const view = this._view;
    this._bars.h.addEventListener('pointerdown', (e) => this._barPointerDown(e, 'h'));
    this._bars.v.addEventListener('pointerdown', (e) => this._barPointerDown(e, 'v'));
    this._canvas.addEventListener('pointermove', (e) => this._pointerMove(e));
    this._canvas.addEventListener('pointerdown', (e) => this._pointerDown(e));
    this._canvas.addEventListener('pointerup', (e) => this._pointerUp(e));
    this._canvas.addEventListener('lostpointercapture', () => this._endDrag());
    this._canvas.addEventListener('pointerleave', () => {
      if (this._drag) return;
      this._setHover(-1);
      if (this._keyboard < 0) this._hideTip();
    });
    view.addEventListener('wheel', (e) => this._wheelInput(e), { passive: false });
    // Focusing a link outside the visible part makes the browser scroll the
    // view's box to it; the element scrolls its picture itself instead.
    view.addEventListener('scroll', () => { view.scrollLeft = 0; view.scrollTop = 0; });
    view.addEventListener('keydown', (e) => this._key(e));
  }

  _clientPoint(event) {
    const rect = this._canvas.getBoundingClientRect();
    return { x: Math.floor(event.clientX - rect.left), y: Math.floor(event.clientY - rect.top) };
  }

  _setHover(index) {
    if (index === this._hover && (index < 0 || this._outlineFrom === 'pointer')) return;
    this._hover = index;
    if (index >= 0) this._outlineFrom = 'pointer';
    this._paint();
  }

  _pointerMove(event) {
    if (!this._doc) return;
    const p = this._clientPoint(event);
    if (this._drag?.kind === 'lens') return this._drawLens(p);
    if (this._drag?.kind === 'pan') {
      const dx = event.screenX - this._drag.x, dy = event.screenY - this._drag.y;
      this._drag.x = event.screenX;
      this._drag.y = event.screenY;
      if (this._core._htf_view_pan(this._viewState, dx, dy)) this._paint();
      return;
    }
    const index = this._core._htf_view_hotspot_at(this._viewState, p.x, p.y);
    const changed = index !== this._hover;
    this._setHover(index);
    this._updateCursor(event.buttons & 1);
    if (this._mode !== MODE.POINTER) return this._hideTip();
    if (index < 0) {
      if (this._keyboard < 0 || this._outlineFrom === 'pointer') this._hideTip();
    } else if (changed || this._tip.style.display === 'none') {
      this._scheduleTip(index, p);
    } else if (this._tipHotspot === index && this._tip.style.display !== 'none') {
      // The tip stays where it appeared, as the platform's does.
    }
  }

  _updateCursor(pressed = 0) {
    let cursor = 'default';
    if (this._mode === MODE.MAGNIFIER) cursor = `url(${asset('magnifier.cur')}), zoom-in`;
    else if (this._mode === MODE.PAN) cursor = `url(${asset('openhand.cur')}), grab`;
    else if (this._hover >= 0) cursor = pressed ? `url(${asset('globehand.cur')}), pointer` : `url(${asset('pointhand.cur')}), pointer`;
    if (this._drag?.kind === 'lens') cursor = 'none';
    this._canvas.style.cursor = cursor;
  }

  _pointerDown(event) {
    if (!this._doc || event.button !== 0) return;
    this._view.focus({ preventScroll: true });
    const p = this._clientPoint(event);
    if (this._mode === MODE.MAGNIFIER) {
      this._canvas.setPointerCapture(event.pointerId);
      this._drag = { kind: 'lens' };
      this._hideTip();
      this._updateCursor();
      this._drawLens(p);
    } else if (this._mode === MODE.PAN) {
      const s = this._state();
      if (s.clientWidth > s.scaledWidth && s.clientHeight > s.scaledHeight) return;   // all of it is visible
      this._canvas.setPointerCapture(event.pointerId);
      this._drag = { kind: 'pan', x: event.screenX, y: event.screenY };
    } else {
      this._updateCursor(1);
    }
  }

  _pointerUp(event) {
    if (event.button !== 0) return;
    if (this._drag) {
      this._endDrag();
      return;
    }
    if (this._mode === MODE.POINTER && this._hover >= 0) {
      this._updateCursor(0);
      this._navigate(this._hover);
    }
  }

  _endDrag() {
    if (!this._drag) return;
    const kind = this._drag.kind;
    this._drag = null;
    if (kind === 'lens') {
      this._lensCanvas.style.display = 'none';
      this._paint();
    }
    this._updateCursor();
  }

  // The magnifier lens: twice what the screen shows around the pointer;
  // below scale 1 the image itself at twice the scale (the screen has lost
  // detail there), grey beyond the image's edges.
  _drawLens(p) {
    const s = this._state();
    const scale = this._core._htf_view_scale(this._viewState);
    const lens = this._lensCanvas;
    const ctx = lens.getContext('2d');
    const x = p.x - LENS.hotX, y = p.y - LENS.hotY;
    lens.style.left = `${x}px`;
    lens.style.top = `${y}px`;
    lens.style.display = 'block';
    ctx.clearRect(0, 0, LENS.width, LENS.height);
    ctx.save();
    ctx.beginPath();
    ctx.roundRect(12, 12, 209, 140, 14);   // the lens's view, as the frame picture cuts it
    ctx.clip();
    ctx.imageSmoothingEnabled = false;
    if (scale >= 1) {
      const sw = Math.floor(LENS.width / 2), sh = Math.floor(LENS.height / 2);
      ctx.fillStyle = '#fff';
      ctx.fillRect(0, 0, LENS.width, LENS.height);
      ctx.drawImage(this._canvas, x + LENS.hotX - Math.floor(sw / 2), y + LENS.hotY - Math.floor(sh / 2), sw, sh,
        0, 0, LENS.width, LENS.height);
    } else if (scale > 0) {
      this._drawLensFromImage(ctx, x, y, s, scale);
    }
    ctx.restore();
    if (this._lensFrame.complete) ctx.drawImage(this._lensFrame, 0, 0);
  }

  _drawLensFromImage(ctx, x, y, s, scale) {
    const t = 2 * scale;
    const W = this._doc.width, H = this._doc.height;
    const sw = LENS.width / t, sh = LENS.height / t;
    let sl = Math.trunc((x + LENS.hotX + s.h.position - s.imageLeft) / scale - sw * 0.5);
    let st = Math.trunc((y + LENS.hotY + s.v.position - s.imageTop) / scale - sh * 0.5);
    let sr = Math.trunc(sl + sw), sb = Math.trunc(st + sh);
    const dest = { left: 0, top: 0, right: LENS.width, bottom: LENS.height };
    if (sl < 0) { dest.left = Math.trunc(-sl * t); sl = 0; }
    if (st < 0) { dest.top = Math.trunc(-st * t); st = 0; }
    if (sr > W) { dest.right = Math.trunc(LENS.width - (sr - W) * t); sr = W; }
    if (sb > H) { dest.bottom = Math.trunc(LENS.height - (sb - H) * t); sb = H; }
    ctx.fillStyle = LIGHT_GREY;
    ctx.fillRect(0, 0, LENS.width, LENS.height);
    const dw = dest.right - dest.left, dh = dest.bottom - dest.top;
    if (sl >= W || st >= H || sr <= sl || sb <= st || dw <= 0 || dh <= 0) return;
    const c = this._core;
    const bytes = dw * dh * 4;
    const out = c._htf_alloc(bytes);
    if (!out) return;
    try {
      if (!c._htf_image_stretched(this._doc.image, sl, st, sr, sb, dw, dh, out)) return;
      const block = document.createElement('canvas');
      block.width = dw;
      block.height = dh;
      block.getContext('2d').putImageData(new ImageData(new Uint8ClampedArray(c.HEAPU8.buffer, out, bytes), dw, dh), 0, 0);
      ctx.drawImage(block, dest.left, dest.top);
    } finally {
      c._htf_free(out);
    }
  }

  // --- Tooltip ---

  _tipText(index) {
    const h = this._doc?.hotspots[index];
    return h ? h.text : '';
  }

  _scheduleTip(index, p) {
    clearTimeout(this._tipTimer);
    this._tip.style.display = 'none';
    if (!this._tipText(index)) return;
    this._tipTimer = setTimeout(() => {
      if (this._hover !== index || this._drag) return;
      this._showTip(index, p.x, p.y + 20);
    }, TIP_DELAY_MS);
  }

  _showTip(index, x, y) {
    const text = this._tipText(index);
    if (!text) return this._hideTip();
    this._tip.textContent = text;
    this._tip.style.display = 'block';
    this._tipHotspot = index;
    // Kept inside the view.
    const view = this._viewport();
    const w = this._tip.offsetWidth, h = this._tip.offsetHeight;
    this._tip.style.left = `${Math.max(0, Math.min(x, view.width - w))}px`;
    this._tip.style.top = `${Math.max(0, y + h > view.height ? y - h - 24 : y)}px`;
  }

  _showTipAtHotspot(index) {
    const r = this._hotspotRect(index);
    const s = this._state();
    if (!r) return;
    this._showTip(index, r.left - s.h.position, r.bottom - s.v.position + 4);
  }

  _hideTip() {
    clearTimeout(this._tipTimer);
    this._tip.style.display = 'none';
    this._tipHotspot = -1;
  }

  // --- Navigation ---

  _navigate(index) {
    const h = this._doc?.hotspots[index];
    if (!h) return;
    const target = hotspotNavigation({
      template: this.template,
      frame: this.frame,
      referenceBytes: h.referenceBytes,
      pageUrl: document.baseURI,
      ...navigationRules(this._core),
    });
    if (target.refused) {
      this.dispatchEvent(new CustomEvent('htf-refused', { detail: { reason: target.refused } }));
      return;
    }
    const event = new CustomEvent('htf-navigate', { detail: { url: target.url, frame: target.frame }, cancelable: true });
    if (!this.dispatchEvent(event)) return;
    if (target.frame === '_self') window.location.assign(target.url);
    else window.open(target.url, target.frame);
  }

  // --- Keyboard: one link a hotspot, in document order ---

  _makeLinks() {
    const links = this._doc.hotspots.map((h, index) => {
      const a = document.createElement('a');
      a.tabIndex = 0;
      a.setAttribute('role', 'link');
      a.setAttribute('aria-label', h.text || referenceText(h.referenceBytes));
      a.dataset.index = String(index);
      a.addEventListener('focus', () => this._focusHotspot(index));
      a.addEventListener('blur', () => this._blurHotspot(index));
      a.addEventListener('click', (e) => { e.preventDefault(); this._navigate(index); });
      return a;
    });
    this._links.replaceChildren(...links);
    this._linksKey = '';
  }

  // The links sit in document space (the picture at the current zoom);
  // scrolling moves their layer only, so a document with very many hotspots
  // costs a style write per link at a zoom, not at every scroll step.
  _placeLinks(s) {
    if (!this._doc) return;
    this._links.style.transform = `translate(${-s.h.position}px, ${-s.v.position}px)`;
    const key = `${s.scaledWidth}x${s.scaledHeight}@${s.imageLeft},${s.imageTop}`;
    if (key === this._linksKey) return;
    this._linksKey = key;
    const links = this._links.children;
    for (let i = 0; i < links.length; ++i) {
      const r = this._hotspotRect(i);
      if (!r) continue;
      const style = links[i].style;
      style.left = `${r.left}px`;
      style.top = `${r.top}px`;
      style.width = `${Math.max(1, r.right - r.left)}px`;
      style.height = `${Math.max(1, r.bottom - r.top)}px`;
    }
  }

  _focusHotspot(index) {
    this._keyboard = index;
    this._outlineFrom = 'keyboard';
    this._scrollIntoView(index);
    this._paint();
    this._showTipAtHotspot(index);
  }

  _blurHotspot(index) {
    if (this._keyboard !== index) return;
    this._keyboard = -1;
    this._hideTip();
    this._paint();
  }

  // Scrolls so that the hotspot is visible (its top-left corner when it is
  // larger than the client area).
  _scrollIntoView(index) {
    const r = this._hotspotRect(index);
    if (!r) return;
    const s = this._state();
    const along = (start, end, position, size) => {
      if (start < position) return start;
      if (end > position + size) return Math.min(start, end - size);
      return position;
    };
    const h = along(r.left, r.right, s.h.position, s.clientWidth);
    const v = along(r.top, r.bottom, s.v.position, s.clientHeight);
    if (h !== s.h.position || v !== s.v.position) this._setPositions(h, v);
  }

  // Keys act as in the viewer window (the core's ViewInput decides), except
  // Tab: the browser moves the focus through the hotspot links and then on
  // out of the element, rather than round within it.
  _key(event) {
    if (!this._doc) return;
    const c = this._core;
    const onLink = event.target?.dataset?.index !== undefined && event.composedPath()[0] !== this._view;
    const index = onLink ? Number(event.target.dataset.index) : -1;
    const s = this._state();
    const state = [1, this._doc.hotspots.length, index >= 0 ? 1 : 0, this._drag ? 1 : 0,
      s.scaledWidth > s.clientWidth ? 1 : 0, s.scaledHeight > s.clientHeight ? 1 : 0];
    const mods = [event.shiftKey ? 1 : 0, event.ctrlKey ? 1 : 0, event.altKey ? 1 : 0];
    let action = ACTION.NONE;
    if (VIEW_KEY[event.key] !== undefined)
      action = c._htf_key_action(VIEW_KEY[event.key], ...mods, event.repeat ? 1 : 0, ...state);
    if (action === ACTION.NONE && [...event.key].length === 1)
      action = c._htf_char_action(event.key.codePointAt(0), ...mods, ...state);
    switch (action) {
      case ACTION.NONE:
      case ACTION.NEXT_HOTSPOT:
      case ACTION.PREVIOUS_HOTSPOT:
        return;
      case ACTION.CONSUME:
        break;
      case ACTION.FOLLOW_HOTSPOT:
        if (index >= 0) this._navigate(index);
        break;
      case ACTION.CLEAR_FOCUS:
        if (this._drag) this._endDrag();
        if (index >= 0) this._view.focus({ preventScroll: true });
        this._keyboard = -1;
        this._hideTip();
        this._paint();
        break;
      case ACTION.ZOOM_IN: this.command(COMMAND.ZOOM_IN); break;
      case ACTION.ZOOM_OUT: this.command(COMMAND.ZOOM_OUT); break;
      case ACTION.FIT_WINDOW: this.command(COMMAND.FIT_WINDOW); break;
      case ACTION.ACTUAL_SIZE: this.command(COMMAND.ACTUAL_SIZE); break;
      case ACTION.PRINT: this.command(COMMAND.PRINT); break;
      default:
        if (action >= ACTION.FIRST_SCROLL && action <= ACTION.LAST_SCROLL) {
          c._htf_view_scroll_for(this._viewState, action);
          this._afterScroll();
        }
        break;
    }
    event.preventDefault();
  }

  // --- Wheel ---

  // The wheel as in the viewer window: three lines a notch, Shift or a tilt
  // sideways, Ctrl zooms about the pointer; where the image fits that way
  // the page around the element scrolls instead.
  _wheelInput(event) {
    if (!this._doc) return;
    const { delta, horizontal, tilt } = platformWheel(event);
    if (!delta) return;
    if (event.ctrlKey) {
      event.preventDefault();
      if (this._drag) return;
      const p = this._clientPoint(event);
      if (this._core._htf_view_wheel_zoom(this._viewState, delta, p.x, p.y)) this._afterScroll();
      return;
    }
    if (!this._core._htf_view_wheel(this._viewState, delta, horizontal ? 1 : 0, tilt ? 1 : 0, 3)) return;
    event.preventDefault();
    if (!this._drag) this._afterScroll();
  }
}

if (!customElements.get('htf-viewer')) customElements.define('htf-viewer', HtfViewer);

export { HtfViewer };
