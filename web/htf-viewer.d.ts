// Type declarations of the <htf-viewer> element.

export type HtfFit = 'window' | 'width' | 'height' | 'none';
export type HtfTool = 'pointer' | 'zoom-in' | 'zoom-out' | 'lens' | 'pan';
export type HtfLoading = 'eager' | 'lazy';
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
  fullScreen: string; overview: string;
  toolbar: string; document: string; description: string; descriptionOne: string; loading: string;
  tooLarge: string; notLoaded: string; notShown: string; blocked: string; unreachable: string; tooBig: string;
  outOfMemory: string;
}

export interface HtfLoadDetail {
  width: number; height: number; hotspots: number;
  /** Milliseconds from the start until the hotspots were known and until the first picture was complete. */
  timings: { hotspots: number; picture: number };
}
/** The hotspots, known before any pixel of the document is read. */
export interface HtfHotspotsDetail { hotspots: HtfHotspot[]; }
/** What went wrong: not-found and http (with the HTTP status), cors (another origin that does not allow the page to
 * read the document), network, too-large, changed (the file changed while it was read), timeout (the server
 * stopped answering), not-tiff, damaged, read,
 * out-of-memory, reader, setup (the element's own files not found or refused: see setBasePath). */
export type HtfErrorCode =
  | 'not-found' | 'http' | 'cors' | 'network' | 'too-large' | 'changed' | 'timeout' | 'not-tiff' | 'damaged' | 'read'
  | 'out-of-memory' | 'reader' | 'setup';
export interface HtfErrorDetail {
  message: string;
  code: HtfErrorCode;
  /** The HTTP status where the server answered with an error, else null. */
  status: number | null;
  /** The document's address, resolved against the page (null when the failure is not a load's). */
  url: string | null;
}
export interface HtfProgressDetail { loaded: number; total: number; }
export interface HtfHotspotDetail { ref: string; text: string; }
export interface HtfNavigateDetail { url: string; frame: string; ref: string; text: string; }
export interface HtfRefusedDetail { reason: string; }

/** The element's own events. */
export interface HtfEventMap {
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

export interface HtfViewerEventMap extends HTMLElementEventMap, HtfEventMap {}

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
  /** "lazy": the document is read once the element nears the viewport; "eager" set on the element also starts the
   * core and a worker before there is a src (the warm start). */
  loading: HtfLoading;
  /** "all", "none", or the names of the buttons to show ("zoom-in zoom-out fit-window full-screen"). */
  toolbar: string;
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

/** Where the element's files (core, worker, pictures) are, for bundles that do not emit them (esbuild); null: beside
 * the module. */
export declare function setBasePath(url: string | URL | null): void;

/** The warm start: compiles the core and starts the next document's worker now, before any element has a src (call
 * setBasePath first where it is needed). */
export declare function warmUp(): void;

/** The element's attributes and events as a framework's templates write them (React 19 and others). */
export interface HtfViewerAttributes {
  src?: string;
  template?: string;
  frame?: string;
  'frame-width'?: number | string;
  'frame-color'?: string;
  fit?: HtfFit;
  tool?: HtfTool;
  alt?: string;
  list?: string;
  'memory-limit'?: number | string;
  loading?: HtfLoading;
  toolbar?: string;
  overview?: 'auto' | 'always' | '';
  hash?: string;
  /** Set as a property once the element is defined. */
  strings?: Partial<HtfStrings>;
  /** Set as a property once the element is defined. */
  viewString?: string;
  id?: string;
  class?: string;
  className?: string;
  slot?: string;
  hidden?: boolean;
  style?: unknown;
  children?: unknown;
  key?: string | number | null;
  ref?: unknown;
  'onhtf-hotspots'?: (event: HtfEventMap['htf-hotspots']) => void;
  'onhtf-load'?: (event: HtfEventMap['htf-load']) => void;
  'onhtf-error'?: (event: HtfEventMap['htf-error']) => void;
  'onhtf-progress'?: (event: HtfEventMap['htf-progress']) => void;
  'onhtf-hotspotenter'?: (event: HtfEventMap['htf-hotspotenter']) => void;
  'onhtf-hotspotleave'?: (event: HtfEventMap['htf-hotspotleave']) => void;
  'onhtf-viewchange'?: (event: HtfEventMap['htf-viewchange']) => void;
  'onhtf-navigate'?: (event: HtfEventMap['htf-navigate']) => void;
  'onhtf-refused'?: (event: HtfEventMap['htf-refused']) => void;
}

declare global {
  interface HTMLElementTagNameMap {
    'htf-viewer': HtfViewer;
  }
  // The events bubble and are composed: listeners on document and window
  // see them typed too.
  interface GlobalEventHandlersEventMap extends HtfEventMap {}
  // JSX without a framework's own namespace (Preact, Solid, older React).
  namespace JSX {
    interface IntrinsicElements {
      'htf-viewer': HtfViewerAttributes;
    }
  }
}

// React 19 looks the tags up in its own JSX namespace.
declare module 'react' {
  namespace JSX {
    interface IntrinsicElements {
      'htf-viewer': HtfViewerAttributes;
    }
  }
}
