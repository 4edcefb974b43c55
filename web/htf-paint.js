// Painting of <htf-viewer>: the picture from tiles made by the core's
// sampler, the hotspot outline, the scroll bars, the magnifier lens and the
// printed part. Members of the element (mixed into its prototype).
import { MODE, thumbGeometry, tilesCovering } from './htf-logic.js';
import { LENS, LIGHT_GREY, SCROLL_BAR, TILE, TILE_CACHE_BYTES } from './htf-style.js';

// The tiles of every element on the page share one budget, as the module's
// process does: least recently used first out, whichever element made it.
const PRINT_PIXELS = 16 * 1024 * 1024;

export const tileCache = { entries: new Map(), bytes: 0, limit: TILE_CACHE_BYTES };

function forgetTile(key) {
  const entry = tileCache.entries.get(key);
  if (!entry) return;
  tileCache.entries.delete(key);
  tileCache.bytes -= entry.bytes;
}

export const painting = {
  _clearTiles() {
    const prefix = `${this._tileOwner}|`;
    for (const key of [...tileCache.entries.keys()]) if (key.startsWith(prefix)) forgetTile(key);
    this._tileKey = '';
  },

  // Tile `t` of the image scaled to scaledWidth x scaledHeight device pixels.
  _tile(t, scaledWidth, scaledHeight) {
    const key = `${scaledWidth}x${scaledHeight}`;
    if (key !== this._tileKey) {
      this._clearTiles();
      this._tileKey = key;
    }
    const id = `${this._tileOwner}|${t.column},${t.row}`;
    const known = tileCache.entries.get(id);
    if (known) {
      tileCache.entries.delete(id);     // most recently used last
      tileCache.entries.set(id, known);
      return known.tile;
    }
    const c = this._core;
    const bytes = t.w * t.h * 4;
    const out = c._htf_alloc(bytes);
    if (!out) return null;
    let tile;
    try {
      if (!c._htf_image_tile(this._doc.image, t.x, t.y, t.w, t.h, scaledWidth, scaledHeight, out)) return null;
      tile = document.createElement('canvas');
      tile.width = t.w;
      tile.height = t.h;
      tile.getContext('2d').putImageData(new ImageData(new Uint8ClampedArray(c.HEAPU8.buffer, out, bytes), t.w, t.h), 0, 0);
    } finally {
      c._htf_free(out);
    }
    tileCache.entries.set(id, { tile, bytes });
    tileCache.bytes += bytes;
    for (const oldest of tileCache.entries.keys()) {
      if (tileCache.bytes <= tileCache.limit || oldest === id) break;
      forgetTile(oldest);
    }
    return tile;
  },

  // Draws the picture as the module's paint does: grey margins, the visible
  // part of the scaled image from tiles, then the hotspot outline. The
  // canvas has the screen's device pixels, and the tiles are made at that
  // resolution: at 1:1 on a ratio-2 screen an image pixel is 2 x 2 device
  // pixels.
  _paint(options) {
    try {
      this._paintNow(options);
    } catch (error) {
      // A core that trapped while drawing is thrown away; the element says so
      // and takes the next document with a new one.
      if (!this._coreFailed(error)) throw error;
      this._fail(error);
    }
  },

  _paintNow({ outline = true } = {}) {
    const ctx = this._canvas.getContext('2d');
    const width = this._canvas.width, height = this._canvas.height;
    const ratio = this._ratio || 1;
    ctx.setTransform(1, 0, 0, 1, 0, 0);
    ctx.fillStyle = LIGHT_GREY;
    ctx.fillRect(0, 0, width, height);
    if (!this._doc || !this._core || !this._core._htf_view_fit(this._viewState)) {
      this._updateBars(null);
      return;
    }
    const s = this._state();
    const hp = s.h.position, vp = s.v.position;
    const r = { left: s.imageLeft, top: s.imageTop, right: s.imageRight, bottom: s.imageBottom };
    const d = (v) => Math.round(v * ratio);
    const sw = d(s.scaledWidth), sh = d(s.scaledHeight);
    ctx.save();
    ctx.beginPath();
    ctx.rect(d(r.left), d(r.top), d(r.right) - d(r.left), d(r.bottom) - d(r.top));
    ctx.clip();
    for (const t of tilesCovering(d(hp), d(vp), d(hp) + d(r.right) - d(r.left), d(vp) + d(r.bottom) - d(r.top), sw, sh, TILE)) {
      const tile = this._tile(t, sw, sh);
      if (tile) ctx.drawImage(tile, d(r.left) + t.x - d(hp), d(r.top) + t.y - d(vp));
    }
    ctx.restore();
    if (outline && this.frameWidth > 0) {
      // The platform's rectangle with a pen of width w: the pen's centre
      // runs along the rectangle's edges, right and bottom exclusive. The
      // pen is a whole number of device pixels, at least one.
      const w = Math.max(1, Math.round(this.frameWidth * ratio));
      ctx.strokeStyle = this.frameColor;
      ctx.lineWidth = w;
      const inset = w % 2 ? 0.5 : 0;
      for (const index of this._outlines()) {
        const h = this._hotspotRect(index);
        if (!h) continue;
        ctx.strokeRect(d(h.left - hp) + inset, d(h.top - vp) + inset,
          d(h.right - h.left) - Math.round(ratio), d(h.bottom - h.top) - Math.round(ratio));
      }
    }
    this._updateBars(s);
    this._placeLinks(s);
    this._viewChanged?.();
  },

  _outlined() {
    if (this._mode !== MODE.POINTER) return -1;
    return this._outlineFrom === 'keyboard' ? this._keyboard : this._hover;
  },

  // Every outlined hotspot: the pointer's or the keyboard's, and those the
  // page highlights.
  _outlines() {
    const set = new Set(this._highlighted ?? []);
    const own = this._outlined();
    if (own >= 0) set.add(own);
    return set;
  },

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
  },

  // Prints what the view shows: the visible part of the picture, without
  // outline, lens or tooltip, on one page, at the document's own resolution
  // (as far as PRINT_PIXELS allows), not the screen's.
  print() {
    if (!this._doc) return;
    const c = this._core;
    this._state();
    const v = new Int32Array(c.HEAPU8.buffer, this._stateBuffer, 20);
    const left = v[8], top = v[9], right = Math.min(v[10], this._doc.width), bottom = Math.min(v[11], this._doc.height);
    const w = Math.max(1, right - left), h = Math.max(1, bottom - top);
    const k = Math.min(1, Math.sqrt(PRINT_PIXELS / (w * h)));
    const part = document.createElement('canvas');
    part.width = Math.max(1, Math.round(w * k));
    part.height = Math.max(1, Math.round(h * k));
    const bytes = part.width * part.height * 4;
    const out = c._htf_alloc(bytes);
    if (!out) return this._fail(new Error(this._string('outOfMemory')));
    try {
      const sw = Math.max(1, Math.round(this._doc.width * k)), sh = Math.max(1, Math.round(this._doc.height * k));
      const x = Math.min(Math.round(left * k), sw - part.width), y = Math.min(Math.round(top * k), sh - part.height);
      if (!c._htf_image_tile(this._doc.image, Math.max(0, x), Math.max(0, y), part.width, part.height, sw, sh, out)) {
        return this._fail(new Error(this._string('outOfMemory')));
      }
      part.getContext('2d').putImageData(
        new ImageData(new Uint8ClampedArray(c.HEAPU8.buffer, out, bytes), part.width, part.height), 0, 0);
    } finally {
      c._htf_free(out);
    }
    const frame = document.createElement('iframe');
    frame.setAttribute('aria-hidden', 'true');
    frame.style.cssText = 'position:fixed;width:0;height:0;border:0;left:-10px;top:-10px;';
    const source = part.toDataURL('image/png');
    this._printed += 1;
    this.dataset.printed = String(this._printed);
    this.dataset.printedSize = `${part.width}x${part.height}`;
    // The frame's empty document is filled with DOM calls and a constructed
    // style sheet (no markup), as a strict page allows.
    document.body.append(frame);
    const win = frame.contentWindow, doc = frame.contentDocument;
    if (!win || !doc?.body) {
      frame.remove();
      return;
    }
    const sheet = new win.CSSStyleSheet();
    sheet.replaceSync('@page { margin: 10mm } body { margin: 0 } ' +
      'img { max-width: 100%; max-height: 100vh; object-fit: contain }');
    doc.adoptedStyleSheets = [sheet];
    doc.title = 'Print';
    const picture = doc.createElement('img');
    picture.onload = () => {
      // The page may be gone by the time the dialog closes: nothing is
      // touched after print() returns but the frame itself.
      try { win.print(); } finally { setTimeout(() => frame.remove(), 1000); }
    };
    picture.src = source;
    doc.body.append(picture);
  },


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
      const k = this._ratio || 1;
      ctx.drawImage(this._canvas, (x + LENS.hotX - Math.floor(sw / 2)) * k, (y + LENS.hotY - Math.floor(sh / 2)) * k,
        sw * k, sh * k, 0, 0, LENS.width, LENS.height);
    } else if (scale > 0) {
      this._drawLensFromImage(ctx, x, y, s, scale);
    }
    ctx.restore();
    if (this._lensFrame.complete) ctx.drawImage(this._lensFrame, 0, 0);
  },

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
  },
};
