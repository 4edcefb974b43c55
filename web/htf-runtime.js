// The parts of <htf-viewer> that every element on a page shares: the
// portable core (WebAssembly) beside the page, and the one decoding worker
// that reads documents away from the page's thread.
import createHtfCore from './htf-core.js';

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

// A core whose code trapped (out of memory in the middle of a call, or any
// other runtime error) may have left its memory inconsistent: it is marked
// and never used again; the next use makes a new one.
let corePromise = null;
export function core() {
  corePromise ??= createHtfCore({ locateFile: (file) => fileUrl(file) }).catch((error) => {
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

// Documents are read by a worker, one at a time or several: each open
// document has an id and a handler for its messages. WebAssembly memory
// never shrinks: a worker that took more than this for a document (its bytes
// and pixels), or that says so itself (`retire`), takes no new document; it
// is ended once its last document is closed, and the next document starts a
// new worker, so the memory goes with the document.
export const workerBudget = { bytes: 256 * 1024 * 1024 };
let nextId = 1;
let current = null;

class Reader {
  constructor() {
    this.worker = startWorker();
    this.documents = new Map();   // id -> handler of its messages
    this.retiring = false;
    this.ended = false;
    this.worker.onmessage = (event) => {
      const message = event.data;
      if (message.heapBytes > workerBudget.bytes || message.retire) this.retiring = true;
      this.documents.get(message.id)?.(message);
      this.endIfDone();
    };
    this.worker.onerror = (event) => {
      // A worker that failed to start or crashed answers nothing more: every
      // document on it gets an error, and the next document starts a new one.
      const handlers = [...this.documents.entries()];
      this.end();
      for (const [id, handler] of handlers) {
        handler({ type: 'error', id, message: event.message || 'The reader stopped', crashed: true });
      }
    };
  }

  endIfDone() {
    if (this.retiring && !this.documents.size) this.end();
  }

  end() {
    if (this.ended) return;
    this.ended = true;
    this.worker.terminate();
    this.documents.clear();
    if (current === this) current = null;
  }
}

// Starts the worker early (it compiles the core while a page loads).
export function decoder() {
  if (!current || current.retiring || current.ended) current = new Reader();
  return current.worker;
}

// Opens a document by its address in the worker: `message` gives src and the
// limits, `onMessage` gets every message about it. Returns { id, post(message)
// (a view), close(stopReads) }. close(true) also stops a read the worker is
// waiting for: a worker reading for no other document is ended at once (a
// synchronous range request cannot be interrupted otherwise).
export function openDocument(message, onMessage) {
  decoder();
  const reader = current, id = nextId++;
  reader.documents.set(id, onMessage);
  reader.worker.postMessage({ ...message, type: 'open', id });
  return {
    id,
    post(view) {
      if (!reader.ended && reader.documents.has(id)) reader.worker.postMessage({ ...view, type: 'view', id });
    },
    close(stopReads = false) {
      if (reader.ended || !reader.documents.has(id)) return;
      reader.documents.delete(id);
      if (stopReads && !reader.documents.size) {
        reader.end();
        return;
      }
      reader.worker.postMessage({ type: 'close', id });
      reader.endIfDone();
    },
  };
}
