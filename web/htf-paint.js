// Painting of <htf-viewer>: the picture from the tiles the worker sends for
// each view, the hotspot outline, the scroll bars, the magnifier lens and the
// printed part. Members of the element (mixed into its prototype).
//
// The worker sends, for a tiled level, the level's own tiles (the page
// scales them), and for a striped level the view drawn at its scale in tiles
// of TILE x TILE device pixels. Every tile is kept as a canvas with the
// resolution it was made at; a paint draws the tiles that meet the view,
// coarser ones first, those of the resolution the view asked for last, so
// that a coarser picture stands in, scaled, while the finer one arrives.
import { MODE, thumbGeometry } from './htf-logic.js';
import { LENS, LIGHT_GREY, SCROLL_BAR, TILE, TILE_CACHE_BYTES } from './htf-style.js';

// The tiles of every element on the page share one budget, as the module's
// process does: least recently used first out, whichever element made it.
const PRINT_PIXELS = 16 * 1024 * 1024;

export const tileCache = { entries: new Map(), bytes: 0, limit: TILE_CACHE_BYTES };

// The bytes a level takes decoded.
export function decodedBytes(level) {
  return level.bits === 32 ? level.width * level.height * 4 : Math.ceil(level.width * level.bits / 8) * level.height;
}

// Where a tile made at resolution resWidth x resHeight lands in a picture of
// width x height: whole pixels, so that neighbours meet without a seam.
export function tilePlace(entry, width, height) {
  const kx = width / entry.resWidth, ky = height / entry.resHeight;
  const left = Math.round(entry.x * kx), top = Math.round(entry.y * ky);
  return { left, top, right: Math.round((entry.x + entry.w) * kx), bottom: Math.round((entry.y + entry.h) * ky) };
}

// The order tiles are drawn in: coarser before finer, those of the wanted
// resolution (`exact`) last.
export function drawingOrder(entries, exact) {
  return entries.slice().sort((a, b) => (exact(a) - exact(b)) || (a.resWidth - b.resWidth));
}

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
    this._targetLevel = -1;
  },

  // A tile from the worker as a canvas of its own pixels.
  _tileCanvas(m) {
    const tile = document.createElement('canvas');
    tile.width = m.width;
    tile.height = m.height;
    const bytes = m.width * m.height * 4;
    if (m.rendered) {
      tile.getContext('2d').putImageData(new ImageData(new Uint8ClampedArray(m.pixels, 0, bytes), m.width, m.height), 0, 0);
      return tile;
    }
    // A level's tile as the file packs it: made RGBA by the core's sampler at
    // its own size, the same pixels as the whole image would give.
    const c = this._core;
    const image = c._htf_image_make(m.width, m.height, m.bits, m.rowBytes);
    if (!image) return null;
    const out = c._htf_alloc(bytes);
    try {
      if (!out) return null;
      c.HEAPU8.set(new Uint8Array(m.pixels, 0, Math.min(m.pixels.byteLength, m.rowBytes * m.height)), c._htf_image_pixels(image));
      if (m.bits !== 32 && m.palette) c.HEAPU8.set(new Uint8Array(m.palette), c._htf_image_palette(image));
      c._htf_image_ready(image);
      if (!c._htf_image_tile(image, 0, 0, m.width, m.height, m.width, m.height, out)) return null;
      tile.getContext('2d').putImageData(new ImageData(new Uint8ClampedArray(c.HEAPU8.buffer, out, bytes), m.width, m.height), 0, 0);
      return tile;
    } finally {
      c._htf_free(out);
      c._htf_image_release(image);
    }
  },

  _tileArrived(m) {
    if (!this._doc) return;
    const printing = this._printing;
    if (printing && m.view === printing.view) return this._printTile(m);
    const tile = this._tileCanvas(m);
    if (!tile) return;
    const kind = m.rendered ? 'R' : 'L';
    const entry = { tile, bytes: m.width * m.height * 4, kind, level: m.level, column: m.column, row: m.row,
      x: m.x, y: m.y, w: m.width, h: m.height,
      resWidth: m.rendered ? m.scaledWidth : m.levelWidth, resHeight: m.rendered ? m.scaledHeight : m.levelHeight };
    const id = `${this._tileOwner}|${kind}${m.level}:${entry.resWidth}x${entry.resHeight}:${m.column},${m.row}`;
    forgetTile(id);
    tileCache.entries.set(id, entry);
    tileCache.bytes += entry.bytes;
    for (const oldest of tileCache.entries.keys()) {
      if (tileCache.bytes <= tileCache.limit || oldest === id) break;
      forgetTile(oldest);
    }
    if (this._views?.keys.get(m.view) === this._views.key) this._targetLevel = m.level, this._targetDrawn = !!m.rendered;
    this._paintSoon();
  },

  _paintSoon() {
    if (this._paintFrame) return;
    this._paintFrame = requestAnimationFrame(() => {
      this._paintFrame = 0;
      this._paint();
    });
  },

  // This element's tiles.
  _ownTiles() {
    const prefix = `${this._tileOwner}|`, own = [];
    for (const [key, entry] of tileCache.entries) if (key.startsWith(prefix)) own.push(entry);
    return own;
  },

  // Draws the tiles meeting `visible` (pixels of the picture, width x height)
  // with the picture's origin at (ox, oy) of `ctx`.
  _drawTiles(ctx, ox, oy, width, height, visible) {
    // A level's own tiles stand in, under the rest, where the view draws
    // that level in the worker.
    const exact = (e) => (e.kind === 'R' ? e.resWidth === width && e.resHeight === height
      : e.level === this._targetLevel && !this._targetDrawn) ? 1 : 0;
    const shown = [];
    for (const entry of this._ownTiles()) {
      const at = tilePlace(entry, width, height);
      if (at.right <= visible.left || at.left >= visible.right || at.bottom <= visible.top || at.top >= visible.bottom) continue;
      shown.push({ entry, at });
    }
    const order = drawingOrder(shown.map((s) => Object.assign(s.entry, { at: s.at })), exact);
    for (const e of order) {
      const w = e.at.right - e.at.left, h = e.at.bottom - e.at.top;
      // The wanted resolution made larger shows its pixels as squares; a
      // stand-in, or a tile made smaller, is smoothed.
      ctx.imageSmoothingEnabled = w < e.w || !exact(e);
      ctx.drawImage(e.tile, ox + e.at.left, oy + e.at.top, w, h);
    }
    ctx.imageSmoothingEnabled = true;
  },

  // Asks the worker for the view's tiles when the view changed: at most one
  // view in flight and the newest waiting (a newer one ends the one the
  // worker is sending).
  _requestView(width, height, visible) {
    if (!this._reader || !this._doc) return;
    const v = this._views ??= { next: 1, key: '', doneKey: '', keys: new Map(), outstanding: 0, pending: null };
    const key = `${width}x${height}:${visible.left},${visible.top},${visible.right},${visible.bottom}`;
    if (key === v.key) return;
    if (key !== v.current?.key) v.retried = false;
    v.key = key;
    v.current = { key, width, height, visible };
    const W = this._doc.width, H = this._doc.height;
    const message = { view: v.next++, scale: width / W, left: (visible.left * W) / width, top: (visible.top * H) / height,
      right: (visible.right * W) / width, bottom: (visible.bottom * H) / height, scaledWidth: width, scaledHeight: height };
    v.keys.set(message.view, key);
    if (v.outstanding >= 2 || this._printing) {
      v.pending = message;
      return;
    }
    v.pending = null;
    this._sendView(message);
  },

  _sendView(message) {
    const v = this._views;
    // The tiles still held are not sent again; drawn tiles (marked by a
    // fourth element: a level may come both ways) only at the same scale.
    const have = [];
    for (const e of this._ownTiles()) {
      if (e.kind === 'L') have.push([e.level, e.column, e.row]);
      else if (e.resWidth === message.scaledWidth && e.resHeight === message.scaledHeight) {
        have.push([e.level, e.column, e.row, 1]);
      }
    }
    ++v.outstanding;
    if (this._reading) ++this._reading.views;
    this._reader.post({ ...message, have: message.print ? [] : have });
  },

  _viewDone(m) {
    const v = this._views;
    if (!v) return;
    --v.outstanding;
    if (this._reading) --this._reading.views;
    if (this._printing && m.view === this._printing.view) {
      this._printDone();
    } else if (!m.cancelled && v.keys.get(m.view) === v.key) {
      v.doneKey = v.key;
      this._targetLevel = m.level;
      this._targetDrawn = m.rendered ?? !this._doc.levels[m.level]?.tiled;
      // Tiles of this view pushed out of the page's budget by later ones are
      // asked for once more.
      if (!v.retried && this._viewMissing(m.level, this._targetDrawn, v.current)) {
        v.retried = true;
        v.key = '';
      }
    }
    v.keys.delete(m.view);
    if (v.pending && v.outstanding < 2) {
      const pending = v.pending;
      v.pending = null;
      this._sendView(pending);
    }
    this._paint();
    if (v.doneKey === v.key && !v.outstanding) this._pictureComplete();
  },

  // Whether a tile of level `level` that the view needs is not held: the
  // level's own tiles, or those drawn at the view's scale (`rendered`).
  _viewMissing(level, rendered, { width, height, visible }) {
    const l = this._doc.levels[level];
    if (!l) return false;
    const [kind, rw, rh, tw, th] = rendered ? ['R', width, height, TILE, TILE]
      : ['L', l.width, l.height, l.tileWidth, l.tileHeight];
    const held = new Set();
    for (const e of this._ownTiles()) held.add(`${e.kind}${e.level}:${e.resWidth}x${e.resHeight}:${e.column},${e.row}`);
    const cell = (v, k, size, count) => Math.max(0, Math.min(count - 1, Math.floor((v * k) / size)));
    const columns = Math.ceil(rw / tw), rows = Math.ceil(rh / th);
    const c0 = cell(visible.left, rw / width, tw, columns), c1 = cell(visible.right - 1, rw / width, tw, columns);
    const r0 = cell(visible.top, rh / height, th, rows), r1 = cell(visible.bottom - 1, rh / height, th, rows);
    for (let row = r0; row <= r1; ++row) {
      for (let column = c0; column <= c1; ++column) {
        if (!held.has(`${kind}${level}:${rw}x${rh}:${column},${row}`)) return true;
      }
    }
    return false;
  },

  // Whether the picture the view asks for is all there.
  _isComplete() {
    const v = this._views;
    return !!(this._doc && this._doc.shown && v && v.doneKey === v.key && !v.outstanding && !v.pending);
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

  // The colour around the image: the view's background (the page's
  // --htf-letterbox, or the chrome's colour).
  _letterbox() {
    return (this.isConnected && getComputedStyle(this._view).backgroundColor) || LIGHT_GREY;
  },

  _paintNow({ outline = true } = {}) {
    const ctx = this._canvas.getContext('2d');
    const width = this._canvas.width, height = this._canvas.height;
    const ratio = this._ratio || 1;
    ctx.setTransform(1, 0, 0, 1, 0, 0);
    ctx.fillStyle = this._letterbox();
    ctx.fillRect(0, 0, width, height);
    if (!this._doc || !this._core || !this._core._htf_view_fit(this._viewState)) {
      this._updateBars(null);
      this._afterPaint?.(null);
      return;
    }
    // A view waiting to be shown (from the address, or kept across full
    // screen) is applied first, and painted by itself.
    if (this._viewWaiting?.()) return;
    const s = this._state();
    const hp = s.h.position, vp = s.v.position;
    const r = { left: s.imageLeft, top: s.imageTop, right: s.imageRight, bottom: s.imageBottom };
    const d = (v) => Math.round(v * ratio);
    const sw = d(s.scaledWidth), sh = d(s.scaledHeight);
    ctx.save();
    ctx.beginPath();
    ctx.rect(d(r.left), d(r.top), d(r.right) - d(r.left), d(r.bottom) - d(r.top));
    ctx.clip();
    const visible = { left: d(hp), top: d(vp), right: Math.min(sw, d(hp) + d(r.right) - d(r.left)),
      bottom: Math.min(sh, d(vp) + d(r.bottom) - d(r.top)) };
    this._drawTiles(ctx, d(r.left) - d(hp), d(r.top) - d(vp), sw, sh, visible);
    ctx.restore();
    this._requestView(sw, sh, visible);
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
    this._afterPaint?.(s);
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
    if (!this._doc || !this._reader || this._printing) return;
    const c = this._core;
    this._state();
    const v = new Int32Array(c.HEAPU8.buffer, this._stateBuffer, 20);
    const left = v[8], top = v[9], right = Math.min(v[10], this._doc.width), bottom = Math.min(v[11], this._doc.height);
    const w = Math.max(1, right - left), h = Math.max(1, bottom - top);
    const k = Math.min(1, Math.sqrt(PRINT_PIXELS / (w * h)));
    const part = document.createElement('canvas');
    part.width = Math.max(1, Math.round(w * k));
    part.height = Math.max(1, Math.round(h * k));
    const sw = Math.max(1, Math.round(this._doc.width * k)), sh = Math.max(1, Math.round(this._doc.height * k));
    const x = Math.max(0, Math.min(Math.round(left * k), sw - part.width));
    const y = Math.max(0, Math.min(Math.round(top * k), sh - part.height));
    // The worker draws the printed part at the print's own scale; it comes
    // as tiles like any view's (the screen's view is asked for again after).
    this._views ??= { next: 1, key: '', doneKey: '', keys: new Map(), outstanding: 0, pending: null };
    const view = this._views.next++;
    this._printing = { view, part, x, y, sw, sh };
    this._sendView({ view, print: true, scale: sw / this._doc.width, left: x / k, top: y / k,
      right: (x + part.width) / k, bottom: (y + part.height) / k, scaledWidth: sw, scaledHeight: sh });
  },

  _printTile(m) {
    const p = this._printing, tile = this._tileCanvas(m);
    if (!tile) return;
    const at = tilePlace({ x: m.x, y: m.y, w: m.width, h: m.height,
      resWidth: m.rendered ? m.scaledWidth : m.levelWidth, resHeight: m.rendered ? m.scaledHeight : m.levelHeight }, p.sw, p.sh);
    const ctx = p.part.getContext('2d');
    ctx.imageSmoothingEnabled = at.right - at.left < m.width;
    ctx.drawImage(tile, at.left - p.x, at.top - p.y, at.right - at.left, at.bottom - at.top);
  },

  _printDone() {
    const part = this._printing.part;
    this._printing = null;
    // The print's view ended the screen's: it is asked for again.
    if (this._views) this._views.key = '';
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
    if (this._lensFrame.naturalWidth) ctx.drawImage(this._lensFrame, 0, 0);
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
    ctx.fillStyle = this._letterbox();
    ctx.fillRect(0, 0, LENS.width, LENS.height);
    const dw = dest.right - dest.left, dh = dest.bottom - dest.top;
    if (sl >= W || st >= H || sr <= sl || sb <= st || dw <= 0 || dh <= 0) return;
    // From the tiles the page holds, magnified (the finest of them last).
    ctx.save();
    ctx.beginPath();
    ctx.rect(dest.left, dest.top, dw, dh);
    ctx.clip();
    const width = W * t, height = H * t;
    this._drawTiles(ctx, dest.left - sl * t, dest.top - st * t, width, height,
      { left: sl * t, top: st * t, right: sr * t, bottom: sb * t });
    ctx.restore();
  },
};
