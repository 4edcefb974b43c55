// The parts of <htf-viewer> that every element on a page shares: the
// portable core (WebAssembly), compiled once, instantiated beside the page
// and in the decoding workers that read documents away from the page's thread.
import { compileCore, instantiateCore } from './htf-core-module.js';

import { coreWasm } from './htf-core-file.js';
import { basePath, fileUrl, moduleFolder } from './htf-files.js';

// Pages that require Trusted Types accept a script URL only from a policy.
// The element's one policy lets through the blob that starts its worker and
// scripts in the folder of its own files (this module's folder, or the base
// path the page set), nothing else.
let policy = null;
export function allowedScript(text, folders = [basePath(), moduleFolder()]) {
  const parsed = new URL(text);
  if (parsed.protocol === 'blob:') return true;
  if (parsed.protocol !== 'http:' && parsed.protocol !== 'https:' && parsed.protocol !== 'file:') return false;
  const folder = new URL('.', parsed).href;
  return folders.some((allowed) => allowed && folder === allowed);
}
function scriptUrl(url) {
  if (!globalThis.trustedTypes?.createPolicy) return url;
  policy ??= trustedTypes.createPolicy('htf-viewer', {
    createScriptURL: (text) => {
      if (allowedScript(text)) return text;
      throw new TypeError(`htf-viewer: refused script URL ${text}`);
    },
  });
  return policy.createScriptURL(url);
}

// The core's code is compiled once per page, when the first document is
// read; every instance (the page's, each worker's) is made from that one
// compiled module.
let compiled = null;      // the promise of the compiled module
let compiledModule = null;
export function compiledCore() {
  compiled ??= compileCore(fileUrl(coreWasm)).then((module) => (compiledModule = module), (error) => {
    compiled = null;
    throw error;
  });
  return compiled;
}

// A core whose code trapped (out of memory in the middle of a call, or any
// other runtime error) may have left its memory inconsistent: it is marked
// and never used again; the next use makes a new one.
let corePromise = null;
export function core() {
  corePromise ??= compiledCore().then(instantiateCore).catch((error) => {
    corePromise = null;
    throw error;
  });
  return corePromise;
}
export function discardCore(c) {
  if (!c || c.trapped) return;
  c.trapped = true;
  corePromise?.then((current) => { if (current === c) corePromise = null; }, () => {});
}
export function isTrap(error) {
  return error instanceof WebAssembly.RuntimeError || error instanceof RangeError;
}

// Whether this module runs as the package's own file (served as it is, from
// this or another origin), not inside a bundle: a bundle has its own name,
// or (webpack) the build machine's file address.
function unbundled() {
  try {
    const here = new URL(import.meta.url);
    return here.pathname.endsWith('/htf-runtime.js') && (here.protocol !== 'file:' || location.protocol === 'file:');
  } catch {
    return false;
  }
}

// Served as it is (or with a base path set), the worker is the package's
// own file, its address through the element's Trusted Types policy; from
// another origin (a content delivery network), where browsers refuse a
// worker's script, a same-origin blob that imports it starts it. In a
// bundle it is started with the literal form bundlers follow: they bundle the
// worker and write its address there.
function startWorker() {
  if (basePath() || unbundled()) return startWorkerFrom(fileUrl('htf-decoder.js'));
  return new Worker(new URL('./htf-decoder.js', import.meta.url), { type: 'module' });
}

function startWorkerFrom(url) {
  if (new URL(url).origin === location.origin) return new Worker(scriptUrl(url), { type: 'module' });
  const blob = URL.createObjectURL(new Blob([`import ${JSON.stringify(url)};\n`], { type: 'text/javascript' }));
  try {
    return new Worker(scriptUrl(blob), { type: 'module' });
  } finally {
    setTimeout(() => URL.revokeObjectURL(blob), 60000);
  }
}

// Each document is read by a worker of its own: a synchronous range request
// blocks its worker, so a server that stalls holds its own document only,
// and a document that goes ends its worker, with the worker's reads and
// memory, at once. Nothing is started before a page shows a document: the
// first document's worker starts with its load, and a document's worker
// that was closed while idle and small is kept for the next document. WebAssembly memory never shrinks: a
// worker that took more than this for a document (its bytes and pixels), or
// that says so itself (`retire`), is ended with the document.
export const workerBudget = { bytes: 256 * 1024 * 1024 };
let nextId = 1;
let spare = null;

class Reader {
  constructor() {
    this.worker = startWorker();
    this.handler = null;   // the messages of the document it reads
    this.id = 0;
    this.retiring = false;
    this.ended = false;
    this.handCore();
    this.worker.onmessage = (event) => {
      const message = event.data;
      if (message.heapBytes > workerBudget.bytes || message.retire) this.retiring = true;
      if (message.type === 'closed' && !this.handler) return this.idle();
      if (message.id === this.id) this.handler?.(message);
    };
    this.worker.onerror = (event) => {
      // A worker that failed to start or crashed answers nothing more: its
      // document gets an error, and the next document starts a new one.
      const handler = this.handler, id = this.id;
      this.end();
      handler?.({ type: 'error', id, message: event.message || 'The reader stopped', crashed: true });
    };
  }

  // The page's compiled core, for the worker to instantiate: now when it is
  // there, else as soon as it is (the worker waits for it); a page that
  // could not compile it leaves the worker to load it itself.
  handCore() {
    if (compiledModule) {
      this.worker.postMessage({ type: 'core', module: compiledModule });
      return;
    }
    this.worker.postMessage({ type: 'core', pending: true });
    compiledCore().then((module) => module, () => null).then((module) => {
      if (!this.ended) this.worker.postMessage({ type: 'core', module });
    });
  }

  // Closed while idle: kept as the next document's worker when there is
  // none yet and it stayed small, else ended.
  idle() {
    if (!this.retiring && !spare && !this.ended) spare = this;
    else if (spare !== this) this.end();
  }

  end() {
    if (this.ended) return;
    this.ended = true;
    this.handler = null;
    this.worker.terminate();
    if (spare === this) spare = null;
  }
}

// The warm start, for pages that ask for it (an element with
// loading="eager", or the module's warmUp()): the next document's worker
// starts, and the core compiles (once) and is instantiated in it and beside
// the page, before any element has a document. A page that sets `src` later
// (after its own scripts, a user's choice, a fetch) finds both ready; the
// first document takes that worker. Without it nothing is fetched before a
// `src`. A failure here (a policy refusing the worker, a core not found) is
// left for the first document to report.
export function warmUp() {
  try {
    if (!spare || spare.ended) spare = new Reader();
  } catch {
    return;
  }
  core().catch(() => {});
}

// Opens a document by its address in a worker of its own: `message` gives
// src and the limits, `onMessage` gets every message about it. Returns { id,
// post(message) (a view), close(stopReads) }. close(true) also stops a read
// the worker is waiting for by ending the worker (a synchronous range
// request cannot be interrupted otherwise); close() lets an idle worker go
// back to be the next document's.
export function openDocument(message, onMessage) {
  const reader = spare && !spare.ended ? spare : new Reader(), id = nextId++;
  if (spare === reader) spare = null;
  reader.id = id;
  reader.handler = onMessage;
  reader.worker.postMessage({ ...message, type: 'open', id });
  return {
    id,
    post(view) {
      if (!reader.ended && reader.id === id && reader.handler) reader.worker.postMessage({ ...view, type: 'view', id });
    },
    close(stopReads = false) {
      if (reader.ended || reader.id !== id || !reader.handler) return;
      reader.handler = null;
      if (stopReads || reader.retiring) {
        reader.end();
        return;
      }
      reader.worker.postMessage({ type: 'close', id });
    },
  };
}
