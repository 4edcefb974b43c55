// The element as a package: safe to import without a DOM, its files found
// by address or base path, its errors coded, and its manifest, types and
// README in step with the code. node --test tests/web/  (HTF_WEB_DIR: the
// built build/web).
import assert from 'node:assert/strict';
import { execFileSync } from 'node:child_process';
import fs from 'node:fs';
import path from 'node:path';
import test from 'node:test';
import { fileURLToPath, pathToFileURL } from 'node:url';

import { FULL_SCREEN_BUTTON, TOOLBAR, loadFailure, toolbarButtons } from '../../web/htf-logic.js';

const root = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '..', '..');
const webDir = process.env.HTF_WEB_DIR || path.join(root, 'build', 'web');
const built = (name) => path.join(webDir, name);
const readJson = (file) => JSON.parse(fs.readFileSync(file, 'utf8'));

test('importing the package where there is no DOM defines nothing and throws nothing', async () => {
  const before = new Set(Object.getOwnPropertyNames(globalThis));
  const module = await import(pathToFileURL(built('htf-viewer.js')).href);
  assert.equal(typeof module.HtfViewer, 'function');
  assert.equal(typeof module.setBasePath, 'function');
  assert.equal(typeof module.warmUp, 'function');
  assert.match(module.VERSION, /^\d+\.\d+\.\d+/);
  assert.deepEqual(Object.getOwnPropertyNames(globalThis).filter((name) => !before.has(name)), []);
  assert.equal(globalThis.customElements, undefined);
});

test('a failed load is coded by what the reader said and where the document is', () => {
  const page = 'https://site.example';
  const cases = [
    [{ status: '404 Not Found' }, `${page}/a.htf`, { code: 'not-found', status: 404 }],
    [{ status: '410 Gone' }, `${page}/a.htf`, { code: 'not-found', status: 410 }],
    [{ status: '500 Internal Server Error' }, `${page}/a.htf`, { code: 'http', status: 500 }],
    [{ status: '403' }, 'https://cdn.example/a.htf', { code: 'http', status: 403 }],
    [{ network: true, message: 'Failed to fetch' }, 'https://cdn.example/a.htf', { code: 'cors', status: null }],
    [{ network: true, message: 'Failed to fetch' }, `${page}/a.htf`, { code: 'network', status: null }],
    [{ network: true }, 'not an address', { code: 'cors', status: null }],
    [{ tooBig: true, message: 'The document is larger' }, `${page}/a.htf`, { code: 'too-large', status: null }],
    [{ tooLarge: true }, `${page}/a.htf`, { code: 'too-large', status: null }],
    [{ message: 'The document could not be read: the file changed while it was read' }, `${page}/a.htf`,
      { code: 'changed', status: null }],
    [{ message: 'The document changed on the server while it was being read' }, `${page}/a.htf`,
      { code: 'changed', status: null }],
    [{ message: 'The document could not be read: no answer came within 15 s' }, `${page}/a.htf`,
      { code: 'timeout', status: null }],
    [{ message: 'The document could not be read: no bytes came for 15 s' }, `${page}/a.htf`,
      { code: 'timeout', status: null }],
    [{ message: 'The document could not be read: the answer took more than 60 s' }, `${page}/a.htf`,
      { code: 'timeout', status: null }],
    [{ message: 'The document could not be shown.\nTIFFClientOpen Error: Not a TIFF file, bad magic number 8995' },
      `${page}/a.htf`, { code: 'not-tiff', status: null }],
    [{ message: 'The document could not be read: bytes 0-9 came for bytes 10-19' }, `${page}/a.htf`,
      { code: 'read', status: null }],
    [{ message: 'The reader failed: unreachable' }, `${page}/a.htf`, { code: 'reader', status: null }],
    [{ message: 'htf-viewer: refused script URL https://site.example/x.js' }, `${page}/a.htf`,
      { code: 'setup', status: null }],
    [{ message: 'Not enough memory to read the document' }, `${page}/a.htf`, { code: 'out-of-memory', status: null }],
    [{ message: 'The document could not be shown.\nTIFFReadDirectory Error: damaged' }, `${page}/a.htf`,
      { code: 'damaged', status: null }],
  ];
  for (const [failure, url, expected] of cases) {
    assert.deepEqual(loadFailure(failure, url, page), expected, JSON.stringify(failure));
  }
});

test('the toolbar attribute names the buttons shown', () => {
  const all = [...TOOLBAR.map((entry) => entry.key), FULL_SCREEN_BUTTON.key];
  assert.equal(all.length, 11);
  const cases = [
    [null, all], ['all', all], ['none', []], ['', []], ['nonsense', []],
    ['full-screen fit-window', ['fit-window', 'full-screen']], ['Full-Screen', ['full-screen']],
    ['print zoom-in', ['zoom-in', 'print']], ['Zoom-In,print', ['zoom-in', 'print']],
    ['lens pan', ['magnifier', 'pan']], [' fit-window \n actual-size ', ['fit-window', 'actual-size']],
  ];
  for (const [value, keys] of cases) assert.deepEqual([...toolbarButtons(value)], keys, String(value));
});

test('a base path moves every file under it; without one the files lie beside the module', async () => {
  const { fileUrl, setBasePath, basePath } = await import(pathToFileURL(built('htf-files.js')).href);
  const beside = (name) => new URL(name, pathToFileURL(built('htf-files.js'))).href;
  try {
    for (const name of ['htf-core.wasm', 'htf-core-legacy.wasm', 'lens.png', 'openhand.cur', 'globehand.cur',
      'htf-decoder.js']) {
      assert.equal(fileUrl(name), beside(name));
      assert.ok(fs.existsSync(built(name)), `${name} is in the package`);
    }
    const cases = [
      ['https://cdn.example/htf/1.0.0/', 'https://cdn.example/htf/1.0.0/lens.png'],
      ['https://cdn.example/htf/1.0.0', 'https://cdn.example/htf/1.0.0/lens.png'],
      [new URL('https://cdn.example/x/'), 'https://cdn.example/x/lens.png'],
    ];
    for (const [base, expected] of cases) {
      setBasePath(base);
      assert.equal(fileUrl('lens.png'), expected);
    }
    setBasePath(null);
    assert.equal(basePath(), null);
    assert.equal(fileUrl('lens.png'), beside('lens.png'));
  } finally {
    setBasePath(null);
  }
});

test('the worker\'s script is allowed from the folder of the element\'s files only', async () => {
  const { allowedScript } = await import(pathToFileURL(built('htf-runtime.js')).href);
  const folders = ['https://site.example/assets/', null];
  const cases = [
    ['https://site.example/assets/htf-decoder-1a2b.js', true],
    ['https://site.example/assets/htf-decoder.js?worker_file&type=module', true],
    ['blob:https://site.example/8f0e', true],
    ['https://site.example/assets/sub/evil.js', false],
    ['https://site.example/assets.js', false],
    ['https://site.example/assets-other/htf-decoder.js', false],
    ['https://other.example/assets/htf-decoder.js', false],
    ['data:text/javascript,1', false],
  ];
  for (const [url, allowed] of cases) assert.equal(allowedScript(url, folders), allowed, url);
});

test('the package is publishable: a plain semver, the build kept, every file it needs listed', () => {
  const pkg = readJson(built('package.json'));
  assert.match(pkg.version, /^\d+\.\d+\.\d+$/);
  assert.match(pkg.productVersion, new RegExp(`^${pkg.version.replace(/\./g, '\\.')}\\.\\d+$`));
  assert.ok(pkg.license);
  assert.equal(pkg.customElements, './custom-elements.json');
  assert.ok(pkg.files.includes('custom-elements.json') && pkg.files.includes('README.md'));
  const readme = fs.readFileSync(built('README.md'), 'utf8');
  assert.doesNotMatch(readme, /\]\(docs\//, 'no picture of the repository');
  for (const needed of ['setBasePath', 'Content-Security-Policy', 'Cache-Control', 'Access-Control-Allow-Origin']) {
    assert.ok(readme.includes(needed), needed);
  }
});

test('the manifest, the types and the README describe the element the code defines', async () => {
  const { HtfViewer } = await import(pathToFileURL(built('htf-viewer.js')).href);
  const { STRINGS } = await import(pathToFileURL(built('htf-toolbar.js')).href);
  const manifest = readJson(built('custom-elements.json'));
  const element = manifest.modules[0].declarations.find((d) => d.customElement);
  assert.equal(element.tagName, 'htf-viewer');
  assert.deepEqual(element.attributes.map((a) => a.name).sort(), [...HtfViewer.observedAttributes].sort());
  const descriptor = (name) => {
    for (let o = HtfViewer.prototype; o; o = Object.getPrototypeOf(o)) {
      const d = Object.getOwnPropertyDescriptor(o, name);
      if (d) return d;
    }
    return undefined;
  };
  for (const attribute of element.attributes) {
    const d = descriptor(attribute.fieldName);
    assert.ok(d?.get && d?.set, `${attribute.fieldName} has a getter and a setter`);
  }
  for (const member of element.members) {
    const d = descriptor(member.name);
    assert.ok(d, `${member.name} is on the element`);
    if (member.kind === 'method') assert.equal(typeof d.value, 'function', member.name);
    else assert.ok(d.get && (member.readonly ? !d.set : true), member.name);
  }
  // Every event and part the sources use, and nothing more.
  const sources = fs.readdirSync(path.join(root, 'web')).filter((f) => f.endsWith('.js'))
    .map((f) => fs.readFileSync(path.join(root, 'web', f), 'utf8')).join('\n');
  const fired = new Set([...sources.matchAll(/_fire\('(htf-[a-z]+)'/g)].map((m) => m[1]));
  assert.deepEqual(element.events.map((e) => e.name).sort(), [...fired].sort());
  const parts = new Set([...sources.matchAll(/part: '([^']+)'/g)].flatMap((m) => m[1].split(' ')));
  parts.add('button');
  assert.deepEqual(element.cssParts.map((p) => p.name).sort(), [...parts].sort());
  const slots = [...sources.matchAll(/make\('slot', \{ name: '([^']+)'/g)].map((m) => m[1]);
  assert.deepEqual(element.slots.map((s) => s.name).sort(), slots.sort());
  for (const property of element.cssProperties) assert.ok(sources.includes(`var(${property.name}`) ||
    sources.includes(`'${property.name}'`), property.name);
  // The types: each attribute's property, each event, each string.
  const types = fs.readFileSync(built('htf-viewer.d.ts'), 'utf8');
  for (const attribute of element.attributes) assert.match(types, new RegExp(`\\n  ${attribute.fieldName}: `));
  for (const event of element.events) assert.ok(types.includes(`'${event.name}': CustomEvent<`), event.name);
  for (const name of Object.keys(STRINGS)) assert.match(types, new RegExp(`\\b${name}: string;`), name);
  // The project README's reference tables are the generated ones.
  execFileSync('python3', [path.join(root, 'tools', 'webdoc', 'webdoc.py'), '--check', path.join(root, 'README.md')]);
});
