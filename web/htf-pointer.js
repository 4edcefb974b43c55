// Pointer input of <htf-viewer>: hover and click on hotspots, the magnifier
// and pan drags, and the scroll bars. Members of the element.
import { MODE, SCROLL, positionAtThumb } from './htf-logic.js';
import { asset } from './htf-runtime.js';
import { SCROLL_BAR } from './htf-style.js';

export const pointerInput = {
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
  },

  _bindPointer() {
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
  },

  _clientPoint(event) {
    const rect = this._canvas.getBoundingClientRect();
    return { x: Math.floor(event.clientX - rect.left), y: Math.floor(event.clientY - rect.top) };
  },

  _setHover(index) {
    if (index === this._hover && (index < 0 || this._outlineFrom === 'pointer')) return;
    this._hover = index;
    if (index >= 0) this._outlineFrom = 'pointer';
    this._paint();
  },

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
  },

  _updateCursor(pressed = 0) {
    let cursor = 'default';
    if (this._mode === MODE.MAGNIFIER) cursor = `url(${asset('magnifier.cur')}), zoom-in`;
    else if (this._mode === MODE.PAN) cursor = `url(${asset('openhand.cur')}), grab`;
    else if (this._hover >= 0) cursor = pressed ? `url(${asset('globehand.cur')}), pointer` : `url(${asset('pointhand.cur')}), pointer`;
    if (this._drag?.kind === 'lens') cursor = 'none';
    this._canvas.style.cursor = cursor;
  },

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
  },

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
  },

  _endDrag() {
    if (!this._drag) return;
    const kind = this._drag.kind;
    this._drag = null;
    if (kind === 'lens') {
      this._lensCanvas.style.display = 'none';
      this._paint();
    }
    this._updateCursor();
  },
};
