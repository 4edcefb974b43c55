// The toolbar of <htf-viewer>: the module's ten buttons (the element's full
// screen button joins them, htf-fullscreen.js), their pictures and
// check marks, the commands they send, and the element's strings (English,
// any of them replaced by the page through the `strings` property).
import { COMMAND, FULL_SCREEN_BUTTON, MODE, TOOLBAR, modeAfter, toolbarButtons } from './htf-logic.js';
import { TOOLBAR_PICTURES } from './htf-pictures.js';

// Every text the element shows or gives to assistive technology, by name.
// Texts with {width} and {height} (or {status}) have them filled in.
export const STRINGS = Object.freeze({
  pointer: 'Pointer',
  zoomIn: 'Zoom in',
  zoomOut: 'Zoom out',
  magnifier: 'Magnifier',
  pan: 'Pan',
  fitWindow: 'Fit window',
  fitHeight: 'Fit height',
  fitWidth: 'Fit width',
  actualSize: 'Actual size',
  print: 'Print',
  fullScreen: 'Full screen',
  overview: 'Overview',
  toolbar: 'Viewer',
  document: 'Hotspot document',
  description: '{width} \u00D7 {height} pixels, {count} links',
  descriptionOne: '{width} \u00D7 {height} pixels, 1 link',
  loading: 'Loading',
  tooLarge: 'This image is too large to show: {width} \u00D7 {height} pixels',
  notLoaded: 'The document could not be loaded ({status}).',
  notShown: 'The document could not be shown.',
  blocked: 'The document {url} could not be fetched: its server ({origin}) does not let this page read it (CORS: no Access-Control-Allow-Origin).',
  unreachable: 'The document {url} could not be fetched: no answer from its server.',
  tooBig: 'The document is larger than {limit} bytes.',
  outOfMemory: 'Out of memory',
});

// The names of the toolbar's buttons in the strings table, by command.
const BUTTON_STRING = {
  [COMMAND.POINTER]: 'pointer', [COMMAND.ZOOM_IN]: 'zoomIn', [COMMAND.ZOOM_OUT]: 'zoomOut',
  [COMMAND.MAGNIFIER]: 'magnifier', [COMMAND.PAN]: 'pan', [COMMAND.FIT_WINDOW]: 'fitWindow',
  [COMMAND.FIT_HEIGHT]: 'fitHeight', [COMMAND.FIT_WIDTH]: 'fitWidth', [COMMAND.ACTUAL_SIZE]: 'actualSize',
  [COMMAND.PRINT]: 'print', 'full-screen': 'fullScreen',
};

// Commands by name, for command(name); the numeric ids stay the module's.
export const COMMAND_NAMES = Object.freeze({
  pointer: COMMAND.POINTER, 'zoom-in': COMMAND.ZOOM_IN, 'zoom-out': COMMAND.ZOOM_OUT,
  magnifier: COMMAND.MAGNIFIER, lens: COMMAND.MAGNIFIER, pan: COMMAND.PAN, 'fit-window': COMMAND.FIT_WINDOW,
  'fit-height': COMMAND.FIT_HEIGHT, 'fit-width': COMMAND.FIT_WIDTH, 'actual-size': COMMAND.ACTUAL_SIZE,
  print: COMMAND.PRINT,
});

// The tools a page may choose, and the modes they are.
export const TOOLS = Object.freeze({
  pointer: MODE.POINTER, 'zoom-in': MODE.ZOOM_IN, 'zoom-out': MODE.ZOOM_OUT, lens: MODE.MAGNIFIER, pan: MODE.PAN,
});

// `text` with each {name} replaced by values[name].
export function fillString(text, values = {}) {
  return String(text).replace(/\{(\w+)\}/g, (whole, name) => (name in values ? String(values[name]) : whole));
}

export const toolbar = {
  _makeToolbar() {
    this._buttons = new Map();
    for (const entry of TOOLBAR) {
      const button = document.createElement('button');
      button.type = 'button';
      button.dataset.command = String(entry.command);
      button.setAttribute('part', `button button-${entry.key}`);
      if (entry.command === COMMAND.MAGNIFIER || entry.command === COMMAND.PAN) button.setAttribute('aria-pressed', 'false');
      const picture = document.createElement('img');
      picture.alt = '';
      picture.src = TOOLBAR_PICTURES[entry.picture];
      button.append(picture);
      button.addEventListener('click', () => this.command(entry.command));
      this._toolbar.append(button);
      this._buttons.set(entry.command, button);
    }
    this._applyStrings();
    this._showButtons();
  },

  // Shows the buttons the toolbar attribute names (full screen only where
  // the page allows it, when the element made that button); with none shown,
  // the toolbar goes and the view takes its place.
  _showButtons() {
    const shown = toolbarButtons(this.getAttribute('toolbar'));
    const keyed = TOOLBAR.map((entry) => [entry.key, this._buttons.get(entry.command)]);
    keyed.push([FULL_SCREEN_BUTTON.key, this._buttons.get(FULL_SCREEN_BUTTON.key)]);
    let visible = 0;
    for (const [key, button] of keyed) {
      if (!button) continue;
      button.hidden = !shown.has(key);
      if (!button.hidden) ++visible;
    }
    this._toolbar.hidden = visible === 0;
    this._view?.classList.toggle('no-toolbar', visible === 0);
  },

  _string(name, values) {
    const text = this._strings?.[name] ?? STRINGS[name] ?? name;
    return fillString(text, values);
  },

  _applyStrings() {
    for (const [command, button] of this._buttons) {
      const name = this._string(BUTTON_STRING[command]);
      button.title = name;
      button.setAttribute('aria-label', name);
    }
    this._toolbar.setAttribute('aria-label', this._string('toolbar'));
    this._overview?.setAttribute('aria-label', this._string('overview'));
    if (!this.hasAttribute('alt')) this._view?.setAttribute('aria-label', this._documentName());
    this._describe?.();
  },

  // A toolbar command: a numeric id (COMMAND) or its name ("zoom-in",
  // "fit-window", "print", ...); ignored while no document is shown, but
  // for "full-screen", which toggles the element's full screen.
  command(id) {
    if (id === 'full-screen') return this._toggleFullScreen();
    if (typeof id === 'string') {
      if (!(id in COMMAND_NAMES)) throw new RangeError(`htf-viewer: no command "${id}"`);
      id = COMMAND_NAMES[id];
    }
    if (!this._doc) return;
    this._hideTip();
    if (id === COMMAND.PRINT) return this.print();
    if (id === COMMAND.MAGNIFIER || id === COMMAND.PAN || id === COMMAND.POINTER) {
      this._setMode(modeAfter(this._mode, id));
      return;
    }
    if (this._core._htf_view_command(this._viewState, id)) {
      // A fit command is kept while the element resizes where the page asked
      // for a kept fit; any other zoom ends it.
      const isFit = [COMMAND.FIT_WINDOW, COMMAND.FIT_WIDTH, COMMAND.FIT_HEIGHT].includes(id);
      if (!isFit || this.fit !== 'none') this._keptFit = isFit ? id : 0;
      this._afterScroll();
    }
  },

  _setMode(mode) {
    const previous = this._outlined();
    this._mode = mode;
    // The tool attribute follows the toolbar's buttons, so that a page that
    // sets it again is heard.
    const name = this.tool;
    if (this.hasAttribute('tool') && this.getAttribute('tool') !== name) this.setAttribute('tool', name);
    this._buttons.get(COMMAND.MAGNIFIER).setAttribute('aria-pressed', String(mode === MODE.MAGNIFIER));
    this._buttons.get(COMMAND.PAN).setAttribute('aria-pressed', String(mode === MODE.PAN));
    this._updateCursor();
    this._paint();
    this._outlineChanged(previous);
  },
};
