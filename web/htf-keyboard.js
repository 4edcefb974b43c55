// Keyboard input of <htf-viewer>. Members of the element.
import { ACTION, COMMAND, VIEW_KEY } from './htf-logic.js';

export const keyboardInput = {
  _bindKeyboard() {
    const view = this._view;
    // Focusing a link outside the visible part makes the browser scroll the
    // view's box to it; the element scrolls its picture itself instead.
    view.addEventListener('scroll', () => { view.scrollLeft = 0; view.scrollTop = 0; });
    view.addEventListener('keydown', (e) => this._key(e));
  },


  // Keys act as in the viewer window (the core's ViewInput decides), except
  // Tab: it walks the hotspots in the document's order (only the links near
  // the view are in the page, so the element moves the focus itself) and
  // then lets the browser move on out of the element, rather than round
  // within it.
  _key(event) {
    if (!this._doc) return;
    const c = this._core;
    const onLink = event.target?.dataset?.index !== undefined && event.composedPath()[0] !== this._view;
    const index = onLink ? Number(event.target.dataset.index) : -1;
    const s = this._state();
    const state = [1, this._doc.hotspots.length, index >= 0 ? 1 : 0, this._drag ? 1 : 0,
      s.scaledWidth > s.clientWidth ? 1 : 0, s.scaledHeight > s.clientHeight ? 1 : 0];
    const mods = [event.shiftKey ? 1 : 0, event.ctrlKey ? 1 : 0, event.altKey ? 1 : 0];
    let action = ACTION.NONE;
    if (VIEW_KEY[event.key] !== undefined)
      action = c._htf_key_action(VIEW_KEY[event.key], ...mods, event.repeat ? 1 : 0, ...state);
    if (action === ACTION.NONE && [...event.key].length === 1)
      action = c._htf_char_action(event.key.codePointAt(0), ...mods, ...state);
    switch (action) {
      case ACTION.NONE:
        return;
      case ACTION.NEXT_HOTSPOT:
      case ACTION.PREVIOUS_HOTSPOT: {
        const count = this._doc.hotspots.length;
        let next;
        if (index >= 0) next = index + (action === ACTION.NEXT_HOTSPOT ? 1 : -1);
        else if (action === ACTION.NEXT_HOTSPOT) next = this._lastKeyboard >= 0 && this._lastKeyboard < count ? this._lastKeyboard : 0;
        else return;                              // from the view back to the toolbar
        if (next < 0 || next >= count) return;    // past either end: the browser's
        if (!this._focusIndex(next)) return;
        break;
      }
      case ACTION.CONSUME:
        break;
      case ACTION.FOLLOW_HOTSPOT:
        if (index >= 0) this._navigate(index);
        break;
      case ACTION.CLEAR_FOCUS:
        if (this._drag) this._endDrag();
        if (index >= 0) this._view.focus({ preventScroll: true });
        this._keyboard = -1;
        this._hideTip();
        this._paint();
        break;
      case ACTION.ZOOM_IN: this.command(COMMAND.ZOOM_IN); break;
      case ACTION.ZOOM_OUT: this.command(COMMAND.ZOOM_OUT); break;
      case ACTION.FIT_WINDOW: this.command(COMMAND.FIT_WINDOW); break;
      case ACTION.ACTUAL_SIZE: this.command(COMMAND.ACTUAL_SIZE); break;
      case ACTION.PRINT: this.command(COMMAND.PRINT); break;
      default:
        if (action >= ACTION.FIRST_SCROLL && action <= ACTION.LAST_SCROLL) {
          c._htf_view_scroll_for(this._viewState, action);
          this._afterScroll();
        }
        break;
    }
    event.preventDefault();
  },
};
