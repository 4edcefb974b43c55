// Type declarations of the <htf-viewer> element.

export type HtfFit = 'window' | 'width' | 'height' | 'none';
export type HtfTool = 'pointer' | 'zoom-in' | 'zoom-out' | 'lens' | 'pan';
export type HtfCommandName =
  | 'pointer' | 'zoom-in' | 'zoom-out' | 'magnifier' | 'lens' | 'pan'
  | 'fit-window' | 'fit-height' | 'fit-width' | 'actual-size' | 'print'
  /** Toggles the element's full screen (the browser allows it on a user's gesture). */
  | 'full-screen';
/** When the overview shows: while the view shows less than the whole picture, always, or never. */
export type HtfOverview = 'auto' | 'always' | 'none';

/** A hotspot in image pixels. */
export interface HtfHotspot {
  ref: string;
  text: string;
  x: number;
  y: number;
  width: number;
  height: number;
}

/** The visible part of the document in image pixels, and the scale. */
export interface HtfView {
  scale: number;
  x: number;
  y: number;
  width: number;
  height: number;
}

/** The texts the element shows; any of them may be replaced. */
export interface HtfStrings {
  pointer: string; zoomIn: string; zoomOut: string; magnifier: string; pan: string;
  fitWindow: string; fitHeight: string; fitWidth: string; actualSize: string; print: string;
  fullScreen: string; overview: string; toolbar: string; document: string; description: string; descriptionOne: string; loading: string;
  tooLarge: string; notLoaded: string; notShown: string; tooBig: string; outOfMemory: string;
}

export interface HtfLoadDetail {
  width: number; height: number; hotspots: number;
  /** Milliseconds from the start until the hotspots were known and until the first picture was complete. */
  timings: { hotspots: number; picture: number };
}
/** The hotspots, known before any pixel of the document is read. */
export interface HtfHotspotsDetail { hotspots: HtfHotspot[]; }
export interface HtfErrorDetail { message: string; }
export interface HtfProgressDetail { loaded: number; total: number; }
export interface HtfHotspotDetail { ref: string; text: string; }
export interface HtfNavigateDetail { url: string; frame: string; ref: string; text: string; }
export interface HtfRefusedDetail { reason: string; }

export interface HtfViewerEventMap extends HTMLElementEventMap {
  'htf-hotspots': CustomEvent<HtfHotspotsDetail>;
  'htf-load': CustomEvent<HtfLoadDetail>;
  'htf-error': CustomEvent<HtfErrorDetail>;
  'htf-progress': CustomEvent<HtfProgressDetail>;
  'htf-hotspotenter': CustomEvent<HtfHotspotDetail>;
  'htf-hotspotleave': CustomEvent<HtfHotspotDetail>;
  'htf-viewchange': CustomEvent<HtfView>;
  /** Cancelable: preventDefault() and nothing is navigated. */
  'htf-navigate': CustomEvent<HtfNavigateDetail>;
  'htf-refused': CustomEvent<HtfRefusedDetail>;
}

export declare class HtfViewer extends HTMLElement {
  static readonly version: string;
  /** Bytes held by the tiles of every element of the page together. */
  static readonly tileCacheBytes: number;
  /** The page-wide budget of those tiles (64 MiB by default). */
  static tileCacheLimit: number;
  /** After a document that took more (bytes and pixels), the reader's worker is ended, giving its memory back. */
  static workerMemoryLimit: number;

  src: string;
  template: string;
  frame: string;
  frameWidth: number;
  frameColor: string;
  fit: HtfFit;
  tool: HtfTool;
  alt: string;
  list: string;
  /** Bytes a document may take (decoded pixels and tiles), 1 GiB at most. */
  memoryLimit: number;
  /** The overview of the whole picture in the view's corner (attribute `overview`; absent: "none"). */
  overview: HtfOverview;
  /**
   * With a value (attribute `hash`; "" for the plain keys) the view is kept in the page's address:
   * `#view=SCALE,X,Y` and `#hotspot=REF`, or `#NAME.view=...` and `#NAME.hotspot=...`; null: not.
   */
  hash: string | null;
  /**
   * The view as "SCALE,X,Y": the scale and the image point at the centre of the view ('' without a
   * document). Set, the view zooms and centres there (applied when the document opens, if it has not).
   * Throws RangeError for a string that is not three numbers with a positive scale.
   */
  viewString: string;
  strings: Partial<HtfStrings>;
  readonly hotspots: HtfHotspot[];
  readonly view: HtfView | null;
  /** True when the picture of the current view is all drawn (tiles of a new view may still be coming). */
  readonly complete: boolean;

  highlight(ref: string | null): void;
  zoomToHotspot(ref: string): boolean;
  /** A toolbar command by name, or by the module's numeric command id (123-132); "full-screen" also without a document. */
  command(name: HtfCommandName | number): void;
  print(): void;

  addEventListener<K extends keyof HtfViewerEventMap>(
    type: K, listener: (this: HtfViewer, event: HtfViewerEventMap[K]) => unknown,
    options?: boolean | AddEventListenerOptions): void;
  addEventListener(type: string, listener: EventListenerOrEventListenerObject,
    options?: boolean | AddEventListenerOptions): void;
  removeEventListener<K extends keyof HtfViewerEventMap>(
    type: K, listener: (this: HtfViewer, event: HtfViewerEventMap[K]) => unknown,
    options?: boolean | EventListenerOptions): void;
  removeEventListener(type: string, listener: EventListenerOrEventListenerObject,
    options?: boolean | EventListenerOptions): void;
}

export declare const VERSION: string;

declare global {
  interface HTMLElementTagNameMap {
    'htf-viewer': HtfViewer;
  }
}
