// Pointer input of <htf-viewer>: hover and click on hotspots, the magnifier
// and pan drags, and the scroll bars. Members of the element.
import { MODE, SCROLL, positionAtThumb } from './htf-logic.js';
import { SCROLL_BAR } from './htf-style.js';
import { fileUrl } from './htf-files.js';

const TAP_SLOP = 6;           // pixels a finger may move and still tap
const LONG_PRESS_MS = 500;

// The zoom steps of the core's model: 0.1 above scale 1, else 0.05.
function zoomStep(scale) {
  return scale > 1 ? 0.1 : 0.05;
}

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

  // Mouse, touch and pen alike through pointer events. The listeners sit on
  // the view, so that the picture and the link of the hotspot under the
  // pointer (which takes the pointer for the browser's own link gestures)
  // both reach them; the scroll bars have their own.
  _bindPointer() {
    this._bars.h.addEventListener('pointerdown', (e) => this._barPointerDown(e, 'h'));
    this._bars.v.addEventListener('pointerdown', (e) => this._barPointerDown(e, 'v'));
    this._pointers = new Map();     // touch and pen contacts: id -> client point
    this._press = null;             // a press that may become a tap, a drag or a long press
    const view = this._view;
    view.addEventListener('pointermove', (e) => this._pointerMove(e));
    view.addEventListener('pointerdown', (e) => this._pointerDown(e));
    view.addEventListener('pointerup', (e) => this._pointerUp(e));
    view.addEventListener('pointercancel', (e) => this._pointerCancel(e));
    this._canvas.addEventListener('lostpointercapture', (e) => {
      this._pointers.delete(e.pointerId);
      if (!this._pointers.size) this._endDrag();
    });
    view.addEventListener('pointerleave', () => {
      if (this._drag) return;
      this._setHover(-1);
      if (this._keyboard < 0) this._hideTip();
    });
  },

  // Whether an event comes from the picture or a hotspot link (not a bar).
  _onPicture(event) {
    const target = event.composedPath()[0];
    return target === this._canvas || target?.parentNode === this._links;
  },

  _clientPoint(event) {
    const rect = this._canvas.getBoundingClientRect();
    return { x: Math.floor(event.clientX - rect.left), y: Math.floor(event.clientY - rect.top) };
  },

  _hotspotAt(p) {
    return this._core._htf_view_hotspot_at(this._viewState, p.x, p.y);
  },

  _setHover(index) {
    if (index === this._hover && (index < 0 || this._outlineFrom === 'pointer')) return;
    const previous = this._outlined();
    this._hover = index;
    if (index >= 0) this._outlineFrom = 'pointer';
    this._hoverLink(index);
    this._paint();
    this._outlineChanged(previous);
  },

  _pointerMove(event) {
    if (!this._doc) return;
    const p = this._clientPoint(event);
    if (this._pointers.has(event.pointerId)) this._pointers.set(event.pointerId, { x: event.clientX, y: event.clientY });
    if (this._drag?.kind === 'pinch') return this._pinchMove();
    if (this._drag?.kind === 'lens') return this._drawLens(p);
    if (this._drag?.kind === 'pan') {
      const dx = event.screenX - this._drag.x, dy = event.screenY - this._drag.y;
      this._drag.x = event.screenX;
      this._drag.y = event.screenY;
      if (this._core._htf_view_pan(this._viewState, dx, dy)) this._afterScroll();
      return;
    }
    const press = this._press;
    if (press && press.id === event.pointerId && event.pointerType !== 'mouse') {
      // A finger or pen that moves more than a few pixels drags the
      // document (in every tool but the lens), it no longer taps.
      if (Math.hypot(event.clientX - press.clientX, event.clientY - press.clientY) > TAP_SLOP) {
        this._press = null;
        clearTimeout(this._longPress);
        // The document follows the finger from where it went down.
        if (this._startPan(event)) {
          this._drag.x = press.screenX;
          this._drag.y = press.screenY;
          this._pointerMove(event);
        }
      }
      return;
    }
    if (!this._onPicture(event)) {
      if (!this._drag) this._setHover(-1);
      return;
    }
    const index = this._hotspotAt(p);
    const changed = index !== this._hover;
    this._setHover(index);
    this._updateCursor(event.buttons & 1);
    if (this._mode !== MODE.POINTER) return this._hideTip();
    if (index < 0) {
      if (this._keyboard < 0 || this._outlineFrom === 'pointer') this._hideTip();
    } else if (changed || this._tip.style.display === 'none') {
      this._scheduleTip(index, p);
    }
    // Otherwise the tip stays where it appeared, as the platform's does.
  },

  _updateCursor(pressed = 0) {
    let cursor = 'default';
    if (this._mode === MODE.MAGNIFIER) cursor = `url(${fileUrl('magnifier.cur')}), zoom-in`;
    else if (this._mode === MODE.PAN) cursor = `url(${fileUrl('openhand.cur')}), grab`;
    else if (this._mode === MODE.ZOOM_IN) cursor = 'zoom-in';
    else if (this._mode === MODE.ZOOM_OUT) cursor = 'zoom-out';
    else if (this._hover >= 0) cursor = pressed ? `url(${fileUrl('globehand.cur')}), pointer` : `url(${fileUrl('pointhand.cur')}), pointer`;
    if (this._drag?.kind === 'lens') cursor = 'none';
    this._view.style.cursor = cursor;
  },

  _pointerDown(event) {
    if (!this._doc || !this._onPicture(event)) return;
    const touch = event.pointerType !== 'mouse';
    if (touch) {
      this._pointers.set(event.pointerId, { x: event.clientX, y: event.clientY });
      if (this._pointers.size === 2) return this._startPinch(event);
      if (this._pointers.size > 2) return;
    }
    if (event.button !== 0) return;   // the middle button is the browser's, on a hotspot's link
    // No focus moves to the link under the pointer: the view takes it, the
    // outline stays the pointer's.
    event.preventDefault();
    this._view.focus({ preventScroll: true });
    const p = this._clientPoint(event);
    if (this._mode === MODE.MAGNIFIER) {
      this._canvas.setPointerCapture(event.pointerId);
      this._drag = { kind: 'lens' };
      this._hideTip();
      this._updateCursor();
      this._drawLens(p);
    } else if (this._mode === MODE.PAN) {
      this._startPan(event);
    } else {
      // Pointer or a zoom tool: a tap or click, decided at the release. A
      // touch's hotspot is found where it went down (a tap sends no move).
      this._press = { id: event.pointerId, clientX: event.clientX, clientY: event.clientY, screenX: event.screenX,
        screenY: event.screenY, p, index: this._hotspotAt(p) };
      if (touch) {
        this._setHover(this._mode === MODE.POINTER ? this._press.index : -1);
        this._canvas.setPointerCapture(event.pointerId);
        clearTimeout(this._longPress);
        // A long press on a hotspot shows its tooltip: touch has no hover.
        if (this._press.index >= 0 && this._mode === MODE.POINTER) {
          const press = this._press;
          this._longPress = setTimeout(() => {
            if (this._press !== press) return;
            press.long = true;
            this._showTip(press.index, p.x, p.y + 20);
          }, LONG_PRESS_MS);
        }
      }
      this._updateCursor(1);
    }
  },

  _startPan(event) {
    const s = this._state();
    if (s.clientWidth > s.scaledWidth && s.clientHeight > s.scaledHeight) return false;   // all of it is visible
    this._canvas.setPointerCapture(event.pointerId);
    this._hideTip();
    this._setHover(-1);
    this._drag = { kind: 'pan', x: event.screenX, y: event.screenY };
    return true;
  },

  _pointerUp(event) {
    const touch = event.pointerType !== 'mouse';
    if (touch) this._pointers.delete(event.pointerId);
    if (this._drag?.kind === 'pinch') {
      if (!this._pointers.size) this._endDrag();
      else this._drag.last = null;   // one finger left: the next move starts anew
      return;
    }
    if (event.button !== 0) return;
    if (this._drag) {
      this._endDrag();
      return;
    }
    const press = this._press;
    this._press = null;
    clearTimeout(this._longPress);
    if (!press || press.id !== event.pointerId || !this._doc) return;
    this._updateCursor(0);
    const p = this._clientPoint(event);
    if (this._mode === MODE.ZOOM_IN || this._mode === MODE.ZOOM_OUT) {
      if (this._core._htf_view_wheel_zoom(this._viewState, this._mode === MODE.ZOOM_IN ? 120 : -120, p.x, p.y)) {
        this._keptFit = 0;
        this._afterScroll();
      }
      return;
    }
    if (this._mode !== MODE.POINTER || press.long) {
      if (touch) this._setHover(-1);
      return;
    }
    // A hotspot is followed where the press went down and came up (a link
    // gesture with a modifier is the browser's: its own new tab or window).
    const index = this._hotspotAt(p);
    if (touch) this._setHover(-1);
    if (index < 0 || index !== press.index || event.ctrlKey || event.metaKey || event.shiftKey) return;
    this._navigate(index);
  },

  _pointerCancel(event) {
    this._pointers.delete(event.pointerId);
    this._press = null;
    clearTimeout(this._longPress);
    if (!this._pointers.size) this._endDrag();
  },

  // Two fingers: the scale follows their distance in the zoom steps, about
  // their midpoint, and the midpoint's movement pans, in every tool.
  _startPinch() {
    this._press = null;
    clearTimeout(this._longPress);
    if (this._drag?.kind === 'lens') this._endDrag();
    this._hideTip();
    this._setHover(-1);
    this._drag = { kind: 'pinch', last: null };
    this._pinchMove();
  },

  _pinchMove() {
    const [a, b] = [...this._pointers.values()];
    if (!a || !b) return;
    const rect = this._canvas.getBoundingClientRect();
    const mid = { x: Math.floor((a.x + b.x) / 2 - rect.left), y: Math.floor((a.y + b.y) / 2 - rect.top) };
    const distance = Math.max(1, Math.hypot(a.x - b.x, a.y - b.y));
    const drag = this._drag;
    if (!drag.last) {
      drag.last = { mid, distance, scale: this._core._htf_view_scale(this._viewState) };
      return;
    }
    const c = this._core, v = this._viewState;
    let changed = false;
    if (mid.x !== drag.last.mid.x || mid.y !== drag.last.mid.y) {
      changed = c._htf_view_pan(v, mid.x - drag.last.mid.x, mid.y - drag.last.mid.y) || changed;
      drag.last.mid = mid;
    }
    // The wanted scale; a step is taken once the fingers are nearer to the
    // next step's scale than to the current one.
    const wanted = drag.last.scale * distance / drag.last.distance;
    for (let i = 0; i < 100; ++i) {
      const scale = c._htf_view_scale(v);
      const up = scale + zoomStep(scale), down = scale - zoomStep(scale);
      let delta = 0;
      if (wanted >= (scale + up) / 2) delta = 120;
      else if (wanted <= (scale + down) / 2) delta = -120;
      if (!delta || !c._htf_view_wheel_zoom(v, delta, mid.x, mid.y) || c._htf_view_scale(v) === scale) break;
      changed = true;
      this._keptFit = 0;
    }
    if (changed) this._afterScroll();
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
