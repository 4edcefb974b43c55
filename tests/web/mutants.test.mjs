// The element's reader against hostile documents: mutants of the reader's
// mutation campaign (written by build/bin/mutate.exe under Wine, or taken from
// HTF_MUTANTS_DIR) read by the worker's code through the WebAssembly core,
// whole and in parts (directories, levels and tiles, as range reads go; the
// campaign's tiled and levelled seeds lead there). Every read must end
// without a trap, in bounded time, and give back all the core memory it took.
//   node --test tests/web/   (HTF_WEB_DIR: the built build/web)
import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import test from 'node:test';
import { fileURLToPath } from 'node:url';

import { coreWasm } from '../../web/htf-core-file.js';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
const webDir = process.env.HTF_WEB_DIR || path.join(root, 'build', 'web');
const { DecoderWorker, LevelsDocument, MemoryRanges, decodedBytes } = await import(path.join(webDir, 'htf-decoder.js'));
const { default: createHtfCore } = await import(path.join(webDir, 'htf-core.js'));
const wasmBinary = fs.readFileSync(path.join(webDir, coreWasm));

const MUTANTS = 200;
const SEED = '24';
const READ_LIMIT_MS = 10000;
const MEMORY_LIMIT = 64 * 1024 * 1024;
const TRAP = /reader failed|RuntimeError|out of bounds|unreachable/i;

// Reads the document level by level: the first and the last tile of each
// tiled level, a striped level whole when it fits. Returns how far it got.
async function readInParts(core, bytes, name) {
  let doc = null;
  const reached = { opened: false, levels: 0, tiles: 0 };
  const tolerate = (error) => {
    assert.ok(!(error instanceof WebAssembly.RuntimeError), `${name}: ${error.message}`);
    assert.doesNotMatch(String(error.message), TRAP, name);
  };
  try {
    doc = new LevelsDocument(core, new MemoryRanges(new Uint8Array(bytes)), { memoryLimit: MEMORY_LIMIT });
    reached.opened = true;
    reached.levels = doc.levels.length;
    doc.hotspots();
    for (const [level, l] of doc.levels.entries()) {
      const last = [Math.ceil(l.width / l.tileWidth) - 1, Math.ceil(l.height / l.tileHeight) - 1];
      const tiles = l.tiled ? [[0, 0], last] : decodedBytes(l) <= MEMORY_LIMIT ? [[0, 0]] : [];
      for (const [column, row] of tiles) {
        try {
          if (l.tiled) {
            doc.tile(level, column, row);
          } else {
            const rows = doc.stripedLevel(level);
            await doc.rowsReady(rows, rows.height);
            if (rows.failure) throw rows.failure;
          }
          ++reached.tiles;
        } catch (error) {
          tolerate(error);
        }
      }
    }
  } catch (error) {
    tolerate(error);
  } finally {
    doc?.release();
  }
  return reached;
}

function mutantDirectory() {
  if (process.env.HTF_MUTANTS_DIR) return process.env.HTF_MUTANTS_DIR;
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'htf-mutants-'));
  const mutate = path.join(webDir, '..', 'bin', 'mutate.exe');
  const run = spawnSync(path.join(root, 'scripts', 'wine-run'),
    [mutate, '--seed', SEED, '--write-range', '0', String(MUTANTS), 'Z:' + dir.replaceAll('/', '\\')],
    { env: { ...process.env, WINEDEBUG: '-all' }, stdio: ['ignore', 'ignore', 'pipe'], timeout: 120000 });
  assert.equal(run.status, 0, `mutate.exe failed: ${run.error || run.stderr}`);
  return dir;
}

test('mutants of the campaign read without a trap, in time, and leave no memory behind', async (t) => {
  const dir = mutantDirectory();
  if (!process.env.HTF_MUTANTS_DIR) t.after(() => fs.rmSync(dir, { recursive: true, force: true }));
  const files = fs.readdirSync(dir).filter((name) => name.endsWith('.htf')).sort();
  assert.equal(files.length, MUTANTS);
  const core = await createHtfCore({ wasmBinary });
  let answer = null;
  const worker = new DecoderWorker(core, (message) => { answer = message; });
  const outcomes = { pictures: 0, tooLarge: 0, errors: 0, levelled: 0, tiles: 0 };
  for (const [id, name] of files.entries()) {
    const bytes = fs.readFileSync(path.join(dir, name));
    const before = core._htf_heap_in_use();
    const started = performance.now();
    answer = null;
    worker.whole({ id, bytes: bytes.buffer.slice(bytes.byteOffset, bytes.byteOffset + bytes.length) });
    const ms = performance.now() - started;
    assert.equal(answer?.id, id, name);
    assert.doesNotMatch(answer.error, TRAP, name);
    assert.ok(ms < READ_LIMIT_MS, `${name} took ${Math.round(ms)} ms`);
    assert.equal(core._htf_heap_in_use(), before, `${name} left core memory in use`);
    if (answer.hasImage) ++outcomes.pictures;
    else if (answer.tooLarge) ++outcomes.tooLarge;
    else ++outcomes.errors;

    const partsStarted = performance.now();
    const reached = await readInParts(core, bytes, name);
    const partsMs = performance.now() - partsStarted;
    assert.ok(partsMs < READ_LIMIT_MS, `${name} took ${Math.round(partsMs)} ms in parts`);
    assert.equal(core._htf_heap_in_use(), before, `${name} left core memory in use after the read in parts`);
    if (reached.levels > 1) ++outcomes.levelled;
    outcomes.tiles += reached.tiles;
  }
  // The batch reaches both sides of the reader, pictures and refusals, and
  // documents with reduced levels read tile by tile.
  assert.ok(outcomes.pictures > 0 && outcomes.errors > 0, JSON.stringify(outcomes));
  assert.ok(outcomes.levelled > 0 && outcomes.tiles > 0, JSON.stringify(outcomes));
});
