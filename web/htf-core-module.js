// The WebAssembly core compiled once per page and instantiated as often as
// needed: beside the page and in each decoding worker (a compiled module is
// handed to a worker in a message; instantiating it costs no download and no
// compilation).
import createHtfCore from './htf-core.js';

// Compiles the core at `url`: streamed while it downloads, or, when the
// server's type for it is not application/wasm, from its bytes.
export async function compileCore(url, fetchImpl = fetch) {
  const response = await fetchImpl(url, { credentials: 'same-origin' });
  if (!response.ok) throw new Error(`The viewer's core could not be loaded (${response.status})`);
  if (typeof WebAssembly.compileStreaming === 'function') {
    try {
      return await WebAssembly.compileStreaming(response.clone());
    } catch (error) {
      if (error instanceof WebAssembly.CompileError) throw error;
      // A wrong Content-Type: compiled from the bytes below.
    }
  }
  return WebAssembly.compile(await response.arrayBuffer());
}

// A new core from a compiled module.
export function instantiateCore(module) {
  return new Promise((resolve, reject) => {
    createHtfCore({
      // Never fetched (the instance comes from instantiateWasm); named so
      // that the loader does not resolve an address of its own, which a
      // bundle without import.meta.url cannot.
      locateFile: (file) => file,
      instantiateWasm(imports, receive) {
        WebAssembly.instantiate(module, imports).then((instance) => receive(instance, module), reject);
        return {};
      },
    }).then(resolve, reject);
  });
}
