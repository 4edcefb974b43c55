"""scripts/bench-web [runs]: the <htf-viewer> element in Debian's chromium
beside the Windows module under the runtime, on the A0 drawing at 400 dpi
(13245 x 18720, bilevel G4) and the 8000 x 6000 RGB LZW photo.

Per document: the module's open (HtfDocument::open, the fastest of 3), the
element's open plus first picture (from setting src to the first painted
frame, the fastest of `runs`, each in a fresh page; then the fastest of
`runs` more opens in the last page, whose worker has started), a full repaint and a
zoom step (in and out alternately, each building the tiles of the new scale)
at 1000 x 800, the tab's peak memory (the renderer processes' peak
resident size, a fresh browser per document) and the bytes the server sent.
Targets: first picture within 1.5 x the module's open; a repaint or a zoom
step within 16 ms.

Then a document with 1 000 000 hotspots (a 1000 x 1000 grid on a blank
2000 x 2000 page, made by htfmake) against the same page without them: the
time until `hotspots` is there (htf-load), a zoom step, and the tab's peak
memory above the page without hotspots. Targets: 3 s, 50 ms, 300 MB.

Then the start of a page, in Chromium and in Firefox ESR side by side: the
first picture of the A0 drawing and of the photo with a cold page (src set as
soon as the element is defined, nothing in the browser's caches), with the
element asking for the warm start (loading="eager") and defined 300 ms
before src (warm), and on a repeat visit (the same page again, its files in
the browser's caches, src set at once). Targets: the
A0 drawing within 2 x the module's open cold, 1.5 x warm and on a repeat
visit; the photo within 1.5 x in all three.

Then the workers (each document has a worker of its own): the levelled
drawing in 1, 2, 4 and 8 elements of one page, the tab's memory with each
count once every picture is complete (the cost of a document's worker); and
a document whose server stalls beside one that loads: that one's first
picture.

Then the decoding worker alone, reading by address in parts through our range
server (rangeserver.py), as the element will once its page side uses it: the
same two documents (striped: fetched whole, decoded once in the worker, the
fit view drawn there), and a 100 000 x 100 000 tiled bilevel drawing with
reduced levels (bench_document, about 240 MB, written once into the cache):
hotspots known, the first complete fit view (every tile of it in the page),
a zoom step to the next finer level, a 1:1 view, the bytes sent (share of
the file) and the tab's peak memory. Targets there: the fit view within 1 s
from at most 2 % of the file, a zoom step to a new level within 100 ms, the
tab at most 200 MB above an empty one. Figures only: nothing here fails on
time.

The element's row "tiny": a 4096 x 4096 drawing in tiles of 16 x 16 without
a reduced level (bench_document), its first complete fit picture, the tile
messages the page got for it and the page's longest task while it loaded.
Targets: 1 s, no task over 50 ms.

  scripts/bench-web [runs] [--hotspots] [--workers] [--startup]
      --hotspots, --workers, --startup: that part alone
  scripts/bench-web --page                              the page cost rows alone"""

import gzip
import os
import shutil
import subprocess
import sys
import tempfile

from browser import Browser, WebServer
from engines import VirtualDisplay, engine
from rangeserver import RangeServer

PAGE = '''<!DOCTYPE html><meta charset="utf-8"><script type="module" src="/web/htf-viewer.js"></script>
<body style="margin:0"><htf-viewer id="v" style="width:1002px;height:842px"></htf-viewer>
<script>
window.viewer = document.getElementById('v');
window.openTimed = (src) => new Promise((resolve, reject) => {
  const start = performance.now();
  const done = (e) => {
    viewer.removeEventListener('htf-load', done); viewer.removeEventListener('htf-error', done);
    if (e.type === 'htf-error') return reject(new Error(e.detail.message));
    requestAnimationFrame(() => resolve([performance.now() - start, e.detail.timings]));
  };
  viewer.addEventListener('htf-load', done); viewer.addEventListener('htf-error', done);
  viewer.setAttribute('src', src);
});
// The canvas is read back after each step, so the time includes its drawing.
const flush = () => viewer.shadowRoot.querySelector('canvas.picture').getContext('2d').getImageData(0, 0, 1, 1);
// A zoom step until its picture is complete (the new level's tiles in).
window.zoomComplete = (command) => new Promise((resolve) => {
  const t = performance.now();
  viewer.command(command);
  const poll = () => (viewer.complete ? resolve(performance.now() - t) : setTimeout(poll, 1));
  setTimeout(poll, 0);
});
// Another element showing `src`: milliseconds to its first picture (-1: an error).
window.addViewer = (src) => new Promise((resolve) => {
  const e = document.createElement('htf-viewer');
  e.style.cssText = 'width:300px;height:200px;display:inline-block';
  document.body.append(e);
  const t = performance.now();
  e.addEventListener('htf-load', () => resolve(performance.now() - t));
  e.addEventListener('htf-error', () => resolve(-1));
  e.setAttribute('src', src);
});
window.timed = (work, runs) => {
  const times = [];
  for (let i = 0; i < runs; ++i) { const t = performance.now(); work(i); flush(); times.push(performance.now() - t); }
  times.sort((a, b) => a - b);
  return times[Math.floor(times.length / 2)];
};
</script>'''

# The worker alone: open by address, views as messages, times to the page.
WORKER_PAGE = '''<!DOCTYPE html><meta charset="utf-8"><body><script>
window.log = [];
const until = (test) => new Promise((resolve, reject) => {
  const poll = () => {
    const found = log.find(test);
    if (found) return found.type === 'error' ? reject(new Error(found.message)) : resolve(found);
    setTimeout(poll, 1);
  };
  poll();
});
let sequence = 0;
// Milliseconds from the request to the last tile of the view in the page.
window.view = async (scale, left, top, right, bottom) => {
  const v = ++sequence, t = performance.now();
  worker.postMessage({ type: 'view', id: 1, view: v, scale, left, top, right, bottom });
  const done = await until((m) => (m.type === 'view-done' && m.view === v) || m.type === 'error');
  return [performance.now() - t, done.tiles, done.level, done.bytesFetched];
};
window.openTimed = async (src, width, height) => {
  window.log = [];
  const t = performance.now();
  window.worker = new Worker('/web/htf-decoder.js', { type: 'module' });
  worker.onmessage = (e) => {
    const m = e.data;
    if (m.type !== 'tile') log.push(m);
    else log.push({ type: 'tile', view: m.view });   // the pixels arrived; the page would keep them
  };
  worker.postMessage({ type: 'open', id: 1, src });
  const opened = await until((m) => m.type === 'hotspots' || m.type === 'error');
  const hotspotsMs = performance.now() - t;
  const scale = Math.min(1000 / opened.width, 800 / opened.height);
  const [, tiles, level] = await view(scale, 0, 0, opened.width, opened.height);
  return { hotspotsMs, fitMs: performance.now() - t, tiles, level, scale, width: opened.width,
    height: opened.height, hotspots: opened.hotspots.count, ranged: opened.ranged };
};
</script>'''


# The start of a page: the element's files from ?base= (a path of their own
# for each visit that must find the browser's caches empty), src set `delay`
# ms after the element is defined, with ?warm=1 on an element that asks for
# the warm start (loading="eager": the core and the next document's worker
# start when it is connected); window.result: [ms from src to the first
# picture, ms from the navigation's start to it].
STARTUP_PAGE = '''<!DOCTYPE html><meta charset="utf-8"><link rel="icon" href="data:,">
<body style="margin:0"><htf-viewer id="v" style="width:1002px;height:842px"></htf-viewer>
<script type="module">
const query = new URLSearchParams(location.search);
const viewer = document.getElementById('v');
viewer.addEventListener('htf-error', (e) => { window.result = e.detail.message; });
if (query.get('warm')) viewer.setAttribute('loading', 'eager');
import(query.get('base') + '/htf-viewer.js');
await customElements.whenDefined('htf-viewer');
setTimeout(() => {
  const start = performance.now();
  viewer.addEventListener('htf-load', () => requestAnimationFrame(() => {
    window.result = [performance.now() - start, performance.now()];
  }));
  viewer.setAttribute('src', query.get('src'));
}, Number(query.get('delay')));
</script>'''

STARTUP_TARGETS = {('a0', 'cold'): 2.0}   # any other: 1.5 x the module's open


def startup(server, build, modules, runs):
    """The first picture of each document in each engine: cold, warm and on a
    repeat visit, the fastest of `runs`."""
    engines = ('chromium', 'firefox')
    server.cacheable = ('/start-',)
    figures, versions = {}, {}
    visit = 0
    with VirtualDisplay():
        for name in engines:
            with engine(name, width=1100, height=900) as browser:
                versions[name] = browser.version
                for doc in modules:
                    for run in range(runs):
                        for kind, delay, same_base in (('cold', 0, False), ('repeat visit', 0, True),
                                                       ('warm', 300, False)):
                            if not same_base:
                                visit += 1
                                server.extra['/start-%d' % visit] = os.path.join(build, 'web')
                            page = browser.open(server.url('startup.html?base=/start-%d&src=/docs/%s.htf&delay=%d%s' % (
                                visit, doc, delay, '&warm=1' if kind == 'warm' else '')))
                            result = page.wait_for('window.result', timeout=120)
                            page.close()
                            if not isinstance(result, list):
                                raise RuntimeError('%s: %s' % (name, result))
                            key = (name, doc, kind)
                            figures[key] = min(figures.get(key, result[0]), result[0])
    print()
    print('The start of a page (src to first picture; the fastest of %d; the A0 drawing cold within 2 x, '
          'the rest within 1.5 x):' % runs)
    print('%-22s' % '' + ''.join('%26s' % versions[name] for name in engines))
    for doc, module in modules.items():
        for kind in ('cold', 'warm', 'repeat visit'):
            target = STARTUP_TARGETS.get((doc, kind), 1.5)
            cells = []
            for name in engines:
                ms = figures[(name, doc, kind)]
                ratio = ms / module
                cells.append('%8.0f ms %5.2fx %-7s' % (ms, ratio, 'MISS' if ratio > target else ''))
            print('%-7s %-14s' % (doc, kind) + ''.join('%26s' % cell for cell in cells))
    print('(the module\'s open: %s)' % ', '.join('%s %.0f ms' % item for item in modules.items()))


def module_open(fixtures, docs, name):
    """The module reader's open of a document under the runtime, the fastest of 3, in ms."""
    out = subprocess.run(['wine', fixtures, '--time', 'Z:' + os.path.join(docs, name + '.htf').replace('/', '\\'),
                          '3'], check=True, capture_output=True, text=True, stdin=subprocess.DEVNULL)
    return float(out.stdout.split()[1])


def bench_worker(server, docs, name, runs):
    """The worker's open, fit, zoom step and 1:1 view of one document."""
    best = None
    with Browser(width=1100, height=900) as browser:
        for run in range(runs):
            page = browser.open(server.url('worker.html'))
            page.wait_for('typeof window.openTimed === "function"')
            server.forget()
            result = page.evaluate('openTimed("/docs/%s.htf")' % name)
            result['fitBytes'] = server.bytes_sent('/docs/')
            if best is None or result['fitMs'] < best['fitMs']:
                best = result
            if run < runs - 1:
                page.evaluate('worker.terminate()')
                browser.pages.remove(page)
                page.send('Page.close')
                page.close()
        w, h, scale = best['width'], best['height'], best['scale']
        # A zoom step: twice the fit scale about the centre (the next finer level).
        cx, cy, half_w, half_h = w / 2, h / 2, 500 / (2 * scale), 400 / (2 * scale)
        zoom = page.evaluate('view(%r, %r, %r, %r, %r)' % (2 * scale, cx - half_w, cy - half_h, cx + half_w,
                                                             cy + half_h))
        actual = page.evaluate('view(1, %r, %r, %r, %r)' % (cx, cy, cx + 1000, cy + 800))
        best['zoomMs'], best['zoomLevel'] = zoom[0], zoom[2]
        best['actualMs'], best['actualTiles'] = actual[0], actual[1]
        best['bytes'] = server.bytes_sent('/docs/')
        _, best['peak'] = browser.renderer_memory()
    best['size'] = os.path.getsize(os.path.join(docs, name + '.htf'))
    return best


def element_pyramid(server, docs, runs):
    """The element on the 100 000 x 100 000 levelled drawing through ranges:
    first fit picture, bytes sent for it, a zoom step to a new level (until
    its picture is complete), a repaint, the tab's peak memory."""
    name = 'pyramid-100k'
    size = os.path.getsize(os.path.join(docs, name + '.htf'))
    with Browser(width=1100, height=900) as browser:
        first = None
        for run in range(runs):
            page = browser.open(server.url('bench.html'))
            page.wait_for('customElements.get("htf-viewer") !== undefined')
            server.forget()
            t, parts = page.evaluate('openTimed("/docs/%s.htf")' % name)
            sent = server.bytes_sent('/docs/')
            if first is None or t < first:
                first, breakdown, fit_sent = t, parts, sent
            if run < runs - 1:
                browser.pages.remove(page)
                page.send('Page.close')
                page.close()
        repaint = page.evaluate('timed(() => viewer._paint(), 20)')
        zooms = sorted(page.evaluate('zoomComplete(%d)' % (123 if i % 2 == 0 else 124)) for i in range(6))
        zoom = zooms[len(zooms) // 2]
        _, peak = browser.renderer_memory()
    marks = [mark for mark, missed in (('MISS 1 s / 2 %', first > 1000 or fit_sent > 0.02 * size),
                                       ('MISS zoom 100 ms', zoom > 100), ('MISS 16 ms', repaint > 16)) if missed]
    print('%-7s %12s %11.0f ms %7s %5.1f ms %11.1f ms %8.0f MB %8.1f MB  %s' % (
        'pyramid', '', first, '', repaint, zoom, peak / 1024, fit_sent / 1e6, ' '.join(marks)))
    print('        hotspots known after %.0f ms; fit picture from %.2f %% of the %.0f MB file' % (
        breakdown['hotspots'], 100.0 * fit_sent / size, size / 1e6))


# What a page with one element costs: the requests and bytes of the
# element's files (as served, and gzip-compressed as a server or CDN sends
# them), without a src, without one but asking for the warm start, with one,
# and lazy far below the viewport.
COST_PAGE = '''<!DOCTYPE html><meta charset="utf-8"><body style="margin:0">
<script>window.seen = []; document.addEventListener('htf-load', () => seen.push('load'));</script>
<script type="module" src="/web/htf-viewer.js"></script>%s'''
COST_CASES = [
    ('no src', '<htf-viewer style="width:600px;height:400px"></htf-viewer>', False),
    ('no src, loading="eager" (warm start)', '<htf-viewer loading="eager" style="width:600px;height:400px">'
     '</htf-viewer>', False),
    ('src', '<htf-viewer src="floorplan.htf" style="width:600px;height:400px"></htf-viewer>', True),
    ('src, loading="lazy" below the fold', '<div style="height:4000px"></div><htf-viewer src="floorplan.htf" '
     'loading="lazy" style="width:600px;height:400px"></htf-viewer>', False),
]


def page_cost(root, build):
    work = tempfile.mkdtemp(prefix='htf-bench-page-')
    web = os.path.join(build, 'web')
    shutil.copy(os.path.join(root, 'examples', 'floorplan.htf'), work)
    print('A page with one element: the element\'s files it fetches (the document not counted)')
    print('%-36s %9s %12s %12s' % ('', 'requests', 'bytes', 'gzip -9'))
    try:
        for number, (name, body, loads) in enumerate(COST_CASES):
            page_name = 'cost-%d.html' % number
            with open(os.path.join(work, page_name), 'w') as f:
                f.write(COST_PAGE % body)
            with WebServer(work, {'/web': web}) as server, Browser(width=1000, height=800) as browser:
                page = browser.open(server.url(page_name))
                page.wait_for('customElements.get("htf-viewer") !== undefined')
                if loads:
                    page.wait_for('window.seen.length > 0', timeout=60)
                page.evaluate('new Promise((r) => setTimeout(r, 1000))')
                files = [r.split('?')[0][len('/web/'):] for r in server.requests if r.startswith('/web/')]
            sizes = []
            for file in files:
                with open(os.path.join(web, file), 'rb') as f:
                    data = f.read()
                sizes.append((len(data), len(gzip.compress(data, 9))))
            print('%-36s %9d %9.1f KB %9.1f KB' % (name, len(files), sum(s[0] for s in sizes) / 1024,
                                                   sum(s[1] for s in sizes) / 1024))
    finally:
        shutil.rmtree(work, ignore_errors=True)


def workers(server):
    """The memory a document's worker costs, and a stalled document's neighbour."""
    src = '/docs/pyramid-100k.htf?element=%d'
    with Browser(width=1300, height=1000) as browser:
        page = browser.open(server.url('bench.html'))
        page.wait_for('customElements.get("htf-viewer") !== undefined')
        page.evaluate('viewer.remove()')
        memory, count = {}, 0
        for wanted in (1, 2, 4, 8):
            while count < wanted:
                count += 1
                if page.evaluate('addViewer("%s")' % (src % count)) < 0:
                    print('workers: element %d failed to load' % count)
                    return
            page.send('HeapProfiler.collectGarbage')
            memory[wanted], _ = browser.renderer_memory()
        per_worker = (memory[8] - memory[1]) / 7 / 1024
        print('workers: the levelled drawing in 1, 2, 4, 8 elements: the tab %s MB; each further document '
              '(its worker and core) %.1f MB' % (' / '.join('%.0f' % (memory[n] / 1024) for n in (1, 2, 4, 8)),
                                                 per_worker))
        server.hold(65536, 'stalled')
        try:
            page.evaluate('addViewer("/docs/pyramid-100k.htf?stalled"), 0')
            beside = page.evaluate('addViewer("%s")' % (src % 99))
        finally:
            server.release()
        print('         beside a document whose server stalls, another one\'s first picture after %.0f ms' % beside)


# Counts, in a page, the views it asks the worker for, the tile messages it
# gets (the level's own tiles among them) and its long tasks (over 50 ms):
# a classic script, run before the element's module makes its worker.
COUNTING = """<script>
window.views = 0;
window.tileMessages = 0;
window.levelTileMessages = 0;
window.longTasks = [];
new PerformanceObserver((list) => { for (const e of list.getEntries()) longTasks.push(Math.round(e.duration)); })
  .observe({ type: 'longtask' });
window.Worker = class extends window.Worker {
  postMessage(message, ...rest) {
    if (message && message.type === 'view') ++window.views;
    return super.postMessage(message, ...rest);
  }
  constructor(...args) {
    super(...args);
    this.addEventListener('message', (e) => {
      if (e.data && e.data.type === 'tile') ++window.tileMessages, window.levelTileMessages += e.data.rendered ? 0 : 1;
    });
  }
};
</script>"""
TINY_PAGE = PAGE.replace('<script type="module"', COUNTING + '\n<script type="module"', 1)


def element_tiny(server, docs, runs):
    """The element on the 4096 x 4096 drawing in tiles of 16 x 16 without a
    reduced level, through ranges: first fit picture (complete), the tile
    messages the page got for it, its longest task while it loaded, bytes
    sent. Targets: 1 s, no task over 50 ms."""
    name = 'tiny-16'
    size = os.path.getsize(os.path.join(docs, name + '.htf'))
    best = None
    with Browser(width=1100, height=900) as browser:
        for run in range(runs):
            page = browser.open(server.url('tiny.html'))
            page.wait_for('customElements.get("htf-viewer") !== undefined')
            server.forget()
            page.evaluate('window.tileMessages = 0; window.longTasks = []')
            t, _ = page.evaluate('openTimed("/docs/%s.htf")' % name)
            figures = (t, page.evaluate('window.tileMessages'), max(page.evaluate('window.longTasks') or [0]),
                       server.bytes_sent('/docs/'))
            if best is None or figures[0] < best[0]:
                best = figures
            browser.pages.remove(page)
            page.send('Page.close')
            page.close()
    first, messages, longest, sent = best
    marks = [mark for mark, missed in (('MISS 1 s', first > 1000), ('MISS 50 ms', longest > 50)) if missed]
    print('%-7s %12s %11.0f ms %7s %11s %11s %11s %8.1f MB  %s' % ('tiny', '', first, '', '', '', '', sent / 1e6,
                                                                  ' '.join(marks)))
    print('        4096 x 4096 in tiles of 16 x 16, no reduced level (%.1f MB): %d tile messages, the page\'s '
          'longest task %.0f ms' % (size / 1e6, messages, longest))


def main():
    root, build, cache = sys.argv[1], sys.argv[2], sys.argv[3]
    options = [arg for arg in sys.argv[4:] if arg.startswith('--')]
    numbers = [arg for arg in sys.argv[4:] if not arg.startswith('--')]
    unknown = set(options) - {'--hotspots', '--page', '--workers', '--startup'}
    if unknown:
        print('bench-web: unknown option %s' % ' '.join(sorted(unknown)), file=sys.stderr)
        return 2
    runs = int(numbers[0]) if numbers else 3
    if '--page' in options:
        page_cost(root, build)
        options.remove('--page')
        if not options:
            return 0
    docs = os.path.join(cache, 'web-bench')
    fixtures = os.path.join(build, 'bin', 'webfixtures.exe')
    if not os.path.exists(os.path.join(docs, 'photo.htf')):
        os.makedirs(docs, exist_ok=True)
        print('bench-web: writing the documents into %s ...' % docs, file=sys.stderr)
        subprocess.run(['wine', fixtures, 'Z:' + docs.replace('/', '\\'), '--large'], check=True,
                       stdin=subprocess.DEVNULL)
    pyramid = os.path.join(docs, 'pyramid-100k.htf')
    if not os.path.exists(pyramid):
        print('bench-web: writing the 100 000 x 100 000 levelled drawing into %s ...' % docs, file=sys.stderr)
        subprocess.run([os.path.join(build, 'native', 'bench_document'), pyramid + '.part', '100000', '256',
                        '1000'], check=True)
        os.replace(pyramid + '.part', pyramid)
    tiny = os.path.join(docs, 'tiny-16.htf')
    if not os.path.exists(tiny):
        subprocess.run([os.path.join(build, 'native', 'bench_document'), tiny + '.part', '4096', '16', '16', '1'],
                       check=True)
        os.replace(tiny + '.part', tiny)
    work = tempfile.mkdtemp(prefix='htf-bench-')
    with open(os.path.join(work, 'bench.html'), 'w') as f:
        f.write(PAGE)
    with open(os.path.join(work, 'worker.html'), 'w') as f:
        f.write(WORKER_PAGE)
    with open(os.path.join(work, 'tiny.html'), 'w') as f:
        f.write(TINY_PAGE)
    with open(os.path.join(work, 'startup.html'), 'w') as f:
        f.write(STARTUP_PAGE)
    if options:
        with RangeServer(work, {'/web': os.path.join(build, 'web'), '/docs': docs}) as server:
            if '--workers' in options:
                workers(server)
            if '--startup' in options:
                startup(server, build, {name: module_open(fixtures, docs, name) for name in ('a0', 'photo')}, runs)
            if '--hotspots' in options:
                many_hotspots(server, build, fixtures, docs)
        return 0
    page_cost(root, build)
    print()
    print('%-7s %12s %14s %7s %11s %11s %11s %11s' % ('', 'module open', 'first picture', 'ratio', 'repaint',
                                                       'zoom step', 'peak memory', 'bytes sent'))
    misses = 0
    modules = {}
    with RangeServer(work, {'/web': os.path.join(build, 'web'), '/docs': docs}) as server:
        # For scale: the same page and browser without a document.
        with Browser(width=1100, height=900) as browser:
            page = browser.open(server.url('bench.html'))
            page.wait_for('customElements.get("htf-viewer") !== undefined')
            _, peak = browser.renderer_memory()
        print('%-7s %12s %14s %7s %11s %11s %8.0f MB' % ('(none)', '', '', '', '', '', peak / 1024))
        for name in ('a0', 'photo'):
            module = modules[name] = module_open(fixtures, docs, name)
            with Browser(width=1100, height=900) as browser:
                first = None
                for _ in range(runs):
                    page = browser.open(server.url('bench.html'))
                    page.wait_for('customElements.get("htf-viewer") !== undefined')
                    server.forget()
                    t, parts = page.evaluate('openTimed("/docs/%s.htf")' % name)
                    sent = server.bytes_sent('/docs/')
                    if first is None or t < first:
                        first, breakdown = t, parts
                    if _ < runs - 1:
                        browser.pages.remove(page)
                        page.send('Page.close')
                        page.close()
                repaint = page.evaluate('timed(() => viewer._paint(), 20)')
                page.evaluate('viewer.command(130)')
                repaint_1to1 = page.evaluate('timed(() => viewer._paint(), 20)')
                page.evaluate('viewer.command(127)')
                zoom = page.evaluate('timed((i) => viewer.command(i % 2 ? 124 : 123), 10)')
                _, peak = browser.renderer_memory()
                # The next document of the same page: its worker has started
                # and compiled the core already (read after the peak).
                again = min(page.evaluate('openTimed("/docs/%s.htf?again=%d")' % (name, i))[0] for i in range(runs))
            ratio = first / module
            marks = []
            if ratio > 1.5:
                marks.append('MISS first picture')
            if max(repaint, repaint_1to1) > 16 or zoom > 16:
                marks.append('MISS 16 ms')
            misses += bool(marks)
            print('%-7s %9.0f ms %11.0f ms %6.2fx %5.1f/%.1f ms %8.1f ms %8.0f MB %8.1f MB  %s' % (
                name, module, first, ratio, repaint, repaint_1to1, zoom, peak / 1024, sent / 1e6, ' '.join(marks)))
            print('        hotspots known after %.0f ms, first picture complete after %.0f ms; opened again in the '
                  'same page %.0f ms (%.2fx)' % (breakdown['hotspots'], breakdown['picture'], again, again / module))
        element_pyramid(server, docs, runs)
        element_tiny(server, docs, runs)
        workers(server)
        print('(repaint: fitted / at 1:1; zoom step: the median of 10, in and out from the fit; peak memory: the '
              'renderer processes of a fresh browser; the pyramid\'s zoom step: until the new level\'s picture is '
              'complete, the median of 6)')
        startup(server, build, modules, runs)
        print()
        print('The worker alone, by address through the range server (fit view at 1000 x 800, best of %d):' % runs)
        print('%-8s %10s %9s %11s %11s %11s %18s %11s' % ('', 'hotspots', 'fit view', 'vs module', 'zoom step',
                                                        '1:1 view', 'bytes sent', 'peak memory'))
        for name in ('a0', 'photo', 'pyramid-100k'):
            r = bench_worker(server, docs, name, runs)
            marks = []
            versus = '%10.2fx' % (r['fitMs'] / modules[name]) if name in modules else '%11s' % ''
            if name in modules and r['fitMs'] > 1.5 * modules[name]:
                marks.append('MISS fit view')
            if name == 'pyramid-100k':
                if r['fitMs'] > 1000 or r['fitBytes'] > 0.02 * r['size']:
                    marks.append('MISS 1 s / 2 %')
                if r['zoomMs'] > 100:
                    marks.append('MISS zoom 100 ms')
            print('%-8s %7.0f ms %6.0f ms %s %8.0f ms %8.0f ms %8.1f MB %5.2f%% %8.0f MB  %s' % (
                name[:8], r['hotspotsMs'], r['fitMs'], versus, r['zoomMs'], r['actualMs'], r['bytes'] / 1e6,
                100.0 * r['bytes'] / r['size'], r['peak'] / 1024, ' '.join(marks)))
            print('         %d x %d, %d hotspots, %s; fit: level %d, %d tiles, %.1f MB sent (%.2f %% of %.1f MB); '
                  'zoom step to level %d' % (r['width'], r['height'], r['hotspots'],
                                            'ranges' if r['ranged'] else 'one download', r['level'], r['tiles'],
                                            r['fitBytes'] / 1e6, 100.0 * r['fitBytes'] / r['size'], r['size'] / 1e6,
                                            r['zoomLevel']))
    print('(hotspots and fit view: from the open message; bytes sent: the whole run of open, fit, zoom step and '
          '1:1 view; peak memory: the renderer processes, which hold the worker, of a fresh browser)')
    with RangeServer(work, {'/web': os.path.join(build, 'web'), '/docs': docs}) as server:
        many_hotspots(server, build, fixtures, docs)
    return 0


def many_hotspots(server, build, fixtures, docs):
    blank, many = os.path.join(docs, 'blank-2000x2000.htf'), os.path.join(docs, 'hotspots-1m.htf')
    wine_path = lambda path: 'Z:' + path.replace('/', '\\')
    if not os.path.exists(many):
        print('bench-web: writing the document with 1 000 000 hotspots ...', file=sys.stderr)
        subprocess.run(['wine', fixtures, wine_path(docs), '--blank', '2000x2000'], check=True,
                       stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        csv = os.path.join(docs, 'hotspots-1m.csv')
        with open(csv, 'w') as f:
            f.write('left,top,right,bottom,reference,tooltip\n')
            for row in range(1000):
                for column in range(1000):
                    n = row * 1000 + column
                    f.write('%d,%d,%d,%d,R%d,Item %d\n' % (column * 2, row * 2, column * 2 + 2, row * 2 + 2, n, n))
        subprocess.run(['wine', os.path.join(build, 'bin', 'htfmake.exe'), wine_path(blank), wine_path(csv),
                        wine_path(many)], check=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        os.remove(csv)
    figures = {}
    for name in ('blank-2000x2000', 'hotspots-1m'):
        with Browser(width=1100, height=900) as browser:
            page = browser.open(server.url('bench.html'))
            page.wait_for('customElements.get("htf-viewer") !== undefined')
            opened, parts = page.evaluate('openTimed("/docs/%s.htf")' % name)
            listed = page.evaluate('(() => { const t = performance.now(); const n = viewer.hotspots.length; '
                                   'return [n, performance.now() - t]; })()')
            count, opened = listed[0], opened + listed[1]
            zoom = page.evaluate('timed((i) => viewer.command(i % 2 ? 124 : 123), 10)')
            current, peak = browser.renderer_memory()
            core = page.evaluate('viewer._core.HEAPU8.length')
            figures[name] = (opened, count, zoom, peak, current, core)
            breakdown = parts
    opened, count, zoom, peak, current, core = figures['hotspots-1m']
    blank = figures['blank-2000x2000']
    above = (peak - blank[3]) / 1024
    marks = [mark for mark, missed in (('MISS 3 s', opened > 3000), ('MISS 50 ms', zoom > 50),
                                       ('MISS 300 MB', above > 300)) if missed]
    print('%d hotspots: available in %.0f ms, zoom step %.1f ms, %.0f MB above the page without them  %s' % (
        count, opened, zoom, above, ' '.join(marks)))
    print('        hotspots known after %.0f ms, first picture complete after %.0f ms' % (
        breakdown['hotspots'], breakdown['picture']))
    print('        after the zoom steps: the tab %.0f MB above the page without them, the page\'s core %.0f MB '
          '(%.0f MB without them)' % ((current - blank[4]) / 1024, core / 2**20, blank[5] / 2**20))


if __name__ == '__main__':
    sys.exit(main())
