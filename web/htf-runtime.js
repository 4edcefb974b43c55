// The parts of <htf-viewer> that every element on a page shares: the
// portable core (WebAssembly) beside the page, and the one decoding worker
// that reads documents away from the page's thread.
import createHtfCore from './htf-core.js';

const here = new URL('.', import.meta.url);
export const asset = (name) => new URL(name, here).href;

let corePromise = null;
export function core() {
  corePromise ??= createHtfCore({ locateFile: (file) => asset(file) });
  return corePromise;
}

let worker = null;
let nextRequest = 1;
const pending = new Map();
export function decoder() {
  if (worker) return worker;
  worker = new Worker(asset('htf-decoder.js'), { type: 'module' });
  worker.onmessage = (event) => {
    const request = pending.get(event.data.id);
    pending.delete(event.data.id);
    request?.resolve(event.data);
  };
  worker.onerror = (event) => {
    // A worker that failed to start or crashed answers nothing more: every
    // waiting element gets an error, and the next document starts a new one.
    for (const request of pending.values()) request.reject(new Error(event.message || 'The reader stopped'));
    pending.clear();
    worker.terminate();
    worker = null;
  };
  return worker;
}
export function decode(bytes) {
  return new Promise((resolve, reject) => {
    const id = nextRequest++;
    pending.set(id, { resolve, reject });
    decoder().postMessage({ id, bytes }, [bytes]);
  });
}
