// The overview of <htf-viewer>: with the `overview` attribute, a small
// picture of the whole document in the view's top right corner with the
// visible part outlined, while the view shows less than the whole picture
// ("auto", the default) or always ("always"). A click centres the view on
// the point clicked, a drag moves it continuously, the arrow keys move it
// while the overview has the focus. Its picture is drawn from the tiles the
// page holds (the coarsest complete set at least the overview's size); when
// the page holds none that covers the document, the worker is asked once
// the element is idle for the whole document at the overview's size, as any
// view (the level at least that size, or the striped image drawn at it).
// Members of the element; it needs the view-link module's _centreOn.
import { make } from './htf-style.js';
import { tileCache, tilePlace } from './htf-paint.js';

export const OVERVIEW = { size: 160, share: 0.4, margin: 8, min: 48 };
const STRIPE_TILE = 256;      // the side of a striped level's drawn tiles
const KEY_STEP = 0.1;         // an arrow key moves the view by this share of it
const REQUESTS = 3;           // times the worker is asked for a document's overview

const STYLE = `
.overview { position: absolute; top: ${OVERVIEW.margin}px; display: none; z-index: 1; box-sizing: content-box;
            border: 1px solid #404040; background: #fff; box-shadow: 1px 1px 3px rgba(0,0,0,0.4);
            cursor: crosshair; touch-action: none; }
.overview:focus-visible { outline: 2px solid #000080; outline-offset: 1px; }
.overview canvas { position: absolute; left: 0; top: 0; }
.overview-frame { position: absolute; box-sizing: border-box; border: 2px solid #f00; pointer-events: none;
                  min-width: 4px; min-height: 4px; }
`;
let sheet = null;

// The overview's size in CSS pixels for a W x H document in a client area
// of cw x ch: within OVERVIEW.size and a share of the client, the
// document's proportions kept. Null where it would be too small to use.
export function overviewSize(W, H, cw, ch) {
  const box = Math.min(OVERVIEW.size, Math.floor(cw * OVERVIEW.share), Math.floor(ch * OVERVIEW.share));
  if (!(W > 0 && H > 0) || box < OVERVIEW.min) return null;
  const k = box / Math.max(W, H);
  return { width: Math.max(4, Math.round(W * k)), height: Math.max(4, Math.round(H * k)) };
}

// The tiles to draw the overview from: among the resolutions of which the
// page holds every tile (a level's own tiles, or a striped level drawn at
// one size), the coarsest at least `width` pixels wide, else the finest
// there is. `levels` are the document's ({ width, height, tileWidth,
// tileHeight }); null when no resolution is whole.
export function overviewTiles(entries, levels, width) {
  const groups = new Map();
  for (const e of entries) {
    const key = e.kind === 'L' ? `L${e.level}` : `R${e.resWidth}x${e.resHeight}`;
    let g = groups.get(key);
    if (!g) groups.set(key, g = { key, resWidth: e.resWidth, resHeight: e.resHeight, level: e.level, kind: e.kind,
      cells: new Set(), entries: [] });
    g.cells.add(`${e.column},${e.row}`);
    g.entries.push(e);
  }
  const whole = [...groups.values()].filter((g) => {
    let tw = STRIPE_TILE, th = STRIPE_TILE;
    if (g.kind === 'L') {
      const l = levels[g.level];
      if (!l || l.width !== g.resWidth || l.height !== g.resHeight || !(l.tileWidth > 0 && l.tileHeight > 0)) return false;
      [tw, th] = [l.tileWidth, l.tileHeight];
    }
    return g.cells.size >= Math.ceil(g.resWidth / tw) * Math.ceil(g.resHeight / th);
  });
  if (!whole.length) return null;
  whole.sort((a, b) => a.resWidth - b.resWidth);
  return whole.find((g) => g.resWidth >= width) ?? whole[whole.length - 1];
}

// The visible part of the image as a rectangle of an overview of ow x oh
// pixels (from the view's scale and state).
export function overviewFrame(s, scale, W, H, ow, oh) {
  const x0 = Math.max(0, (s.h.position - s.imageLeft) / scale);
  const y0 = Math.max(0, (s.v.position - s.imageTop) / scale);
  const x1 = Math.min(W, (s.h.position - s.imageLeft + s.clientWidth) / scale);
  const y1 = Math.min(H, (s.v.position - s.imageTop + s.clientHeight) / scale);
  return { left: (x0 * ow) / W, top: (y0 * oh) / H, width: (Math.max(0, x1 - x0) * ow) / W,
    height: (Math.max(0, y1 - y0) * oh) / H };
}

export const overview = {
  _makeOverview() {
    this._overviewPicture = make('canvas', { 'aria-hidden': 'true' });
    this._overviewFrame = make('div', { class: 'overview-frame', part: 'overview-frame' });
    this._overview = make('div', { class: 'overview', part: 'overview', role: 'group', tabindex: '0' },
      [this._overviewPicture, this._overviewFrame]);
    this._overview.setAttribute('aria-label', this._string('overview'));
    this._view.append(this._overview);
    if (!sheet) {
      sheet = new CSSStyleSheet();
      sheet.replaceSync(STYLE);
    }
    this.shadowRoot.adoptedStyleSheets = [...this.shadowRoot.adoptedStyleSheets, sheet];
    this._overviewDrawn = null;   // { doc, key, width, height }: what the picture shows
    this._overviewAsked = null;   // { doc, times }
    const box = this._overview;
    box.addEventListener('pointerdown', (e) => {
      if (e.button !== 0 || !this._doc) return;
      e.preventDefault();
      e.stopPropagation();
      box.focus({ preventScroll: true });
      box.setPointerCapture(e.pointerId);
      this._overviewDrag = e.pointerId;
      this._overviewMoveTo(e);
    });
    box.addEventListener('pointermove', (e) => {
      e.stopPropagation();
      if (this._overviewDrag === e.pointerId) this._overviewMoveTo(e);
    });
    const end = (e) => {
      if (this._overviewDrag === e.pointerId) this._overviewDrag = undefined;
    };
    box.addEventListener('pointerup', end);
    box.addEventListener('lostpointercapture', end);
    box.addEventListener('keydown', (e) => this._overviewKey(e));
  },

  // The attribute: "auto" (the default for any other value), "always", or
  // absent ("none").
  get overview() {
    if (!this.hasAttribute('overview')) return 'none';
    return this.getAttribute('overview') === 'always' ? 'always' : 'auto';
  },
  set overview(value) {
    if (value === null || value === undefined || value === false || value === 'none') this.removeAttribute('overview');
    else this.setAttribute('overview', value === true ? '' : String(value));
  },

  // The image point under a pointer event on the overview.
  _overviewMoveTo(event) {
    const rect = this._overviewPicture.getBoundingClientRect();
    if (!this._doc || !(rect.width > 0 && rect.height > 0)) return;
    const fx = Math.max(0, Math.min(1, (event.clientX - rect.left) / rect.width));
    const fy = Math.max(0, Math.min(1, (event.clientY - rect.top) / rect.height));
    this._centreOn(fx * this._doc.width, fy * this._doc.height);
  },

  // The arrows move the view; Tab is the browser's (the view would take it
  // into its hotspots); every other key goes on to the view and the element.
  _overviewKey(event) {
    const step = { ArrowLeft: [-1, 0], ArrowRight: [1, 0], ArrowUp: [0, -1], ArrowDown: [0, 1] }[event.key];
    if (event.key === 'Tab') event.stopPropagation();
    if (!step || !this._doc || event.altKey || event.ctrlKey || event.metaKey) return;
    event.stopPropagation();
    event.preventDefault();
    const view = this.view, centre = this._viewCentre();
    if (!view || !centre) return;
    this._centreOn(centre.x + step[0] * Math.max(1, view.width * KEY_STEP),
      centre.y + step[1] * Math.max(1, view.height * KEY_STEP));
  },

  // At every paint, with the view's state `s` (null without a picture):
  // shows, places and outlines the overview, or hides it.
  _updateOverview(s) {
    const box = this._overview;
    if (!box) return;
    const mode = this.overview;
    const size = s && this._doc ? overviewSize(this._doc.width, this._doc.height, s.clientWidth, s.clientHeight) : null;
    const partial = s && (s.scaledWidth > s.clientWidth || s.scaledHeight > s.clientHeight);
    if (!size || mode === 'none' || (mode === 'auto' && !partial)) {
      if (box.style.display !== 'none') {
        // The focus leaves with it, back to the view.
        if (this.shadowRoot.activeElement === box) this._view.focus({ preventScroll: true });
        box.style.display = 'none';
      }
      return;
    }
    box.style.display = 'block';
    box.style.width = `${size.width}px`;
    box.style.height = `${size.height}px`;
    box.style.right = `${(s.v.shown ? this._view.clientWidth - s.clientWidth : 0) + OVERVIEW.margin}px`;
    const scale = this._core._htf_view_scale(this._viewState);
    const f = overviewFrame(s, scale, this._doc.width, this._doc.height, size.width, size.height);
    const frame = this._overviewFrame.style;
    frame.left = `${Math.floor(f.left)}px`;
    frame.top = `${Math.floor(f.top)}px`;
    frame.width = `${Math.ceil(f.left + f.width) - Math.floor(f.left)}px`;
    frame.height = `${Math.ceil(f.top + f.height) - Math.floor(f.top)}px`;
    this._drawOverview(size);
  },

  // The overview's picture, drawn again when the page holds a better set of
  // tiles than the one it shows (or its size changed).
  _drawOverview(size) {
    const ratio = this._ratio || 1;
    const width = Math.max(1, Math.round(size.width * ratio)), height = Math.max(1, Math.round(size.height * ratio));
    const drawn = this._overviewDrawn;
    const same = drawn && drawn.doc === this._doc && drawn.width === width && drawn.height === height;
    const stamp = `${tileCache.entries.size}:${tileCache.bytes}`;
    if (same && (drawn.stamp === stamp || drawn.best)) return;
    const source = overviewTiles(this._ownTiles(), this._doc.levels, width);
    if (same && drawn.key === source?.key) {
      drawn.stamp = stamp;
      return;
    }
    const canvas = this._overviewPicture;
    if (!source) {
      if (!same) {
        canvas.width = width;
        canvas.height = height;
        canvas.style.width = `${size.width}px`;
        canvas.style.height = `${size.height}px`;
        canvas.getContext('2d').clearRect(0, 0, width, height);
        this._overviewDrawn = { doc: this._doc, key: '', width, height, stamp };
      } else {
        drawn.stamp = stamp;
      }
      this._askForOverview(width, height);
      return;
    }
    canvas.width = width;
    canvas.height = height;
    canvas.style.width = `${size.width}px`;
    canvas.style.height = `${size.height}px`;
    const ctx = canvas.getContext('2d');
    ctx.imageSmoothingEnabled = true;
    ctx.imageSmoothingQuality = 'high';
    for (const e of source.entries) {
      const at = tilePlace(e, width, height);
      ctx.drawImage(e.tile, at.left, at.top, at.right - at.left, at.bottom - at.top);
    }
    // A set at least the overview's size is as good as any: kept until the
    // document or the size changes.
    this._overviewDrawn = { doc: this._doc, key: source.key, width, height, stamp, best: source.resWidth >= width };
  },

  // No held tiles cover the document: the worker is asked for it at the
  // overview's size, as a view of its own, once no view of the screen is
  // on its way (a later view of the screen ends it; it is asked again at
  // most REQUESTS times a document).
  _askForOverview(width, height) {
    const v = this._views;
    if (!v || !this._reader || this._printing || v.outstanding || v.pending) return;
    const asked = this._overviewAsked;
    if (asked?.doc === this._doc && asked.times >= REQUESTS) return;
    this._overviewAsked = { doc: this._doc, times: asked?.doc === this._doc ? asked.times + 1 : 1 };
    const W = this._doc.width, H = this._doc.height;
    const message = { view: v.next++, scale: width / W, left: 0, top: 0, right: W, bottom: H, scaledWidth: width,
      scaledHeight: height };
    v.keys.set(message.view, 'overview');
    this._sendView(message);
  },
};
