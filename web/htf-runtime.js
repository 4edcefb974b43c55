// The parts of <htf-viewer> that every element on a page shares: the
// portable core (WebAssembly) beside the page, and the one decoding worker
// that reads documents away from the page's thread.
import createHtfCore from './htf-core.js';

import { asset, here } from './htf-style.js';

export { asset };

// Pages that require Trusted Types accept a script URL only from a policy.
// The element's one policy lets through its own files and the blob that
// starts its worker, nothing else.
let policy = null;
function scriptUrl(url) {
  if (!globalThis.trustedTypes?.createPolicy) return url;
  policy ??= trustedTypes.createPolicy('htf-viewer', {
    createScriptURL: (text) => {
      const parsed = new URL(text);
      if (parsed.protocol === 'blob:' || parsed.href.startsWith(here.href)) return text;
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
  corePromise ??= createHtfCore({ locateFile: (file) => asset(file) }).catch((error) => {
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

// The worker is started from the module's own URL when the page and the
// module share an origin; from another origin (a content delivery network)
// browsers refuse that, so a same-origin blob that imports the module
// starts it instead.
function startWorker() {
  const url = asset('htf-decoder.js');
  if (new URL(url).origin === location.origin) return new Worker(scriptUrl(url), { type: 'module' });
  const blob = URL.createObjectURL(new Blob([`import ${JSON.stringify(url)};\n`], { type: 'text/javascript' }));
  try {
    return new Worker(scriptUrl(blob), { type: 'module' });
  } finally {
    setTimeout(() => URL.revokeObjectURL(blob), 60000);
  }
}

let worker = null;
let nextRequest = 1;
const pending = new Map();
// WebAssembly memory never shrinks: a worker that read a document larger
// than this (its bytes and pixels) is ended once no element waits for it,
// and the next document starts a new one, so the memory goes with the
// document.
export const workerBudget = { bytes: 256 * 1024 * 1024 };
let retiring = false;

function endWorker() {
  worker?.terminate();
  worker = null;
  retiring = false;
}

export function decoder() {
  if (worker) return worker;
  worker = startWorker();
  const current = worker;
  worker.onmessage = (event) => {
    const request = pending.get(event.data.id);
    pending.delete(event.data.id);
    request?.resolve(event.data);
    if (retiring && worker === current && !pending.size) endWorker();
  };
  worker.onerror = (event) => {
    // A worker that failed to start or crashed answers nothing more: every
    // waiting element gets an error, and the next document starts a new one.
    for (const request of pending.values()) request.reject(new Error(event.message || 'The reader stopped'));
    pending.clear();
    if (worker === current) endWorker();
    else current.terminate();
  };
  return worker;
}

// Reads a document's bytes in the worker; `memoryLimit` is the element's
// budget for the decoded pixels, for the reader to honour.
export function decode(bytes, memoryLimit) {
  return new Promise((resolve, reject) => {
    const id = nextRequest++;
    const size = bytes.byteLength;
    pending.set(id, {
      resolve: (result) => {
        // The worker's own memory counts too: a document with a million
        // hotspots grows it with little in pixels.
        const held = Math.max(size + (result.pixels?.byteLength ?? 0), result.heapBytes ?? 0);
        if (held > workerBudget.bytes) retiring = true;
        resolve(result);
      },
      reject,
    });
    decoder().postMessage({ id, bytes, memoryLimit }, [bytes]);
  });
}
