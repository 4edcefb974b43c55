// Which build of the WebAssembly core this engine runs. The core is built
// twice from the same code: htf-core.wasm throws and catches C++ exceptions
// with WebAssembly's current instructions (try_table and exnref), which
// engines keep and do not warn about; htf-core-legacy.wasm with the first
// form (try, catch, rethrow), for engines that know only that one. The
// engine is asked by validating the smallest function that holds a
// try_table; no bytes are fetched to decide.
const TRY_TABLE = new Uint8Array([
  0x00, 0x61, 0x73, 0x6d, 0x01, 0x00, 0x00, 0x00,   // "\0asm", version 1
  0x01, 0x04, 0x01, 0x60, 0x00, 0x00,               // one type: () -> ()
  0x03, 0x02, 0x01, 0x00,                           // one function of it
  0x0a, 0x08, 0x01, 0x06, 0x00,                     // its body, no locals:
  0x1f, 0x40, 0x00, 0x0b,                           //   try_table (no catches) end
  0x0b,                                             // end
]);

export const coreWasm = WebAssembly.validate(TRY_TABLE) ? 'htf-core.wasm' : 'htf-core-legacy.wasm';

// The name of the file emscripten's loader asks for (htf-core.wasm) as this
// engine runs it.
export function locateCore(file) {
  return file === 'htf-core.wasm' ? coreWasm : file;
}
