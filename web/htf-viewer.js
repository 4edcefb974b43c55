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
import { DEFAULTS, MODE, parseFrameColor, parseFrameWidth } from './htf-logic.js';
import { asset, core, decode, decoder } from './htf-runtime.js';
import { LENS, SCROLL_BAR, STYLE } from './htf-style.js';
import { toolbar } from './htf-toolbar.js';
import { painting } from './htf-paint.js';
import { pointerInput } from './htf-pointer.js';
import { keyboardInput } from './htf-keyboard.js';
import { wheelInput } from './htf-wheel.js';
import { hotspots } from './htf-hotspots.js';

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
    this._makeToolbar();
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
    this._bindPointer();
    this._bindKeyboard();
    this._bindWheel();
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

  // A scroll bar request as the platform numbers them (0 line up, 1 line
  // down, 2 page up, 3 page down, 5 thumb track to `thumb`) on the
  // "horizontal" or "vertical" bar.
  scrollBar(bar, request, thumb = 0) {
    this._scroll(bar === 'horizontal', request, thumb);
  }
}

// The element's other concerns, one module each.
Object.assign(HtfViewer.prototype, toolbar, painting, pointerInput, keyboardInput, wheelInput, hotspots);

if (!customElements.get('htf-viewer')) customElements.define('htf-viewer', HtfViewer);

export { HtfViewer };
