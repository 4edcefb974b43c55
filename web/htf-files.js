// Where the element's files are: the core (htf-core.wasm, and
// htf-core-legacy.wasm for engines that run only the first form of
// WebAssembly's exceptions), the lens picture and the cursors. Each is
// named with a literal `new URL('./file', import.meta.url)`, the form
// bundlers such as Vite and webpack follow:
// they emit the file and write its final address into the bundle. A page
// whose bundler does not (esbuild, a script concatenated by hand), or that
// serves the files elsewhere, says where they are with setBasePath(url).

let base = null;

// Every file is looked for under `url` (a folder holding the package's files,
// relative to the page); null goes back to the files beside the module.
export function setBasePath(url) {
  if (url == null || url === '') {
    base = null;
    return;
  }
  const resolved = new URL(String(url), globalThis.document?.baseURI ?? undefined);
  if (!resolved.pathname.endsWith('/')) resolved.pathname += '/';
  base = resolved;
}

export function basePath() {
  return base ? base.href : null;
}

// The literal addresses, one function each so that a bundle without
// `import.meta.url` (an iife) fails only when a file is wanted, not at load.
const BESIDE = {
  'htf-core.wasm': () => new URL('./htf-core.wasm', import.meta.url),
  'htf-core-legacy.wasm': () => new URL('./htf-core-legacy.wasm', import.meta.url),
  'lens.png': () => new URL('./lens.png', import.meta.url),
  'magnifier.cur': () => new URL('./magnifier.cur', import.meta.url),
  'openhand.cur': () => new URL('./openhand.cur', import.meta.url),
  'pointhand.cur': () => new URL('./pointhand.cur', import.meta.url),
  'globehand.cur': () => new URL('./globehand.cur', import.meta.url),
};

// The folder of this module (unbundled: the package's folder), or null in a
// bundle that has no module address.
export function moduleFolder() {
  try {
    // Through a name: a dev server rewrites `new URL('.', import.meta.url)`
    // into the package's entry file.
    const here = import.meta.url;
    return new URL('.', here).href;
  } catch {
    return null;
  }
}

// The address of one of the element's files (a name from the package's
// folder: "lens.png", "htf-decoder.js", ...).
export function fileUrl(name) {
  if (base) return new URL(name, base).href;
  try {
    const literal = BESIDE[name];
    return literal ? literal().href : new URL(name, import.meta.url).href;
  } catch {
    throw new Error(`htf-viewer: cannot tell where ${name} is; call setBasePath(url) with the folder of the package's files`);
  }
}
