// The hotspots of <htf-viewer> beyond painting: the tooltip, following a
// hotspot by the module's rules, and one focusable link a hotspot for the
// keyboard and screen readers. Members of the element.
import { hotspotNavigation, navigationRules, referenceString } from './htf-logic.js';
import { TIP_DELAY_MS } from './htf-style.js';

export const hotspots = {
  _tipText(index) {
    return this._doc && index >= 0 && index < this._doc.hotspots.length ? this._doc.hotspots.text(index) : '';
  },

  _scheduleTip(index, p) {
    clearTimeout(this._tipTimer);
    this._tip.style.display = 'none';
    if (!this._tipText(index)) return;
    this._tipTimer = setTimeout(() => {
      if (this._hover !== index || this._drag) return;
      this._showTip(index, p.x, p.y + 20);
    }, TIP_DELAY_MS);
  },

  _showTip(index, x, y) {
    const text = this._tipText(index);
    if (!text) return this._hideTip();
    this._tip.textContent = text;
    this._tip.style.display = 'block';
    this._tipHotspot = index;
    // Kept inside the view.
    const view = this._viewport();
    const w = this._tip.offsetWidth, h = this._tip.offsetHeight;
    this._tip.style.left = `${Math.max(0, Math.min(x, view.width - w))}px`;
    this._tip.style.top = `${Math.max(0, y + h > view.height ? y - h - 24 : y)}px`;
  },

  _showTipAtHotspot(index) {
    const r = this._hotspotRect(index);
    const s = this._state();
    if (!r) return;
    this._showTip(index, r.left - s.h.position, r.bottom - s.v.position + 4);
  },

  _hideTip() {
    clearTimeout(this._tipTimer);
    this._tip.style.display = 'none';
    this._tipHotspot = -1;
  },

  // --- Navigation ---

  // Where hotspot `index` leads by the module's rules: { url, frame } or
  // { refused }. Cached per hotspot until the template or frame changes.
  _target(index) {
    const h = this._doc?.hotspots.at(index);
    if (!h || !this._core) return { refused: 'no hotspot' };
    const key = `${this.template}\u0000${this.frame}`;
    if (this._targetsKey !== key) {
      this._targets = new Map();
      this._targetsKey = key;
    }
    let target = this._targets.get(index);
    if (!target) {
      target = hotspotNavigation({
        template: this.template, frame: this.frame, referenceBytes: referenceBytes(h), pageUrl: document.baseURI,
        ...navigationRules(this._core),
      });
      this._targets.set(index, target);
    }
    return target;
  },

  _navigate(index) {
    const h = this._doc?.hotspots.at(index);
    if (!h) return;
    let target;
    try {
      target = this._target(index);
    } catch (error) {
      if (this._coreFailed(error)) return;
      throw error;
    }
    if (target.refused) {
      this._fire('htf-refused', { reason: target.refused });
      return;
    }
    const ref = referenceString(h.reference);
    if (!this._fire('htf-navigate', { url: target.url, frame: target.frame, ref, text: h.text }, true)) return;
    followLink(target.url, target.frame, this.shadowRoot);
  },

  // --- One link a hotspot, in document order ---

  // Only the links of hotspots in or near the view are in the page (at most
  // LINK_LIMIT, and always those of the focused and the hovered hotspot), so
  // that documents with a million hotspots stay quick; the keyboard walks
  // every hotspot in order all the same (see the keyboard's Tab).
  _makeLinks() {
    this._linkOf = new Map();
    this._links.replaceChildren();
    this._linksKey = '';
    this._nearKey = '';
  },

  _link(index) {
    let a = this._linkOf.get(index);
    if (a) return a;
    const h = this._doc.hotspots.at(index);
    a = document.createElement('a');
    a.tabIndex = 0;
    a.setAttribute('aria-label', h.text || referenceString(h.reference));
    a.dataset.index = String(index);
    a.addEventListener('focus', () => this._focusHotspot(index));
    a.addEventListener('blur', () => this._blurHotspot(index));
    a.addEventListener('click', (e) => {
      // Ctrl, Cmd or Shift: the browser's new tab or window, as any link.
      if (e.ctrlKey || e.metaKey || e.shiftKey) return;
      e.preventDefault();
      // A pointer's click was followed at its release; a keyboard's or an
      // assistive technology's (no pointer) is followed here.
      if (e.detail === 0) this._navigate(index);
    });
    this._setLinkTarget(a, index);
    this._linkOf.set(index, a);
    return a;
  },

  // The link's href, target and rel: what a click requests, so that the
  // browser's own link gestures and status bar work; a refused reference
  // has no href.
  _setLinkTarget(a, index) {
    let target;
    try {
      target = this._target(index);
    } catch (error) {
      this._coreFailed(error);
      target = { refused: 'unavailable' };
    }
    if (target.refused) {
      a.removeAttribute('href');
      a.removeAttribute('target');
      a.removeAttribute('rel');
      a.setAttribute('role', 'link');
      return;
    }
    a.removeAttribute('role');
    a.href = target.url;
    a.target = target.frame;
    if (opensNewContext(target.frame)) a.rel = 'noopener noreferrer';
    else a.removeAttribute('rel');
  },

  // Which hotspots have links: those meeting the visible part widened by
  // half a view each way, in document order, up to the limit.
  _nearHotspots(s) {
    const scale = this._core._htf_view_scale(this._viewState);
    if (!(scale > 0)) return [];
    const left = (s.h.position - s.clientWidth / 2) / scale, right = (s.h.position + 1.5 * s.clientWidth) / scale;
    const top = (s.v.position - s.clientHeight / 2) / scale, bottom = (s.v.position + 1.5 * s.clientHeight) / scale;
    const found = [];
    const list = this._doc.hotspots;
    const r = list.rects;
    for (let i = 0; i < list.length && found.length < LINK_LIMIT; ++i) {
      const l = r[4 * i], t = r[4 * i + 1], rt = r[4 * i + 2], b = r[4 * i + 3];
      if (Math.max(l, rt) >= left && Math.min(l, rt) <= right &&
          Math.max(t, b) >= top && Math.min(t, b) <= bottom) found.push(i);
    }
    return found;
  },

  // The links sit in document space (the picture at the current zoom);
  // scrolling moves their layer only. Which links exist is decided again
  // when the view has moved by a quarter of its size or the zoom changed.
  _placeLinks(s) {
    if (!this._doc) return;
    this._links.style.transform = `translate(${-s.h.position}px, ${-s.v.position}px)`;
    const zoomKey = `${s.scaledWidth}x${s.scaledHeight}@${s.imageLeft},${s.imageTop}`;
    const qx = Math.max(1, s.clientWidth >> 2), qy = Math.max(1, s.clientHeight >> 2);
    const nearKey = `${zoomKey}:${Math.round(s.h.position / qx)},${Math.round(s.v.position / qy)}:` +
      `${this._keyboard},${this._hover}`;
    if (nearKey !== this._nearKey) {
      this._nearKey = nearKey;
      const wanted = new Set(this._nearHotspots(s));
      for (const extra of [this._keyboard, this._hover]) if (extra >= 0) wanted.add(extra);
      const focused = this.shadowRoot.activeElement;
      for (const [index, a] of this._linkOf) {
        if (!wanted.has(index) && a !== focused) {
          a.remove();
          this._linkOf.delete(index);
        }
      }
      const ordered = [...wanted].sort((a, b) => a - b);
      const fresh = [];
      for (const index of ordered) {
        const known = this._linkOf.has(index);
        const a = this._link(index);
        if (!known) fresh.push([index, a]);
      }
      if (fresh.length) {
        // In document order: each new link before the first existing link of
        // a greater index.
        const existing = [...this._links.children];
        let at = 0;
        for (const [index, a] of fresh) {
          while (at < existing.length && Number(existing[at].dataset.index) < index) ++at;
          this._links.insertBefore(a, existing[at] ?? null);
        }
      }
      this._linksKey = '';
      // The hovered hotspot's link may have been made just now.
      if (this._hover >= 0 && !this._hoveredLink?.isConnected) this._hoverLink(this._hover);
    }
    if (zoomKey === this._linksKey) return;
    this._linksKey = zoomKey;
    for (const [index, a] of this._linkOf) this._placeLink(a, index);
  },

  _placeLink(a, index) {
    const r = this._hotspotRect(index);
    if (!r) return;
    const style = a.style;
    style.left = `${r.left}px`;
    style.top = `${r.top}px`;
    style.width = `${Math.max(1, r.right - r.left)}px`;
    style.height = `${Math.max(1, r.bottom - r.top)}px`;
  },

  // The hovered hotspot's link takes the pointer, so that a middle click or
  // a modified click on it is the browser's.
  _hoverLink(index) {
    this._hoveredLink?.classList.remove('hovered');
    this._hoveredLink = null;
    if (index < 0 || !this._doc) return;
    const a = this._linkOf.get(index);
    if (!a) return;   // placed at the next paint, which follows
    a.classList.add('hovered');
    this._hoveredLink = a;
  },

  // Gives hotspot `index` the keyboard focus, making its link first.
  _focusIndex(index) {
    if (!this._doc || index < 0 || index >= this._doc.hotspots.length) return false;
    this._keyboard = index;
    this._outlineFrom = 'keyboard';
    this._scrollIntoView(index);
    this._paint();
    const a = this._link(index);
    if (!a.isConnected) {
      const next = [...this._links.children].find((e) => Number(e.dataset.index) > index);
      this._links.insertBefore(a, next ?? null);
      this._placeLink(a, index);
    }
    a.focus({ preventScroll: true });
    return true;
  },

  _focusHotspot(index) {
    const previous = this._outlined();
    this._keyboard = index;
    this._lastKeyboard = index;
    this._outlineFrom = 'keyboard';
    this._scrollIntoView(index);
    this._paint();
    this._showTipAtHotspot(index);
    this._outlineChanged(previous);
  },

  _blurHotspot(index) {
    if (this._keyboard !== index) return;
    const previous = this._outlined();
    this._keyboard = -1;
    this._hideTip();
    this._paint();
    this._outlineChanged(previous);
  },

  // The page learns when the outline moves from hotspot to hotspot.
  _outlineChanged(previous) {
    const now = this._outlined();
    if (now === previous) return;
    if (previous >= 0) this._fire('htf-hotspotleave', this._hotspotDetail(previous));
    if (now >= 0) this._fire('htf-hotspotenter', this._hotspotDetail(now));
    this._syncListRows?.();
  },

  _hotspotDetail(index) {
    const h = this._doc?.hotspots.at(index);
    return h ? { ref: referenceString(h.reference), text: h.text } : { ref: '', text: '' };
  },

  // The indices of hotspots with reference `ref`.
  _indicesOf(ref) {
    if (!this._doc) return [];
    if (!this._doc.byRef) {
      // Made once per document, at the first use.
      const byRef = new Map();
      const list = this._doc.hotspots;
      for (let i = 0; i < list.length; ++i) {
        const text = referenceString(list.reference(i));
        if (!byRef.has(text)) byRef.set(text, []);
        byRef.get(text).push(i);
      }
      this._doc.byRef = byRef;
    }
    return this._doc.byRef.get(ref) ?? [];
  },

  // Scrolls so that the hotspot is visible (its top-left corner when it is
  // larger than the client area).
  _scrollIntoView(index) {
    const r = this._hotspotRect(index);
    if (!r) return;
    const s = this._state();
    const along = (start, end, position, size) => {
      if (start < position) return start;
      if (end > position + size) return Math.min(start, end - size);
      return position;
    };
    const h = along(r.left, r.right, s.h.position, s.clientWidth);
    const v = along(r.top, r.bottom, s.v.position, s.clientHeight);
    if (h !== s.h.position || v !== s.v.position) this._setPositions(h, v);
  },
};

const LINK_LIMIT = 400;

// A hotspot's reference as the bytes the document holds (code points 0-255).
function referenceBytes(h) {
  h.referenceBytes ??= Array.from(h.reference, (ch) => ch.charCodeAt(0));
  return h.referenceBytes;
}

// Targets other than the page itself and its parents open a new browsing
// context, which must not reach back to this page (window.opener).
export function opensNewContext(frame) {
  return !['_self', '_top', '_parent'].includes(String(frame).toLowerCase());
}

// Follows a hotspot as the page's own link would: an anchor with the target
// and rel, clicked. Every engine then navigates an existing frame of that
// name (window.open with 'noopener' opens a new window in some engines even
// when the frame exists) and gives a new browsing context no opener and no
// referrer. The anchor lives in `parent` (the element's shadow tree) only
// for the click, which goes no further than the anchor: the page sees no
// click of ours.
function followLink(url, frame, parent) {
  const a = document.createElement('a');
  a.addEventListener('click', (e) => e.stopPropagation());
  a.href = url;
  a.target = frame;
  if (opensNewContext(frame)) a.rel = 'noopener noreferrer';
  a.hidden = true;
  parent.append(a);
  try {
    a.click();
  } finally {
    a.remove();
  }
}
