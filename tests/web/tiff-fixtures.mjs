// Small TIFF documents for the worker's tests, written byte by byte:
// uncompressed tiles or one strip, levels chained (NewSubfileType 1) or as
// SubIFDs of the first image, the example document's hotspot tag on the first.
import fs from 'node:fs';
import path from 'node:path';
import { fileURLToPath } from 'node:url';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');

// The hotspot tag's bytes of the example document (first directory, classic TIFF).
function exampleHotspotBytes() {
  const file = fs.readFileSync(path.join(root, 'examples', 'floorplan.htf'));
  const ifd = file.readUInt32LE(4), count = file.readUInt16LE(ifd);
  for (let e = 0; e < count; ++e) {
    const at = ifd + 2 + 12 * e;
    if (file.readUInt16LE(at) === 33577) {
      const n = file.readUInt32LE(at + 4);
      const from = n <= 4 ? at + 8 : file.readUInt32LE(at + 8);
      return new Uint8Array(file.subarray(from, from + n));
    }
  }
  throw new Error('no hotspot tag in the example');
}
const HOTSPOTS = exampleHotspotBytes();

// An image: width, height, kind ('bilevel' 1-bit MinIsWhite, 'grey' 8-bit,
// 'rgb'), pixel(x, y) -> value (0/1, 0-255, [r, g, b]), tile size or 0 for one strip.
export function image(width, height, kind, pixel, tile = 256) {
  return { width, height, kind, pixel, tile };
}

export function packRows(img, x0, y0, w, h) {
  const bits = img.kind === 'bilevel' ? 1 : img.kind === 'grey' ? 8 : 24;
  const rowBytes = Math.ceil(w * bits / 8), out = new Uint8Array(rowBytes * h);
  for (let y = 0; y < h; ++y) {
    for (let x = 0; x < w; ++x) {
      const inside = x0 + x < img.width && y0 + y < img.height;
      const v = inside ? img.pixel(x0 + x, y0 + y) : 0;
      if (bits === 1) { if (v) out[y * rowBytes + (x >> 3)] |= 0x80 >> (x & 7); }
      else if (bits === 8) out[y * rowBytes + x] = v;
      else out.set(inside ? v : [0, 0, 0], y * rowBytes + 3 * x);
    }
  }
  return out;
}

export function writeTiff(images, { subIfds = false, hotspots = HOTSPOTS, patch = () => {} } = {}) {
  const bytes = [], u8 = (a) => { for (const b of a) bytes.push(b); };
  const le = (v, n) => Array.from({ length: n }, (_, i) => Math.floor(v / 2 ** (8 * i)) & 0xFF);
  u8([0x49, 0x49, 42, 0]); u8([0, 0, 0, 0]);
  const align = () => { if (bytes.length & 1) bytes.push(0); };
  // Pixel data first.
  const layouts = images.map((img) => {
    const tw = img.tile || img.width, th = img.tile || img.height;
    const offsets = [], counts = [];
    for (let y = 0; y < img.height; y += th) {
      for (let x = 0; x < img.width; x += tw) {
        const data = packRows(img, x, y, img.tile ? tw : img.width, img.tile ? th : img.height);
        align(); offsets.push(bytes.length); counts.push(data.length); u8(data);
      }
    }
    return { offsets, counts };
  });
  const writeIfd = (img, layout, index, next, extra) => {
    const bits = img.kind === 'bilevel' ? [1] : img.kind === 'grey' ? [8] : [8, 8, 8];
    const entries = [
      [254, 4, [index === 0 ? 0 : 1]], [256, 4, [img.width]], [257, 4, [img.height]], [258, 3, bits],
      [259, 3, [1]], [262, 3, [img.kind === 'bilevel' ? 0 : img.kind === 'grey' ? 1 : 2]],
      [277, 3, [bits.length]], [284, 3, [1]],
    ];
    if (img.tile) {
      entries.push([322, 4, [img.tile]], [323, 4, [img.tile]], [324, 4, layout.offsets], [325, 4, layout.counts]);
    } else {
      entries.push([273, 4, layout.offsets], [278, 4, [img.height]], [279, 4, layout.counts]);
    }
    entries.push(...extra);
    patch(entries, index);
    entries.sort((a, b) => a[0] - b[0]);
    const size = { 3: 2, 4: 4, 7: 1, 13: 4 };
    const outOfLine = entries.map(([, type, values]) => {
      const data = type === 7 ? Array.from(values) : values.flatMap((v) => le(v, size[type]));
      if (data.length <= 4) return data;
      align();
      const at = bytes.length; u8(data);
      return at;
    });
    align();
    const at = bytes.length;
    u8(le(entries.length, 2));
    entries.forEach(([tag, type, values], i) => {
      u8(le(tag, 2)); u8(le(type, 2)); u8(le(values.length, 4));
      const v = outOfLine[i];
      u8(typeof v === 'number' ? le(v, 4) : [...v, 0, 0, 0, 0].slice(0, 4));
    });
    u8(le(next, 4));
    return at;
  };
  const hotspotEntry = hotspots ? [[33577, 7, hotspots]] : [];
  let first;
  if (subIfds) {
    const subs = images.slice(1).map((img, i) => writeIfd(img, layouts[i + 1], i + 1, 0, []));
    first = writeIfd(images[0], layouts[0], 0, 0, [...hotspotEntry, ...(subs.length ? [[330, 4, subs]] : [])]);
  } else {
    let next = 0;
    for (let i = images.length - 1; i >= 0; --i) {
      next = writeIfd(images[i], layouts[i], i, next, i === 0 ? hotspotEntry : []);
    }
    first = next;
  }
  const out = new Uint8Array(bytes);
  new DataView(out.buffer).setUint32(4, first, true);
  return out;
}

export const greyPixel = (x, y) => (x * 7 + y * 3 + ((x >> 5) ^ (y >> 5)) * 40) & 0xFF;
export const bilevelPixel = (x, y) => ((x + y) % 9 === 0 || x % 97 === 0) ? 1 : 0;
export const rgbPixel = (x, y) => [x & 0xFF, y & 0xFF, (x ^ y) & 0xFF];
export const pyramid = (w, h, kind, pixel, tile = 256) => {
  const images = [image(w, h, kind, pixel, tile)];
  for (let s = 2; w / s >= 64; s *= 2) {
    images.push(image(Math.ceil(w / s), Math.ceil(h / s), kind, (x, y) => pixel(x * s, y * s), tile));
  }
  return images;
};

