// Wheel input of <htf-viewer>. Members of the element.
import { platformWheel } from './htf-logic.js';

export const wheelInput = {
  _bindWheel() {
    this._view.addEventListener('wheel', (e) => this._wheelInput(e), { passive: false });
  },

  // The wheel as in the viewer window: three lines a notch, Shift or a tilt
  // sideways, Ctrl zooms about the pointer; where the image fits that way
  // the page around the element scrolls instead, and so it does at the
  // view's end, which never holds the page.
  _wheelInput(event) {
    if (!this._doc) return;
    const { delta, horizontal, tilt } = platformWheel(event);
    if (!delta) return;
    if (event.ctrlKey) {
      event.preventDefault();
      if (this._drag) return;
      const p = this._clientPoint(event);
      if (this._core._htf_view_wheel_zoom(this._viewState, delta, p.x, p.y)) {
        this._keptFit = 0;
        this._afterScroll();
      }
      return;
    }
    const axis = horizontal || tilt ? 'h' : 'v';
    const before = this._state()[axis].position;
    if (!this._core._htf_view_wheel(this._viewState, delta, horizontal ? 1 : 0, tilt ? 1 : 0, 3)) return;
    // At the view's end in that direction the page scrolls on: a whole notch
    // that moved nothing, or any turn towards the start at the start.
    if (this._state()[axis].position === before) {
      const towardsStart = tilt ? delta < 0 : delta > 0;
      if (towardsStart ? before === 0 : Math.abs(delta) >= 120) return;
    }
    event.preventDefault();
    if (!this._drag) this._afterScroll();
  },
};
