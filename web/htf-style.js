// The look of <htf-viewer>: the sizes it shares with the module's window
// (toolbar band, border, scroll bars, lens) and the shadow tree's style.

export const TOOLBAR_HEIGHT = 40;
export const BORDER = 1;
export const SCROLL_BAR = 17;             // the platform's scroll bar thickness
export const TILE = 256;
export const TILE_CACHE_BYTES = 64 << 20;
export const TIP_DELAY_MS = 500;
export const LENS = { width: 238, height: 171, hotX: 116, hotY: 80 };
export const LIGHT_GREY = '#c0c0c0';

// The chrome's colours (toolbar, letterbox, tooltip, focus ring, outline)
// come from custom properties a page may set on the element, with the
// module's colours as defaults, and darker ones where the reader asked for a
// dark scheme. The picture itself is never recoloured.
export const STYLE = `
:host([hidden]) { display: none; }
:host { display: inline-block; position: relative; width: 300px; height: 150px; contain: strict;
        font: 12px Arial, sans-serif; user-select: none;
        --htf-chrome: ${LIGHT_GREY}; --htf-chrome-text: #000; --htf-tip: #ffffe1; --htf-tip-text: #000;
        --htf-focus: #000; --htf-track: #e0e0e0;
        color: var(--htf-chrome-text); background: var(--htf-letterbox, var(--htf-chrome)); }
@media (prefers-color-scheme: dark) {
  :host { --htf-chrome: #3c3c3c; --htf-chrome-text: #f0f0f0; --htf-tip: #2b2b2b; --htf-tip-text: #f0f0f0;
          --htf-focus: #f0f0f0; --htf-track: #2a2a2a; }
}
.toolbar { position: absolute; left: 0; top: 0; right: 0; height: ${TOOLBAR_HEIGHT}px; display: flex;
           align-items: center; gap: 1px; padding: 0 4px; box-sizing: border-box; overflow: hidden;
           background: var(--htf-toolbar-background, var(--htf-chrome)); }
.toolbar[hidden], .toolbar button[hidden] { display: none; }
.toolbar button { width: 31px; height: 30px; padding: 0; margin: 0; border: 1px solid transparent;
                  background: transparent; display: grid; place-items: center; cursor: default; }
.toolbar button:hover { border-color: #fff #808080 #808080 #fff; }
.toolbar button[aria-pressed="true"] { border-color: #808080 #fff #fff #808080;
                                       background: var(--htf-toolbar-pressed, #e0e0e0); }
.toolbar button:focus-visible { outline: 1px dotted var(--htf-focus-ring, var(--htf-focus)); outline-offset: -4px; }
.toolbar img { width: 24px; height: 24px; image-rendering: pixelated; pointer-events: none;
               background: var(--htf-toolbar-background, var(--htf-chrome)); }
/* The pictures are drawn for the module's light grey: on the dark scheme's
   toolbar they keep a tile of it. */
@media (prefers-color-scheme: dark) {
  .toolbar img { background: var(--htf-toolbar-background, ${LIGHT_GREY}); border-radius: 2px; }
}
.view { position: absolute; left: 0; right: 0; top: ${TOOLBAR_HEIGHT}px; bottom: 0; border: ${BORDER}px solid #000;
        background: var(--htf-letterbox, var(--htf-chrome)); overflow: hidden; touch-action: none; }
.view.no-toolbar { top: 0; }
.view:focus-visible { outline: 1px dotted var(--htf-focus-ring, var(--htf-focus)); outline-offset: -3px; }
canvas.picture { position: absolute; left: 0; top: 0; image-rendering: pixelated; }
.links { position: absolute; left: 0; top: 0; pointer-events: none; }
.links a { position: absolute; display: block; outline: none; cursor: inherit; -webkit-touch-callout: none; }
.links a.hovered { pointer-events: auto; }
.view.no-frame .links a:focus { outline: 1px dotted var(--htf-focus-ring, var(--htf-focus)); outline-offset: -1px; }
.bar { position: absolute; background: var(--htf-track); display: none; cursor: default; }
.bar.h { left: 0; height: ${SCROLL_BAR}px; bottom: 0; }
.bar.v { top: 0; width: ${SCROLL_BAR}px; right: 0; }
.bar .thumb { position: absolute; background: var(--htf-chrome); box-sizing: border-box;
              border: 1px solid; border-color: #fff #404040 #404040 #fff; }
.bar .arrow { position: absolute; width: ${SCROLL_BAR}px; height: ${SCROLL_BAR}px; background: var(--htf-chrome);
              box-sizing: border-box; border: 1px solid; border-color: #fff #404040 #404040 #fff; }
.corner { position: absolute; right: 0; bottom: 0; width: ${SCROLL_BAR}px; height: ${SCROLL_BAR}px;
          background: var(--htf-chrome); display: none; }
.tip { position: absolute; display: none; padding: 2px 4px; background: var(--htf-tooltip-background, var(--htf-tip));
       color: var(--htf-tooltip-color, var(--htf-tip-text));
       border: 1px solid var(--htf-tooltip-color, var(--htf-tip-text)); font: 16px Arial, sans-serif; white-space: pre;
       pointer-events: none; box-shadow: 2px 2px 2px rgba(0,0,0,0.3); z-index: 3; }
.error { position: absolute; inset: 0; display: none; align-items: center; justify-content: center; padding: 8px;
         text-align: center; white-space: pre-wrap; font: 13px Arial, sans-serif; }
.progress { position: absolute; left: 50%; top: 50%; transform: translate(-50%, -50%); display: none; z-index: 2; }
.progress .track { width: 160px; height: 8px; border: 1px solid #404040; background: #fff; }
.progress .value { height: 100%; width: 0; background: var(--htf-progress-color, #000080); }
.progress.unknown .value { width: 30%; animation: htf-busy 1.2s linear infinite; }
@keyframes htf-busy { from { margin-left: 0; } to { margin-left: 70%; } }
@media (prefers-reduced-motion: reduce) {
  .progress.unknown .value { width: 100%; animation: none; opacity: 0.4; }
}
canvas.lens { position: absolute; display: none; pointer-events: none; z-index: 2; }
`;

// One constructed style sheet for every element of the page.
let sheet = null;
export function styleSheet() {
  if (!sheet) {
    sheet = new CSSStyleSheet();
    sheet.replaceSync(STYLE);
  }
  return sheet;
}

// An element with attributes and children.
export function make(tag, attributes = {}, children = []) {
  const element = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) element.setAttribute(name, String(value));
  element.append(...children);
  return element;
}
