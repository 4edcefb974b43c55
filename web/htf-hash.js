// Links into a document for <htf-viewer>: the view as a short string
// ("SCALE,X,Y": the scale and the image point at the centre of the view),
// read and written through `viewString`, and with the `hash` attribute kept
// in the page's address: on load "#hotspot=REF" zooms to that hotspot and
// "#view=SCALE,X,Y" restores a view; while the reader moves, the element
// writes "#view=..." with history.replaceState (no new history entries, at
// most every HASH_WRITE_MS). `hash="plan"` keeps an element's view under
// "plan.view" and "plan.hotspot", so that several elements share one address.
// The plain functions are exported for tests; the rest are members of the
// element.

export const HASH_WRITE_MS = 250;

const NUMBER = /^[+-]?(\d+\.?\d*|\.\d+)(e[+-]?\d+)?$/i;

// "SCALE,X,Y" as { scale, x, y }, or null when it is not three numbers with
// a positive, finite scale (an address is not to be trusted).
export function parseView(text) {
  const parts = String(text ?? '').split(',').map((part) => part.trim());
  if (parts.length !== 3 || !parts.every((part) => NUMBER.test(part))) return null;
  const [scale, x, y] = parts.map(Number);
  if (!(scale > 0) || !Number.isFinite(scale) || !Number.isFinite(x) || !Number.isFinite(y)) return null;
  return { scale, x, y };
}

// The string of a view: the scale to six significant digits, the centre to
// a tenth of an image pixel (enough to give back the same scroll position at
// any scale up to the zoom limit).
export function formatView({ scale, x, y }) {
  const tenth = (v) => String(Math.round(v * 10) / 10);
  return `${Number(scale.toPrecision(6))},${tenth(x)},${tenth(y)}`;
}

// The address keys of an element with hash="name" ("" or no value: the
// plain "view" and "hotspot").
export function hashKeys(name) {
  const prefix = name ? `${name}.` : '';
  return { view: `${prefix}view`, hotspot: `${prefix}hotspot` };
}

function decode(text) {
  try {
    return decodeURIComponent(text.replace(/\+/g, ' '));
  } catch {
    return text;   // a stray "%": taken as it stands
  }
}

// The pairs of a fragment ("#a=1&b=2"), in order: [{ raw, key, value }]; a
// part without "=" has a null value.
function pairs(hash) {
  const text = String(hash ?? '').replace(/^#/, '');
  if (!text) return [];
  return text.split('&').map((raw) => {
    const at = raw.indexOf('=');
    return at < 0 ? { raw, key: decode(raw), value: null } : { raw, key: decode(raw.slice(0, at)), value: decode(raw.slice(at + 1)) };
  });
}

// The value of `key` in a fragment (the first one), or undefined.
export function readHash(hash, key) {
  const found = pairs(hash).find((p) => p.key === key && p.value !== null);
  return found ? found.value : undefined;
}

// The fragment with `key` set to `value` (in place of its first occurrence,
// or added at the end) and the keys of `remove` taken out; every other part
// stays as it was written. '' when nothing is left.
export function writeHash(hash, key, value, remove = []) {
  const encoded = `${encodeURIComponent(key)}=${encodeURIComponent(value).replace(/%2C/gi, ',')}`;
  const out = [];
  let placed = false;
  for (const p of pairs(hash)) {
    if (remove.includes(p.key) || (p.key === key && placed)) continue;
    if (p.key === key) {
      out.push(encoded);
      placed = true;
    } else {
      out.push(p.raw);
    }
  }
  if (!placed) out.push(encoded);
  return out.length ? `#${out.join('&')}` : '';
}

export const viewLinks = {
  _bindViewLinks() {
    this._pendingView = null;     // { view } or { hotspot }: applied once the document is fitted
    this._linkedDocument = null;  // the document whose address was read
    this._hashBaseline = undefined;
    this._hashTimer = 0;
    this._hashWritten = 0;
    this._hashListener = () => this._addressChanged();
    this.addEventListener('htf-viewchange', () => this._viewMoved());
  },

  _connectViewLinks() {
    window.addEventListener('hashchange', this._hashListener);
  },

  _disconnectViewLinks() {
    window.removeEventListener('hashchange', this._hashListener);
    clearTimeout(this._hashTimer);
    this._hashTimer = 0;
  },

  // With the attribute (any value) the view is kept in the page's address;
  // null removes it.
  get hash() { return this.getAttribute('hash'); },
  set hash(value) {
    if (value === null || value === undefined || value === false) this.removeAttribute('hash');
    else this.setAttribute('hash', value === true ? '' : String(value));
  },

  // The view as "SCALE,X,Y" ('' without a document). Set, it zooms to SCALE
  // (within the zoom limits) and centres the view on image point (X, Y); set
  // before the document is shown, it is applied when it is.
  get viewString() {
    const centre = this._viewCentre();
    return centre ? formatView(centre) : '';
  },
  set viewString(text) {
    if (text === null || text === undefined || String(text).trim() === '') {
      this._pendingView = null;
      return;
    }
    const view = parseView(text);
    if (!view) throw new RangeError(`htf-viewer: "${text}" is not a view (SCALE,X,Y)`);
    this._pendingView = { view, fromPage: true };
    this._applyPendingView();
  },

  // The scale and the image point at the centre of the view, or null.
  _viewCentre() {
    if (!this._doc || !this._core || !this._viewState || !this._core._htf_view_fit(this._viewState)) return null;
    const scale = this._core._htf_view_scale(this._viewState);
    const s = this._state();
    const clamp = (v, most) => Math.max(0, Math.min(most, v));
    return {
      scale,
      x: clamp((s.h.position + s.clientWidth / 2 - s.imageLeft) / scale, this._doc.width),
      y: clamp((s.v.position + s.clientHeight / 2 - s.imageTop) / scale, this._doc.height),
    };
  },

  // Centres the view on image point (x, y) at the current scale, as far as
  // the image's edges allow (the positions stop where the image ends).
  _centreOn(x, y) {
    if (!this._doc || !this._core) return;
    const scale = this._core._htf_view_scale(this._viewState);
    const s = this._state();
    const place = (point, size, start, client, scaled) => {
      const end = Math.max(0, scaled - client);
      return Math.max(0, Math.min(end, Math.round(Math.max(0, Math.min(size, point)) * scale + start - client / 2)));
    };
    this._setPositions(place(x, this._doc.width, s.imageLeft, s.clientWidth, s.scaledWidth),
      place(y, this._doc.height, s.imageTop, s.clientHeight, s.scaledHeight));
    this._afterScroll();
  },

  // Called before every paint: the address of a newly shown document is
  // read, then a view waiting for the document is applied once it is fitted.
  // True when one was (the view has been painted with it).
  _applyPendingView() {
    if (!this._doc || !this._core || !this._viewState) return false;
    if (this._linkedDocument !== this._doc) {
      this._linkedDocument = this._doc;
      this._hashBaseline = undefined;
      // A view the page set before the document came wins over the address.
      if (this.hasAttribute('hash') && !this._pendingView?.fromPage) this._pendingView = this._addressView();
    }
    const pending = this._pendingView;
    if (!pending || !this._core._htf_view_fit(this._viewState)) return false;
    this._pendingView = null;
    if (pending.hotspot !== undefined) return this.zoomToHotspot(pending.hotspot);
    this._core._htf_view_set_scale(this._viewState, pending.view.scale);
    this._keptFit = 0;
    this._centreOn(pending.view.x, pending.view.y);
    return true;
  },

  // What the address asks of this element: a view, a hotspot, or null.
  _addressView() {
    const keys = hashKeys(this.getAttribute('hash'));
    const view = parseView(readHash(location.hash, keys.view));
    if (view) return { view };
    const hotspot = readHash(location.hash, keys.hotspot);
    return hotspot !== undefined && hotspot !== '' ? { hotspot } : null;
  },

  // The address changed (the reader edited it, or followed a link within
  // the page): its view or hotspot is shown.
  _addressChanged() {
    if (!this.hasAttribute('hash') || !this._doc) return;
    const wanted = this._addressView();
    if (!wanted || (wanted.view && formatView(wanted.view) === this.viewString)) return;
    this._pendingView = wanted;
    this._hashBaseline = undefined;
    this._applyPendingView();
  },

  // The view moved (at most once a frame): the address follows, except for
  // the view the document opened with (its fit, or what the address asked).
  _viewMoved() {
    if (!this.hasAttribute('hash') || !this._doc) return;
    const now = this.viewString;
    if (this._hashBaseline === undefined) {
      this._hashBaseline = now;
      return;
    }
    if (now === this._hashBaseline) return;
    this._hashBaseline = null;   // moved: from now on every change is written
    if (this._hashTimer) return;
    const wait = Math.max(0, this._hashWritten + HASH_WRITE_MS - performance.now());
    this._hashTimer = setTimeout(() => this._writeAddress(), wait);
  },

  _writeAddress() {
    this._hashTimer = 0;
    if (!this.isConnected || !this._doc || !this.hasAttribute('hash')) return;
    const view = this.viewString;
    if (!view) return;
    const keys = hashKeys(this.getAttribute('hash'));
    const hash = writeHash(location.hash, keys.view, view, [keys.hotspot]);
    if (hash === location.hash) return;
    this._hashWritten = performance.now();
    try {
      history.replaceState(history.state, '', `${location.href.split('#')[0]}${hash || '#'}`);
    } catch {
      // A document whose address cannot be changed (an opaque origin): the
      // view stays where it is, only the address does not follow.
    }
  },
};
