// <htf-viewer>: shows a hotspotted TIFF document (.htf) in any current
// browser, as the ROZERADO module does where plug-ins and ActiveX controls
// still run. A plain ES module; a page uses it with
//   <script type="module" src="htf-viewer.js"></script>
//   <htf-viewer src="floorplan.htf" style="width:600px;height:400px"></htf-viewer>
// Attributes, each with its property: src, template
// ("/servlets/ZevuRedor?ShtmlFile=#HSREF#"), frame ("_self"), frame-width
// (1), frame-color (rgb(0,128,128)), fit, tool, alt, list, memory-limit,
// loading (eager, lazy; loading="eager" written out starts the core before
// a src), toolbar (all, none, or button names), overview,
// hash. Read only: hotspots, view, complete; read and written: viewString.
// Methods: highlight(ref), zoomToHotspot(ref),
// command(name or id), print(). Events (bubbling, composed): htf-hotspots
// (the hotspots are known, before any pixel), htf-load (the first picture),
// htf-error (message, code, status, url), htf-progress, htf-hotspotenter,
// htf-hotspotleave, htf-viewchange, the cancelable htf-navigate, htf-refused.
// The module also exports setBasePath(url), for bundles that leave the
// element's files behind, and warmUp(), the warm start for any element.
// web/htf-viewer-api.json describes all of it.
//
// The document is read by the portable C++ core compiled to WebAssembly, in a
// worker (htf-decoder.js), in byte ranges where the server answers them: the
// directories and hotspots first, then the tiles each view needs; the zoom and scroll model and the image sampling
// are the same core, run beside the page (htf-core.js). This file holds the
// element and its page API; each other concern has a module of its own,
// whose members are mixed into the element's prototype.
import { COMMAND, DEFAULTS, MODE, parseFrameColor, parseFrameWidth, referenceString } from './htf-logic.js';
import { warmUp, workerBudget } from './htf-runtime.js';
import { setBasePath } from './htf-files.js';
import { LENS, make, styleSheet } from './htf-style.js';
import { STRINGS, TOOLS, toolbar } from './htf-toolbar.js';
import { painting, tileCache } from './htf-paint.js';
import { pointerInput } from './htf-pointer.js';
import { keyboardInput } from './htf-keyboard.js';
import { wheelInput } from './htf-wheel.js';
import { hotspots } from './htf-hotspots.js';
import { lazyList } from './htf-hotspot-table.js';
import { listBinding } from './htf-list.js';
import { FITS, loading } from './htf-loading.js';
import { viewLinks } from './htf-hash.js';
import { overview } from './htf-overview.js';
import { fullScreen } from './htf-fullscreen.js';

export const VERSION = '@VERSION@';

const DEFAULT_MEMORY_LIMIT = 1024 * 1024 * 1024;   // decoded pixels and tiles, as the module's cap
let nextOwner = 1;

// The properties a page may set before the element is defined (a framework
// rendering before the definition loads): taken over at connection.
const UPGRADED = ['src', 'template', 'frame', 'frameWidth', 'frameColor', 'fit', 'tool', 'alt', 'list', 'memoryLimit',
  'loading', 'toolbar', 'overview', 'hash', 'strings', 'viewString'];
// How far below (or beside) the viewport a loading="lazy" element starts.
const LAZY_MARGIN = '600px';

// Imported where there is no DOM (server rendering, prerendering, tests under
// node), the module defines nothing and throws nothing.
const ElementBase = globalThis.HTMLElement ?? class {};

class HtfViewer extends ElementBase {
  static observedAttributes = ['src', 'template', 'frame', 'frame-width', 'frame-color', 'fit', 'tool', 'alt', 'list',
    'memory-limit', 'loading', 'toolbar', 'overview', 'hash'];

  static get version() { return VERSION; }
  // The tiles' budget, shared by every element of the page.
  static get tileCacheBytes() { return tileCache.bytes; }
  static get tileCacheLimit() { return tileCache.limit; }
  static set tileCacheLimit(bytes) { tileCache.limit = Math.max(0, Number(bytes) || 0); }
  // A reader that took more than this for one document (its bytes and
  // pixels) is ended after it, giving its memory back (256 MiB).
  static get workerMemoryLimit() { return workerBudget.bytes; }
  static set workerMemoryLimit(bytes) { workerBudget.bytes = Math.max(0, Number(bytes) || 0); }

  constructor() {
    super();
    const root = this.attachShadow({ mode: 'open', delegatesFocus: true });
    // Built with DOM calls and a constructed style sheet, so that pages with
    // a strict Content-Security-Policy (no inline style) and Trusted Types
    // required show the element as any other page.
    root.adoptedStyleSheets = [styleSheet()];
    const arrows = () => [make('div', { class: 'arrow' }), make('div', { class: 'thumb' }), make('div', { class: 'arrow' })];
    this._toolbar = make('div', { class: 'toolbar', role: 'toolbar', part: 'toolbar' });
    this._canvas = make('canvas', { class: 'picture' });
    this._links = make('div', { class: 'links' });
    this._bars = { h: make('div', { class: 'bar h' }, arrows()), v: make('div', { class: 'bar v' }, arrows()) };
    this._corner = make('div', { class: 'corner' });
    this._lensCanvas = make('canvas', { class: 'lens', width: LENS.width, height: LENS.height });
    this._tip = make('div', { class: 'tip', role: 'tooltip', part: 'tip' });
    // The error's text and the progress bar stand in the slots "error" and
    // "progress" until the page puts content of its own there.
    this._errorText = make('span', { class: 'message' });
    this._error = make('div', { class: 'error', role: 'alert', part: 'error' },
      [make('slot', { name: 'error' }, [this._errorText])]);
    this._progressValue = make('div', { class: 'value', part: 'progress-value' });
    this._progress = make('div', { class: 'progress', role: 'progressbar', part: 'progress' },
      [make('slot', { name: 'progress' }, [make('div', { class: 'track' }, [this._progressValue])])]);
    this._view = make('div', { class: 'view', part: 'view', tabindex: '0', role: 'group' },
      [this._canvas, this._links, this._bars.h, this._bars.v, this._corner, this._lensCanvas, this._tip, this._error,
        this._progress]);
    root.append(this._toolbar, this._view);
    this._strings = null;
    this._makeToolbar();
    this._makeOverview();
    this._bindFullScreen();
    this._bindViewLinks();
    this._lensFrame = new Image();   // its picture is fetched with the first document

    this._mode = MODE.POINTER;
    this._generation = 0;
    this._doc = null;           // { image, width, height, hotspots }
    this._core = null;
    this._viewState = 0;
    this._tileOwner = nextOwner++;
    this._tileKey = '';
    this._hover = -1;           // hotspot under the pointer
    this._keyboard = -1;        // hotspot with the keyboard focus
    this._lastKeyboard = -1;    // where Tab enters the hotspots again
    this._highlighted = [];     // hotspots the page outlines
    this._outlineFrom = 'none'; // which input set the outline last: 'pointer' or 'keyboard'
    this._keptFit = 0;          // the fit kept while the element resizes (a fit command), 0: none
    this._tipTimer = 0;
    this._drag = null;
    this._printed = 0;
    this._ratio = 1;
    this._bindPointer();
    this._bindKeyboard();
    this._bindWheel();
    this._resizeObserver = new ResizeObserver(() => this._layout());
  }

  // --- Attributes and life cycle ---

  connectedCallback() {
    // Values a page gave the properties before the element was defined sit
    // on the instance and hide the setters: they go through them now.
    for (const name of UPGRADED) {
      if (!Object.prototype.hasOwnProperty.call(this, name)) continue;
      const value = this[name];
      delete this[name];
      this[name] = value;
    }
    this._resizeObserver.observe(this);
    this._connectFullScreen();
    this._connectViewLinks();
    this._watchRatio();
    this._layout();
    this._bindList();
    // Nothing is fetched or compiled before there is a document to show,
    // unless the page asks for the warm start.
    if (!this._loaded && this.hasAttribute('src')) this._loadWhenNear();
    else this._warmUpIfAsked();
  }

  // loading="eager" written on the element asks for the warm start: the core
  // compiles and the next document's worker starts now, before the element
  // has a src, so that the document it gets later shows sooner. Without the
  // attribute (eager is also the default) nothing is fetched before a src.
  _warmUpIfAsked() {
    if (this.isConnected && !this._loaded && this.getAttribute('loading') === 'eager') warmUp();
  }

  // Loads, or with loading="lazy" waits until the element nears the
  // viewport; either once the running script is done (it may still set the
  // base path or change src again: one load follows).
  _loadWhenNear() {
    this._stopWaiting();
    this._loaded = true;
    if (this._loadQueued) return;
    this._loadQueued = true;
    queueMicrotask(() => {
      this._loadQueued = false;
      if (this.isConnected && this._loaded && !this._nearObserver) this._startLoad();
    });
  }

  _startLoad() {
    if (this.loading !== 'lazy' || typeof IntersectionObserver === 'undefined') {
      this._load();
      return;
    }
    this._nearObserver = new IntersectionObserver((entries) => {
      if (!entries.some((entry) => entry.isIntersecting)) return;
      this._stopWaiting();
      if (this.isConnected) this._load();
    }, { rootMargin: LAZY_MARGIN });
    this._nearObserver.observe(this);
  }

  _stopWaiting() {
    this._nearObserver?.disconnect();
    this._nearObserver = null;
  }

  disconnectedCallback() {
    this._resizeObserver.disconnect();
    this._disconnectFullScreen();
    this._disconnectViewLinks();
    this._ratioQuery?.removeEventListener('change', this._ratioListener);
    window.removeEventListener('resize', this._ratioListener);
    this._ratioQuery = null;
    this._hideTip();
    this._endDrag();
    this._unbindList();
    this._stopWaiting();
    // Moved within the page, the element keeps its document; removed, it
    // gives back its image memory and its view state (and loads again if it
    // comes back).
    queueMicrotask(() => {
      if (this.isConnected) return;
      ++this._generation;
      this._closeReader();
      this._setDocument(null);
      this._loaded = false;
      this._releaseCore();
    });
  }

  attributeChangedCallback(name, oldValue, newValue) {
    switch (name) {
      case 'src':
        if (this.isConnected && oldValue !== newValue) this._loadWhenNear();
        return;
      case 'loading':
        // An element waiting to come near the viewport loads at once when
        // it is no longer lazy.
        if (this._nearObserver && this.loading !== 'lazy') this._loadWhenNear();
        else this._warmUpIfAsked();
        return;
      case 'tool': {
        const mode = TOOLS[newValue ?? 'pointer'];
        if (mode !== undefined && mode !== this._mode) this._setMode(mode);
        return;
      }
      case 'alt':
        this._view.setAttribute('aria-label', this._documentName());
        return;
      case 'list':
        if (this.isConnected) this._bindList();
        return;
      case 'toolbar':
        this._showButtons();
        this._layout();
        return;
      case 'template': case 'frame':
        for (const [index, a] of this._linkOf ?? []) this._setLinkTarget(a, index);
        break;
      case 'frame-width':
        this._view.classList.toggle('no-frame', this.frameWidth === 0);
        break;
      case 'fit':
        this._keptFit = FITS[newValue] ?? 0;
        if (this._keptFit && this._doc) this.command(this._keptFit);
        return;
      default:
        break;
    }
    this._paint();
  }

  get src() { return this.getAttribute('src') ?? ''; }
  set src(value) { this.setAttribute('src', value); }
  get template() { return this.getAttribute('template') ?? DEFAULTS.template; }
  set template(value) { this.setAttribute('template', value); }
  get frame() { return this.getAttribute('frame') ?? DEFAULTS.frame; }
  set frame(value) { this.setAttribute('frame', value); }
  get frameWidth() { return parseFrameWidth(this.getAttribute('frame-width') ?? DEFAULTS.frameWidth); }
  set frameWidth(value) { this.setAttribute('frame-width', String(value)); }
  // Without the attribute, the page's --htf-outline, else the module's colour.
  get frameColor() {
    const styled = this.isConnected ? getComputedStyle(this).getPropertyValue('--htf-outline').trim() : '';
    return parseFrameColor(this.getAttribute('frame-color') ?? (styled || DEFAULTS.frameColor));
  }
  set frameColor(value) { this.setAttribute('frame-color', value); }
  // The fit applied at load and kept while the element resizes: "window",
  // "width", "height", or "none" (the module's: fitted once, then kept).
  get fit() { return FITS[this.getAttribute('fit')] ? this.getAttribute('fit') : 'none'; }
  set fit(value) { this.setAttribute('fit', value); }
  get tool() { return Object.keys(TOOLS).find((name) => TOOLS[name] === this._mode) ?? 'pointer'; }
  set tool(value) {
    if (!(value in TOOLS)) throw new RangeError(`htf-viewer: no tool "${value}"`);
    this.setAttribute('tool', value);
  }
  // The document's accessible name (the file name by default).
  get alt() { return this.getAttribute('alt') ?? ''; }
  set alt(value) { this.setAttribute('alt', value); }
  get list() { return this.getAttribute('list') ?? ''; }
  set list(value) { this.setAttribute('list', value); }
  // The memory a document may take (decoded pixels and tiles), in bytes;
  // 1 GiB at most.
  get memoryLimit() {
    const value = Number(this.getAttribute('memory-limit'));
    return value > 0 ? Math.min(value, DEFAULT_MEMORY_LIMIT) : DEFAULT_MEMORY_LIMIT;
  }
  set memoryLimit(value) { this.setAttribute('memory-limit', String(value)); }
  // "lazy": the document is read once the element nears the viewport;
  // "eager" (the default): at once; written out, it also starts the core and
  // a worker before there is a src.
  get loading() { return this.getAttribute('loading') === 'lazy' ? 'lazy' : 'eager'; }
  set loading(value) { this.setAttribute('loading', value); }
  // The toolbar's buttons: "all" (the default), "none", or the names of
  // those to show ("zoom-in zoom-out fit-window").
  get toolbar() { return this.getAttribute('toolbar') ?? 'all'; }
  set toolbar(value) { this.setAttribute('toolbar', value); }
  get mode() { return this._mode; }

  // Texts by name (see STRINGS): the page's replacements over the English ones.
  get strings() { return { ...STRINGS, ...this._strings }; }
  set strings(table) {
    this._strings = {};
    for (const [name, text] of Object.entries(table ?? {})) if (name in STRINGS) this._strings[name] = String(text);
    this._applyStrings();
  }

  // The hotspots in the document's order, in image pixels.
  get hotspots() {
    if (!this._doc) return [];
    // Each read gets a list of its own; a hotspot's object is made when the
    // page first reads it (a document may have a million of them).
    const list = this._doc.hotspots;
    return lazyList(list.length, (i) => {
      const l = list.left(i), t = list.top(i), r = list.right(i), b = list.bottom(i);
      return Object.freeze({ ref: referenceString(list.reference(i)), text: list.text(i),
        x: Math.min(l, r), y: Math.min(t, b), width: Math.abs(r - l), height: Math.abs(b - t) });
    });
  }

  // Whether the picture of the current view is all drawn (the tiles of a
  // new view may still be coming from the reader), as an image's.
  get complete() { return this._isComplete(); }

  // The visible part in image pixels, and the scale.
  get view() {
    if (!this._doc || !this._core) return null;
    const scale = this._core._htf_view_scale(this._viewState);
    const s = this._state();
    const width = Math.min(s.clientWidth, s.scaledWidth - s.h.position), height = Math.min(s.clientHeight, s.scaledHeight - s.v.position);
    return { scale, x: s.h.position / scale, y: s.v.position / scale, width: width / scale, height: height / scale };
  }

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
      hotspots: this._doc && this._doc.hotspots.length <= 1000 ? Array.from({ length: this._doc.hotspots.length }, (_, i) => this._hotspotRect(i)) : [],
    };
  }

  // Outlines the hotspot(s) with reference `ref` as the pointer does;
  // null clears it.
  highlight(ref) {
    this._highlighted = ref == null ? [] : this._indicesOf(String(ref));
    this._paint();
    this._syncListRows();
  }

  // Scrolls and zooms so that the hotspot with reference `ref` fills most of
  // the view, within the zoom limits. False when there is none.
  zoomToHotspot(ref) {
    const [index] = this._indicesOf(String(ref));
    if (index === undefined || !this._core) return false;
    const c = this._core, v = this._viewState;
    const fits = () => {
      const r = this._hotspotRect(index), s = this._state();
      return r && r.right - r.left <= 0.8 * s.clientWidth && r.bottom - r.top <= 0.8 * s.clientHeight;
    };
    // Out until it fits, then in while the next step still fits.
    for (let i = 0; i < 400 && !fits(); ++i) if (!c._htf_view_command(v, COMMAND.ZOOM_OUT)) break;
    for (let i = 0; i < 400; ++i) {
      const before = c._htf_view_scale(v);
      if (!c._htf_view_command(v, COMMAND.ZOOM_IN) || c._htf_view_scale(v) === before) break;
      if (!fits()) {
        c._htf_view_command(v, COMMAND.ZOOM_OUT);
        break;
      }
    }
    const r = this._hotspotRect(index), s = this._state();
    this._setPositions(Math.max(0, Math.round((r.left + r.right - s.clientWidth) / 2)),
      Math.max(0, Math.round((r.top + r.bottom - s.clientHeight) / 2)));
    this._keptFit = 0;
    this._afterScroll();
    return true;
  }

  // Events bubble and cross the shadow boundary, as the platform's do.
  _fire(name, detail, cancelable = false) {
    return this.dispatchEvent(new CustomEvent(name, { detail, bubbles: true, composed: true, cancelable }));
  }

  _documentName() {
    if (this.hasAttribute('alt')) return this.getAttribute('alt');
    const src = this.getAttribute('src');
    if (src) {
      try {
        const name = decodeURIComponent(new URL(src, document.baseURI).pathname.split('/').pop());
        if (name) return name;
      } catch { /* an unreadable address: the generic name */ }
    }
    return this._string('document');
  }

  _describe() {
    if (!this._doc) return this._view.removeAttribute('aria-description');
    const count = this._doc.hotspots.length;
    this._view.setAttribute('aria-description', this._string(count === 1 ? 'descriptionOne' : 'description',
      { width: this._doc.width, height: this._doc.height, count }));
  }

  // --- Geometry ---

  _viewport() {
    return {
      width: Math.max(0, this._view.clientWidth),
      height: Math.max(0, this._view.clientHeight),
    };
  }

  // The device pixel ratio, followed as it changes (another screen, the
  // browser's zoom).
  _watchRatio() {
    this._ratioQuery?.removeEventListener('change', this._ratioListener);
    this._ratio = window.devicePixelRatio || 1;
    this._ratioQuery = matchMedia(`(resolution: ${this._ratio}dppx)`);
    this._ratioListener ??= () => {
      if ((window.devicePixelRatio || 1) === this._ratio) return;
      this._watchRatio();
      this._clearTiles();
      this._layout();
    };
    this._ratioQuery.addEventListener('change', this._ratioListener);
    // The browser's zoom changes the ratio with a resize of the window; and
    // the canvas's size in device pixels changes with any change of it.
    window.removeEventListener('resize', this._ratioListener);
    window.addEventListener('resize', this._ratioListener);
    if (!this._deviceObserver) {
      this._deviceObserver = new ResizeObserver(() => this._ratioListener());
      try {
        this._deviceObserver.observe(this._canvas, { box: 'device-pixel-content-box' });
      } catch {
        this._deviceObserver.observe(this._canvas);
      }
    }
  }

  _layout() {
    if ((window.devicePixelRatio || 1) !== this._ratio && this.isConnected) {
      this._watchRatio();
      this._clearTiles();
    }
    const { width, height } = this._viewport();
    const ratio = this._ratio || 1;
    this._canvas.width = Math.round(width * ratio);
    this._canvas.height = Math.round(height * ratio);
    this._canvas.style.width = `${width}px`;
    this._canvas.style.height = `${height}px`;
    this._view.classList.toggle('no-frame', this.frameWidth === 0);
    if (this._core && this._viewState) {
      this._core._htf_view_set_viewport(this._viewState, width, height);
      if (this._doc) {
        this._core._htf_view_fit(this._viewState);
        // A kept fit follows the element's size.
        if (this._keptFit) this._core._htf_view_command(this._viewState, this._keptFit);
      }
    }
    this._paint();
  }

  // At most one htf-viewchange a frame, after the view moved or zoomed.
  _viewChanged() {
    if (!this._doc) return;
    const s = this._state();
    const key = `${s.scaledWidth},${s.scaledHeight},${s.h.position},${s.v.position},${s.clientWidth},${s.clientHeight}`;
    if (key === this._viewKey) return;
    this._viewKey = key;
    if (this._viewFrame) return;
    this._viewFrame = requestAnimationFrame(() => {
      this._viewFrame = 0;
      const view = this.view;
      if (view) this._fire('htf-viewchange', view);
    });
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

  // Before a paint of the fitted view: a view waiting for the document, or
  // the centre kept across a change of full screen, is applied. True when
  // one was (the view has been painted with it).
  _viewWaiting() {
    return this._applyPendingView() || this._restoreFullScreenCentre();
  }

  // After each paint (`s`: the view's state, null without a picture): the
  // overview follows the view.
  _afterPaint(s) {
    this._updateOverview(s);
  }

  // A scroll bar request as the platform numbers them (0 line up, 1 line
  // down, 2 page up, 3 page down, 5 thumb track to `thumb`) on the
  // "horizontal" or "vertical" bar.
  scrollBar(bar, request, thumb = 0) {
    this._scroll(bar === 'horizontal', request, thumb);
  }
}

// The element's other concerns, one module each.
Object.assign(HtfViewer.prototype, loading, toolbar, painting, pointerInput, keyboardInput, wheelInput, hotspots, listBinding);
// These have properties of their own: copied as getters and setters.
for (const part of [viewLinks, overview, fullScreen]) {
  Object.defineProperties(HtfViewer.prototype, Object.getOwnPropertyDescriptors(part));
}

if (globalThis.customElements && !customElements.get('htf-viewer')) customElements.define('htf-viewer', HtfViewer);

export { HtfViewer, setBasePath, warmUp };
