// Wheel input of <htf-viewer>. Members of the element.
import { platformWheel } from './htf-logic.js';

export const wheelInput = {
  _bindWheel() {
    this._view.addEventListener('wheel', (e) => this._wheelInput(e), { passive: false });
  },

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
      if (this._core._htf_view_wheel_zoom(this._viewState, delta, p.x, p.y)) {
        this._keptFit = 0;
        this._afterScroll();
      }
      return;
    }
    if (!this._core._htf_view_wheel(this._viewState, delta, horizontal ? 1 : 0, tilt ? 1 : 0, 3)) return;
    event.preventDefault();
    if (!this._drag) this._afterScroll();
  },
};
