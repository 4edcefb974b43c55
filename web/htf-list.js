// List binding of <htf-viewer list="parts">: the elements inside the element
// of id "parts" that carry data-hotspot="REF" are paired with the hotspots of
// that reference. Pointing at a row outlines its hotspot, a click or Enter
// on it zooms to the hotspot; rows of outlined hotspots carry
// data-hotspot-active. Rows added or removed later are followed (the
// listeners sit on the list element itself). Members of the element.
export const listBinding = {
  _bindList() {
    this._unbindList();
    const id = this.getAttribute('list');
    if (!id) return;
    const root = this.getRootNode();
    const list = root.getElementById?.(id) ?? document.getElementById(id);
    if (!list) {
      // The list may come later than the element: looked for again once
      // the page has changed.
      this._listWatch = new MutationObserver(() => {
        if ((root.getElementById?.(id) ?? document.getElementById(id))) this._bindList();
      });
      this._listWatch.observe(root, { childList: true, subtree: true });
      return;
    }
    const rowOf = (event) => {
      const row = event.target instanceof Element ? event.target.closest('[data-hotspot]') : null;
      return row && list.contains(row) ? row : null;
    };
    const handlers = {
      pointerover: (event) => {
        const row = rowOf(event);
        if (row) this.highlight(row.dataset.hotspot);
      },
      pointerout: (event) => {
        const row = rowOf(event);
        if (row && !row.contains(event.relatedTarget)) this.highlight(null);
      },
      click: (event) => {
        const row = rowOf(event);
        if (row) this.zoomToHotspot(row.dataset.hotspot);
      },
      keydown: (event) => {
        const row = rowOf(event);
        if (!row || event.key !== 'Enter' || event.target !== row) return;
        this.zoomToHotspot(row.dataset.hotspot);
        event.preventDefault();
      },
      focusin: (event) => {
        const row = rowOf(event);
        if (row) this.highlight(row.dataset.hotspot);
      },
    };
    for (const [name, handler] of Object.entries(handlers)) list.addEventListener(name, handler);
    // New rows get their state at once.
    const rows = new MutationObserver(() => this._syncListRows());
    rows.observe(list, { childList: true, subtree: true, attributes: true, attributeFilter: ['data-hotspot'] });
    this._list = { element: list, handlers, rows };
    this._syncListRows();
  },

  _unbindList() {
    this._listWatch?.disconnect();
    this._listWatch = null;
    if (!this._list) return;
    const { element, handlers, rows } = this._list;
    for (const [name, handler] of Object.entries(handlers)) element.removeEventListener(name, handler);
    rows.disconnect();
    this._list = null;
  },

  // Marks the rows of the outlined hotspots with data-hotspot-active.
  _syncListRows() {
    const list = this._list?.element;
    if (!list) return;
    const active = new Set();
    for (const index of this._outlines?.() ?? []) {
      const ref = this._hotspotDetail(index).ref;
      if (ref) active.add(ref);
    }
    for (const row of list.querySelectorAll('[data-hotspot]')) {
      const on = active.has(row.dataset.hotspot);
      if (on !== row.hasAttribute('data-hotspot-active')) row.toggleAttribute('data-hotspot-active', on);
    }
  },
};
