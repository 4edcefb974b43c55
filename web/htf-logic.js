// The parts of the <htf-viewer> element that need no browser: the toolbar's
// buttons, the navigation rules, scroll bar and wheel arithmetic. Plain
// functions, tested with node's own test runner (web/test/).

// Command ids, as the Windows module's toolbar sends them.
export const COMMAND = Object.freeze({
  ZOOM_IN: 123,
  ZOOM_OUT: 124,
  MAGNIFIER: 125,
  PAN: 126,
  FIT_WINDOW: 127,
  FIT_WIDTH: 128,
  FIT_HEIGHT: 129,
  ACTUAL_SIZE: 130,
  PRINT: 131,
  POINTER: 132,
});

// The ten buttons left to right: picture (TOOLBAR_PICTURES[N]), command and the
// accessible name. Fit height (picture 6) sends FIT_HEIGHT and fit width
// (picture 7) FIT_WIDTH, as in the module.
export const TOOLBAR = Object.freeze([
  { picture: 0, key: 'pointer', command: COMMAND.POINTER, name: 'Pointer' },
  { picture: 1, key: 'zoom-in', command: COMMAND.ZOOM_IN, name: 'Zoom in' },
  { picture: 2, key: 'zoom-out', command: COMMAND.ZOOM_OUT, name: 'Zoom out' },
  { picture: 3, key: 'magnifier', command: COMMAND.MAGNIFIER, name: 'Magnifier' },
  { picture: 4, key: 'pan', command: COMMAND.PAN, name: 'Pan' },
  { picture: 5, key: 'fit-window', command: COMMAND.FIT_WINDOW, name: 'Fit window' },
  { picture: 6, key: 'fit-height', command: COMMAND.FIT_HEIGHT, name: 'Fit height' },
  { picture: 7, key: 'fit-width', command: COMMAND.FIT_WIDTH, name: 'Fit width' },
  { picture: 8, key: 'actual-size', command: COMMAND.ACTUAL_SIZE, name: 'Actual size' },
  { picture: 9, key: 'print', command: COMMAND.PRINT, name: 'Print' },
]);

// The element's own eleventh button, after the module's ten where the page
// may fill the screen: full screen (TOOLBAR_PICTURES[10]).
export const FULL_SCREEN_BUTTON = Object.freeze({ picture: 10, key: 'full-screen', name: 'Full screen' });

// The toolbar's buttons a toolbar attribute shows, by key: absent or "all"
// every button, "none" (or nothing known) none; names are separated by
// spaces or commas, and "lens" is the magnifier.
export function toolbarButtons(value) {
  const all = [...TOOLBAR.map((entry) => entry.key), FULL_SCREEN_BUTTON.key];
  if (value == null || value.trim() === 'all') return new Set(all);
  const named = value.toLowerCase().split(/[\s,]+/).map((name) => (name === 'lens' ? 'magnifier' : name));
  return new Set(all.filter((key) => named.includes(key)));
}

// The pointer's tools: the module's three modes, and for pages a click
// that zooms in or out one step about the point clicked.
export const MODE = Object.freeze({ POINTER: 0, MAGNIFIER: 1, PAN: 2, ZOOM_IN: 3, ZOOM_OUT: 4 });

// The mode after a toolbar command, and which of the two toggle buttons
// shows its check mark: the magnifier and pan buttons toggle their mode,
// the pointer button ends both.
export function modeAfter(mode, command) {
  switch (command) {
    case COMMAND.MAGNIFIER: return mode === MODE.MAGNIFIER ? MODE.POINTER : MODE.MAGNIFIER;
    case COMMAND.PAN: return mode === MODE.PAN ? MODE.POINTER : MODE.PAN;
    case COMMAND.POINTER: return MODE.POINTER;
    default: return mode;
  }
}

export const DEFAULTS = Object.freeze({
  template: '/servlets/ZevuRedor?ShtmlFile=#HSREF#',
  frame: '_self',
  frameWidth: 1,
  frameColor: 'rgb(0,128,128)',
});

// A frame width as the settings file reads it: the leading whole number
// (0 when there is none), limited to 0..10; 0 draws no outline.
export function parseFrameWidth(text) {
  if (text == null) return DEFAULTS.frameWidth;
  const value = parseInt(String(text).trim(), 10);
  return Number.isNaN(value) ? 0 : Math.max(0, Math.min(10, value));
}

// A frame colour: any CSS colour, or "red,green,blue" as the settings file
// writes it (each taken modulo 256, as the module does).
export function parseFrameColor(text) {
  if (text == null || String(text).trim() === '') return DEFAULTS.frameColor;
  const triple = /^\s*(-?\d+)\s*,\s*(-?\d+)\s*,\s*(-?\d+)/.exec(String(text));
  if (triple) return `rgb(${triple.slice(1).map((v) => parseInt(v, 10) & 0xFF).join(',')})`;
  return String(text);
}

// The target frame: the configured one, or "_self" when it is empty.
export function targetFrame(configured) {
  return configured ? String(configured) : DEFAULTS.frame;
}

// The reference's bytes as the author's code page has them (references are
// almost always ASCII; the rest is read as Windows-1252).
const windows1252 = new TextDecoder('windows-1252');
export function referenceText(bytes) {
  return windows1252.decode(Uint8Array.from(bytes));
}

// The same from the reference as the reader hands it over (one character a
// byte, code points 0-255); ASCII, the usual case, stands as it is.
export function referenceString(reference) {
  return /^[\x00-\x7f]*$/.test(reference) ? reference : referenceText(Array.from(reference, (ch) => ch.charCodeAt(0)));
}

// Where a click on a hotspot goes, by the module's rules: `compose(template,
// reference)` fills the template and checks the URL as the module does before
// it navigates (the core's composition and checks: { url, refusal }), then
// the URL is resolved against the page and `checkResolved(absolute)` lets
// only http and https through, as in the control role. Returns { url, frame }
// or { refused: reason }.
export function hotspotNavigation({ template, frame, referenceBytes, pageUrl, compose, checkResolved }) {
  const { url, refusal } = compose(template, referenceText(referenceBytes));
  if (refusal) return { refused: refusal };
  let resolved;
  try {
    resolved = new URL(url, pageUrl).href;
  } catch {
    return { refused: 'the URL cannot be read' };
  }
  const after = checkResolved(resolved);
  if (after) return { refused: after };
  return { url: resolved, frame: targetFrame(frame) };
}

// The module's composition and refusals, from the core (the WebAssembly
// module `c`), for hotspotNavigation.
export function navigationRules(c) {
  // Every block the core gives is checked: a core out of memory returns 0,
  // and writing there would overwrite the core's own data.
  const allocate = (size) => {
    const at = c._htf_alloc(size);
    if (!at) throw new Error('Out of memory');
    return at;
  };
  const withString = (text, use) => {
    const size = c.lengthBytesUTF8(text) + 1;
    const at = allocate(size);
    try {
      c.stringToUTF8(text, at, size);
      return use(at);
    } finally {
      c._htf_free(at);
    }
  };
  return {
    compose: (template, reference) => withString(template, (t) => withString(reference, (r) => {
      const code = allocate(4);
      try {
        const url = c.UTF8ToString(c._htf_hotspot_url(t, r, code));
        const refusal = new Int32Array(c.HEAPU8.buffer, code, 1)[0];
        return { url, refusal: refusal ? c.UTF8ToString(c._htf_refusal_text(refusal)) : '' };
      } finally {
        c._htf_free(code);
      }
    })),
    checkResolved: (absolute) => withString(absolute, (a) => {
      const refusal = c._htf_resolved_refusal(a);
      return refusal ? c.UTF8ToString(c._htf_refusal_text(refusal)) : '';
    }),
  };
}

// The viewer's keys and actions, numbered as the core's ViewInput has them.
export const VIEW_KEY = Object.freeze({
  Tab: 1, Enter: 2, ' ': 3, Escape: 4, ArrowLeft: 5, ArrowRight: 6, ArrowUp: 7, ArrowDown: 8,
  PageUp: 9, PageDown: 10, Home: 11, End: 12, p: 13, P: 13,
});
export const ACTION = Object.freeze({
  NONE: 0, CONSUME: 1, NEXT_HOTSPOT: 2, PREVIOUS_HOTSPOT: 3, FOLLOW_HOTSPOT: 4, CLEAR_FOCUS: 5,
  FIRST_SCROLL: 6, LAST_SCROLL: 15, ZOOM_IN: 16, ZOOM_OUT: 17, FIT_WINDOW: 18, ACTUAL_SIZE: 19, PRINT: 20,
});

// A browser wheel event as the platform's wheel delta (120 a notch, positive
// away from the user or, tilted, to the right): { delta, horizontal, tilt }.
export function platformWheel(event) {
  const perNotch = event.deltaMode === 1 ? 3 : event.deltaMode === 2 ? 1 : 100;
  if (event.deltaX !== 0 && event.deltaY === 0 && !event.shiftKey)
    return { delta: Math.round(event.deltaX / perNotch * 120), horizontal: true, tilt: true };
  const amount = event.deltaY !== 0 ? event.deltaY : event.deltaX;
  return { delta: -Math.round(amount / perNotch * 120), horizontal: event.shiftKey, tilt: false };
}

// A scroll bar's thumb: its offset and length along a track of `track`
// pixels for a bar of range, page and position (the platform's rules: the
// position runs from 0 to range - page + 1).
export const MIN_THUMB = 8;
export function thumbGeometry(range, page, position, track) {
  const maxPosition = Math.max(0, range - Math.max(page - 1, 0));
  const length = Math.max(Math.min(track, MIN_THUMB), Math.min(track, Math.round(track * page / Math.max(range + 1, 1))));
  const room = Math.max(0, track - length);
  const offset = maxPosition > 0 ? Math.round(room * position / maxPosition) : 0;
  return { offset, length, maxPosition };
}

// The position a thumb dragged to `offset` stands for.
export function positionAtThumb(range, page, offset, track) {
  const { length, maxPosition } = thumbGeometry(range, page, 0, track);
  const room = Math.max(0, track - length);
  if (room === 0) return 0;
  return Math.round(Math.max(0, Math.min(room, offset)) * maxPosition / room);
}

// The platform's scroll requests.
export const SCROLL = Object.freeze({ LINE_UP: 0, LINE_DOWN: 1, PAGE_UP: 2, PAGE_DOWN: 3, THUMB: 5 });

// The tiles of `size` pixels that cover document rectangle [left, right) x
// [top, bottom) of a scaled image, clipped to it.
export function tilesCovering(left, top, right, bottom, scaledWidth, scaledHeight, size = 256) {
  const l = Math.max(0, left), t = Math.max(0, top);
  const r = Math.min(right, scaledWidth), b = Math.min(bottom, scaledHeight);
  const tiles = [];
  if (l >= r || t >= b) return tiles;
  for (let row = Math.floor(t / size); row <= Math.floor((b - 1) / size); ++row) {
    for (let column = Math.floor(l / size); column <= Math.floor((r - 1) / size); ++column) {
      const x = column * size, y = row * size;
      tiles.push({ column, row, x, y, w: Math.min(size, scaledWidth - x), h: Math.min(size, scaledHeight - y) });
    }
  }
  return tiles;
}

// What a failed load is, for the page's htf-error: `code` ("not-found",
// "http", "cors", "network", "too-large", "changed", "timeout": the server
// stopped answering, "not-tiff", "damaged", "read", "out-of-memory",
// "reader", "setup": the element's own files not found or refused) and the
// HTTP status where the server
// gave one (else null). `failure` is what the reader said: { message,
// status ("404 Not Found"), network (the request itself failed), tooLarge,
// tooBig, crashed, outOfMemory }; `url` the document's address and
// `pageOrigin` the page's. A request that failed without an answer for a
// document on another origin is, almost always, a server that does not
// allow the page to read it (no Access-Control-Allow-Origin).
export function loadFailure(failure, url, pageOrigin) {
  const status = failure.status ? Number.parseInt(String(failure.status), 10) || null : null;
  const text = String(failure.message ?? '');
  let code = 'damaged';
  if (status) code = status === 404 || status === 410 ? 'not-found' : 'http';
  else if (failure.network) code = originOf(url) !== pageOrigin ? 'cors' : 'network';
  else if (failure.tooLarge || failure.tooBig) code = 'too-large';
  else if (failure.outOfMemory || /out of memory|not enough memory/i.test(text)) code = 'out-of-memory';
  else if (failure.crashed || /^The reader failed/.test(text)) code = 'reader';
  else if (/^htf-viewer: /.test(text)) code = 'setup';
  else if (/changed (on the server )?while it was (being )?read/.test(text)) code = 'changed';
  else if (/no answer came within|no bytes came for|the answer took more than/.test(text)) code = 'timeout';
  else if (/not a TIFF|bad magic/i.test(text)) code = 'not-tiff';
  else if (/could not be read|range request|came for bytes|broke off/.test(text)) code = 'read';
  return { code, status };
}

function originOf(url) {
  try {
    return new URL(url).origin;
  } catch {
    return '';
  }
}
