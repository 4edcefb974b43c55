// Full screen for <htf-viewer>: a toolbar button "Full screen" (pressed
// while the element fills the screen), command('full-screen') and the key F
// toggle the element's full screen through the Fullscreen API; Escape (the
// browser's) leaves it. The view keeps the image point at its centre across
// the change, or with a kept fit refits. Where the API is not available (an
// iframe without allow="fullscreen", an old browser) there is no button and
// the command and key do nothing. Members of the element.
import { FULL_SCREEN_BUTTON } from './htf-logic.js';
import { TOOLBAR_PICTURES } from './htf-pictures.js';

const STYLE = `
:host(:fullscreen) { background: #c0c0c0; }
:host(:fullscreen) .view { border-width: 0; }
`;
let sheet = null;

// Whether this document lets an element fill the screen.
export function fullScreenAvailable(doc = document) {
  return !!(doc.fullscreenEnabled && typeof HTMLElement.prototype.requestFullscreen === 'function');
}

export const fullScreen = {
  _bindFullScreen() {
    if (!sheet) {
      sheet = new CSSStyleSheet();
      sheet.replaceSync(STYLE);
    }
    this.shadowRoot.adoptedStyleSheets = [...this.shadowRoot.adoptedStyleSheets, sheet];
    this._fullScreenCentre = null;   // the view's centre when the change began
    if (fullScreenAvailable()) {
      const button = document.createElement('button');
      button.type = 'button';
      button.dataset.command = FULL_SCREEN_BUTTON.key;
      button.setAttribute('part', `button button-${FULL_SCREEN_BUTTON.key}`);
      button.setAttribute('aria-pressed', 'false');
      const picture = document.createElement('img');
      picture.alt = '';
      picture.src = TOOLBAR_PICTURES[FULL_SCREEN_BUTTON.picture];
      button.append(picture);
      button.addEventListener('click', () => this.command('full-screen'));
      this._toolbar.append(button);
      this._buttons.set('full-screen', button);
      this._applyStrings();
      this._showButtons();
    }
    this._fullScreenListener = () => this._fullScreenChanged();
    this.addEventListener('keydown', (e) => this._fullScreenKey(e));
  },

  _connectFullScreen() {
    document.addEventListener('fullscreenchange', this._fullScreenListener);
  },

  _disconnectFullScreen() {
    document.removeEventListener('fullscreenchange', this._fullScreenListener);
    this._fullScreenCentre = null;
  },

  // Enters or leaves full screen. The browser allows entering only on a
  // user's gesture (a click, a key); a refusal leaves the element as it was.
  _toggleFullScreen() {
    if (!fullScreenAvailable(this.ownerDocument)) return;
    const doc = this.ownerDocument;
    const request = doc.fullscreenElement === this ? doc.exitFullscreen() : this.requestFullscreen();
    request?.catch?.(() => {});
  },

  // F without modifiers, anywhere in the element but a text field a page
  // may have put into it.
  _fullScreenKey(event) {
    if ((event.key !== 'f' && event.key !== 'F') || event.defaultPrevented || event.repeat) return;
    if (event.ctrlKey || event.altKey || event.metaKey) return;
    const target = event.composedPath()[0];
    if (target?.isContentEditable || /^(INPUT|TEXTAREA|SELECT)$/.test(target?.tagName ?? '')) return;
    if (!fullScreenAvailable(this.ownerDocument)) return;
    event.preventDefault();
    this._toggleFullScreen();
  },

  // The document's full screen changed (this element's or another's): the
  // button shows it, and the view's centre is noted before the new size is
  // laid out (the change is announced before the resize is observed).
  _fullScreenChanged() {
    const on = this.ownerDocument.fullscreenElement === this;
    this._buttons.get('full-screen')?.setAttribute('aria-pressed', String(on));
    if (on === !!this._fullScreen) return;
    this._fullScreen = on;
    const centre = this._keptFit ? null : this._viewCentre();
    if (!centre) return;
    const s = this._state();
    this._fullScreenCentre = { ...centre, width: s.clientWidth, height: s.clientHeight };
    // Kept until the resize that follows is laid out, and no longer.
    const noted = this._fullScreenCentre;
    requestAnimationFrame(() => requestAnimationFrame(() => {
      if (this._fullScreenCentre === noted) this._fullScreenCentre = null;
    }));
  },

  // Before a paint: once the view has its new size, the centre it had is
  // given back. True when the view moved (and was painted with it).
  _restoreFullScreenCentre() {
    const centre = this._fullScreenCentre;
    if (!centre) return false;
    const s = this._state();
    if (s.clientWidth === centre.width && s.clientHeight === centre.height) return false;
    this._fullScreenCentre = null;
    if (!this._doc || this._keptFit) return false;
    this._centreOn(centre.x, centre.y);
    return true;
  },
};
