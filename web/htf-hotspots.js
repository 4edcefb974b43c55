// The hotspots of <htf-viewer> beyond painting: the tooltip, following a
// hotspot by the module's rules, and one focusable link a hotspot for the
// keyboard and screen readers. Members of the element.
import { hotspotNavigation, navigationRules, referenceText } from './htf-logic.js';
import { TIP_DELAY_MS } from './htf-style.js';

export const hotspots = {
  _tipText(index) {
    const h = this._doc?.hotspots[index];
    return h ? h.text : '';
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

  _navigate(index) {
    const h = this._doc?.hotspots[index];
    if (!h) return;
    const target = hotspotNavigation({
      template: this.template,
      frame: this.frame,
      referenceBytes: h.referenceBytes,
      pageUrl: document.baseURI,
      ...navigationRules(this._core),
    });
    if (target.refused) {
      this.dispatchEvent(new CustomEvent('htf-refused', { detail: { reason: target.refused } }));
      return;
    }
    const event = new CustomEvent('htf-navigate', { detail: { url: target.url, frame: target.frame }, cancelable: true });
    if (!this.dispatchEvent(event)) return;
    if (target.frame === '_self') window.location.assign(target.url);
    else window.open(target.url, target.frame);
  },

  // --- Keyboard: one link a hotspot, in document order ---

  _makeLinks() {
    const links = this._doc.hotspots.map((h, index) => {
      const a = document.createElement('a');
      a.tabIndex = 0;
      a.setAttribute('role', 'link');
      a.setAttribute('aria-label', h.text || referenceText(h.referenceBytes));
      a.dataset.index = String(index);
      a.addEventListener('focus', () => this._focusHotspot(index));
      a.addEventListener('blur', () => this._blurHotspot(index));
      a.addEventListener('click', (e) => { e.preventDefault(); this._navigate(index); });
      return a;
    });
    this._links.replaceChildren(...links);
    this._linksKey = '';
  },

  // The links sit in document space (the picture at the current zoom);
  // scrolling moves their layer only, so a document with very many hotspots
  // costs a style write per link at a zoom, not at every scroll step.
  _placeLinks(s) {
    if (!this._doc) return;
    this._links.style.transform = `translate(${-s.h.position}px, ${-s.v.position}px)`;
    const key = `${s.scaledWidth}x${s.scaledHeight}@${s.imageLeft},${s.imageTop}`;
    if (key === this._linksKey) return;
    this._linksKey = key;
    const links = this._links.children;
    for (let i = 0; i < links.length; ++i) {
      const r = this._hotspotRect(i);
      if (!r) continue;
      const style = links[i].style;
      style.left = `${r.left}px`;
      style.top = `${r.top}px`;
      style.width = `${Math.max(1, r.right - r.left)}px`;
      style.height = `${Math.max(1, r.bottom - r.top)}px`;
    }
  },

  _focusHotspot(index) {
    this._keyboard = index;
    this._outlineFrom = 'keyboard';
    this._scrollIntoView(index);
    this._paint();
    this._showTipAtHotspot(index);
  },

  _blurHotspot(index) {
    if (this._keyboard !== index) return;
    this._keyboard = -1;
    this._hideTip();
    this._paint();
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
