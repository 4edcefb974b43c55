// Painting of <htf-viewer>: the picture from tiles made by the core's
// sampler, the hotspot outline, the scroll bars, the magnifier lens and the
// printed part. Members of the element (mixed into its prototype).
import { MODE, thumbGeometry, tilesCovering } from './htf-logic.js';
import { LENS, LIGHT_GREY, SCROLL_BAR, TILE, TILE_CACHE_BYTES } from './htf-style.js';

export const painting = {
  _clearTiles() {
    this._tiles.clear();
    this._tileBytes = 0;
    this._tileKey = '';
  },

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
  },

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
  },

  _outlined() {
    if (this._mode !== MODE.POINTER) return -1;
    return this._outlineFrom === 'keyboard' ? this._keyboard : this._hover;
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
      ctx.drawImage(this._canvas, x + LENS.hotX - Math.floor(sw / 2), y + LENS.hotY - Math.floor(sh / 2), sw, sh,
        0, 0, LENS.width, LENS.height);
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
