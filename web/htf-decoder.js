// The decoding worker of <htf-viewer>: reads a document's bytes with the
// portable core (WebAssembly) away from the page's thread, so the page never
// freezes, and sends back the packed pixels, the palette, the hotspots and
// the first error. Messages in: { id, bytes: ArrayBuffer }. Messages out:
// { id, opened, hasImage, error, hotspots, width, height, bits, rowBytes,
// pixels: ArrayBuffer, palette: ArrayBuffer }.
import createHtfCore from './htf-core.js';

const ready = createHtfCore();

async function read(bytes) {
  const core = await ready;
  const data = new Uint8Array(bytes);
  const input = core._htf_alloc(Math.max(1, data.length));
  if (!input) return { opened: false, hasImage: false, error: 'Out of memory', hotspots: [] };
  core.HEAPU8.set(data, input);
  const doc = core._htf_read(input, data.length);
  core._htf_free(input);
  if (!doc) return { opened: false, hasImage: false, error: 'Out of memory', hotspots: [] };
  try {
    const result = {
      opened: core._htf_doc_opened(doc) !== 0,
      hasImage: core._htf_doc_has_image(doc) !== 0,
      tooLarge: core._htf_doc_too_large(doc) !== 0,
      fileWidth: core._htf_doc_file_width(doc),
      fileHeight: core._htf_doc_file_height(doc),
      error: core.UTF8ToString(core._htf_doc_error(doc)),
      hotspots: JSON.parse(core.UTF8ToString(core._htf_doc_hotspots(doc))),
    };
    if (result.hasImage) {
      const pixels = core._htf_doc_pixels(doc), bytesOf = core._htf_doc_pixel_bytes(doc);
      const palette = core._htf_doc_palette(doc), colours = core._htf_doc_palette_count(doc);
      result.width = core._htf_doc_width(doc);
      result.height = core._htf_doc_height(doc);
      result.bits = core._htf_doc_bits(doc);
      result.rowBytes = core._htf_doc_row_bytes(doc);
      // Copies out of the module's memory, handed over without another copy.
      result.pixels = core.HEAPU8.slice(pixels, pixels + bytesOf).buffer;
      result.palette = core.HEAPU8.slice(palette, palette + 4 * colours).buffer;
    }
    return result;
  } finally {
    core._htf_doc_release(doc);
  }
}

self.onmessage = async (event) => {
  const { id, bytes } = event.data;
  let result;
  const started = performance.now();
  try {
    result = await read(bytes);
    result.decodeMs = performance.now() - started;
  } catch (error) {
    result = { opened: false, hasImage: false, error: `The reader failed: ${error}`, hotspots: [] };
  }
  result.id = id;
  self.postMessage(result, [result.pixels, result.palette].filter(Boolean));
};
