#!/usr/bin/python3
"""The decoding worker (build/web/htf-decoder.js) in Debian's chromium,
reading a large tiled document with reduced levels through our range server:
the hotspots arrive while the server still holds back every pixel range, a
fit view and a 1:1 corner show the right pixels with a few per cent of the
file sent, the same document from a server without ranges gives the same
pixels, damaged range answers end in a clear error, a worker ended during
a held range read reads no more, and a file replaced on the server while it
is read ends with a clear error, through our server and through nginx.

    /usr/bin/python3 tests/web/test_worker_ranges.py BUILD_DIR [unittest arguments]

BUILD_DIR holds web/ and native/bench_document (scripts/build)."""

import base64
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, '..', '..'))
sys.path.insert(0, os.path.join(ROOT, 'tools', 'webtest'))

from browser import Browser  # noqa: E402
from nginxserver import NginxServer, available as nginx_available  # noqa: E402
from rangeserver import RangeServer  # noqa: E402

BUILD = None
SIZE, HOTSPOTS = 20000, 400
CHANGED = 'The document changed on the server while it was being read'

PAGE = '''<!DOCTYPE html><meta charset="utf-8"><title>worker</title><script type="module">
import { HotspotTable } from '/web/htf-hotspot-table.js';
window.log = [];
window.start = (src, options = {}) => {
  window.log = [];
  window.worker = new Worker('/web/htf-decoder.js', { type: 'module' });
  worker.onmessage = (e) => {
    const m = e.data;
    if (m.pixels) m.pixels = btoa(String.fromCharCode(...new Uint8Array(m.pixels)));
    delete m.palette;
    if (m.hotspots) m.hotspots = Array.from(new HotspotTable(m.hotspots));
    log.push(m);
  };
  worker.postMessage({ type: 'open', id: 1, src, ...options });
};
window.until = (test, ms = 30000) => new Promise((resolve, reject) => {
  const t0 = performance.now();
  const poll = () => {
    const found = log.find(test);
    if (found) return resolve(found);
    if (performance.now() - t0 > ms) return reject(new Error('timed out; log: ' + JSON.stringify(log.map((m) => m.type))));
    setTimeout(poll, 10);
  };
  poll();
});
window.view = (v, scale, left, top, right, bottom) => {
  worker.postMessage({ type: 'view', id: 1, view: v, scale, left, top, right, bottom });
  return until((m) => (m.type === 'view-done' && m.view === v) || m.type === 'error');
};
</script>'''


def glyph_bits(column, line):
    h = ((column * 73856093) ^ (line * 19349663)) & 0xFFFFFFFF
    h = ((h ^ (h >> 13)) * 0x5bd1e995) & 0xFFFFFFFF
    return h ^ (h >> 15)


def text_pixel(x, y):
    u, v = x % 1000, y % 1000
    if u < 150 or u >= 850 or v < 150 or v >= 850 or v % 24 >= 12:
        return False
    bits = glyph_bits(x // 8, y // 24)
    if (bits >> 5 & 7) == 0:
        return False
    c, r = x % 8, v % 24
    if r in (2, 6, 10) and 1 <= c <= 6 and (bits >> (r // 4)) & 1:
        return True
    return 2 <= r <= 10 and ((c == 1 and bits & 8) or (c == 6 and bits & 16))


def expected_tile(x0, y0, width, height):
    """The drawing of bench_document, packed as the tile's rows."""
    rows = []
    for y in range(y0, y0 + height):
        row = bytearray((width + 7) // 8)
        for x in range(x0, x0 + width):
            if x % 1000 < 4 or y % 1000 < 4 or (x - y) % 1000 in (999, 0, 1) or text_pixel(x, y):
                row[(x - x0) // 8] |= 0x80 >> ((x - x0) % 8)
        rows.append(bytes(row))
    return b''.join(rows)


def first_pixel_offset(path):
    """The smallest tile offset of any directory (classic little-endian TIFF)."""
    with open(path, 'rb') as f:
        data = f.read(4 << 20)
    ifd, lowest = struct.unpack_from('<I', data, 4)[0], None
    while ifd:
        count = struct.unpack_from('<H', data, ifd)[0]
        for e in range(count):
            tag, kind, n, value = struct.unpack_from('<HHII', data, ifd + 2 + 12 * e)
            if tag == 324:
                first = value if n == 1 else struct.unpack_from('<I', data, value)[0]
                lowest = first if lowest is None else min(lowest, first)
        ifd = struct.unpack_from('<I', data, ifd + 2 + 12 * count)[0]
    return lowest


class WorkerRangesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix='htf-ranges-')
        cls.document = os.path.join(cls.folder, 'big.htf')
        subprocess.run([os.path.join(BUILD, 'native', 'bench_document'), cls.document, str(SIZE), '256',
                        str(HOTSPOTS)], check=True)
        with open(os.path.join(cls.folder, 'worker.html'), 'w') as f:
            f.write(PAGE)
        cls.size = os.path.getsize(cls.document)
        cls.pixels_at = first_pixel_offset(cls.document)
        cls.server = RangeServer(cls.folder, {'/web': os.path.join(BUILD, 'web')}).__enter__()
        if not nginx_available():
            raise RuntimeError('nginx is missing: run scripts/install-packages')
        cls.nginx = NginxServer(cls.folder, {'/web': os.path.join(BUILD, 'web')}).__enter__()
        cls.browser = Browser().__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.browser.__exit__(None, None, None)
        cls.nginx.__exit__(None, None, None)
        cls.server.__exit__(None, None, None)

    def setUp(self):
        self.server.ranges, self.server.damage = True, None
        self.server.release()
        self.page = self.browser.open(self.server.url('worker.html'))
        self.page.wait_for('typeof window.start === "function"')
        self.server.forget()

    def tearDown(self):
        self.server.release()
        self.page.evaluate('window.worker && worker.terminate()')
        self.page.close()

    def corner_and_fit(self):
        fit = self.page.evaluate('view(1, 0.0075, 0, 0, %d, %d)' % (SIZE, SIZE))   # 150 pixels: the 157 level
        self.assertEqual(fit['type'], 'view-done', fit)
        corner = self.page.evaluate('view(2, 1, 0, 0, 200, 200)')
        self.assertEqual(corner['type'], 'view-done', corner)
        tiles = self.page.evaluate('log.filter((m) => m.type === "tile")')
        return [t for t in tiles if t['view'] == 1], [t for t in tiles if t['view'] == 2]

    def test_hotspots_first_then_the_view_with_few_bytes(self):
        self.server.hold(self.pixels_at)
        self.page.evaluate('start("/big.htf")')
        opened = self.page.evaluate('until((m) => m.type === "hotspots" || m.type === "error")')
        self.assertEqual(opened['type'], 'hotspots', opened)
        self.assertEqual(len(opened['hotspots']), HOTSPOTS)
        self.assertEqual(opened['hotspots'][1]['reference'], 'cell-1-0')
        self.assertTrue(opened['ranged'])
        self.assertEqual((opened['width'], opened['height']), (SIZE, SIZE))
        self.assertEqual(opened['levels'][-1]['width'], 157)
        # Nothing from the pixels was sent before the hotspots were known.
        self.assertTrue(all(entry[1] and int(entry[1][6:].split('-')[0]) < self.pixels_at
                            for entry in self.server.entries('/big.htf')))
        self.server.release()
        fit, corner = self.corner_and_fit()
        self.assertEqual([(t['level'], t['width'], t['height']) for t in fit], [(7, 157, 157)])
        self.assertEqual([(t['level'], t['column'], t['row']) for t in corner], [(0, 0, 0)])
        self.assertEqual(base64.b64decode(corner[0]['pixels']), expected_tile(0, 0, 256, 256))
        sent = self.server.bytes_sent('/big.htf')
        print('\n  ranges: %d of %d bytes sent (%.2f %%) in %d requests' % (
            sent, self.size, 100.0 * sent / self.size, len(self.server.entries('/big.htf'))), file=sys.stderr)
        self.assertLess(sent, self.size * 0.05)

    def test_a_server_without_ranges_gives_the_same_pixels(self):
        self.server.ranges = False
        self.page.evaluate('start("/big.htf")')
        opened = self.page.evaluate('until((m) => m.type === "hotspots" || m.type === "error")')
        self.assertEqual(opened['type'], 'hotspots', opened)
        self.assertFalse(opened['ranged'])
        fit, corner = self.corner_and_fit()
        self.assertEqual(len(fit), 1)
        self.assertEqual(base64.b64decode(corner[0]['pixels']), expected_tile(0, 0, 256, 256))
        self.assertEqual(self.server.bytes_sent('/big.htf'), self.size)

    def test_damaged_range_answers_end_in_a_clear_error(self):
        for damage in ('short', 'wrong-range', 'no-range'):
            with self.subTest(damage=damage):
                self.page.evaluate('window.worker && worker.terminate()')
                self.server.damage, self.server.damage_after = damage, 1
                started = time.monotonic()
                self.page.evaluate('start("/big.htf")')
                self.page.evaluate('until((m) => m.type === "hotspots" || m.type === "error")')
                result = self.page.evaluate('view(1, 1, 0, 0, 2000, 2000)')
                self.assertEqual(result['type'], 'error', result)
                self.assertRegex(result['message'], r'could not be read')
                self.assertLess(time.monotonic() - started, 20)

    def test_a_file_replaced_while_it_is_read_ends_with_a_clear_error(self):
        replaced = os.path.join(self.folder, 'replaced.htf')
        for name, server in (('ours', self.server), ('nginx', self.nginx)):
            with self.subTest(server=name):
                shutil.copyfile(self.document, replaced)
                page = self.browser.open(server.url('worker.html'))
                try:
                    page.wait_for('typeof window.start === "function"')
                    page.evaluate('start("/replaced.htf")')
                    opened = page.evaluate('until((m) => m.type === "hotspots" || m.type === "error")')
                    self.assertEqual(opened['type'], 'hotspots', opened)
                    server.forget()
                    # A new version published under the same name: the same
                    # size, other pixels, a later time.
                    with open(replaced, 'r+b') as f:
                        f.seek(self.pixels_at)
                        data = f.read(1 << 20)
                        f.seek(self.pixels_at)
                        f.write(bytes(b ^ 0xFF for b in data))
                    stat = os.stat(replaced)
                    os.utime(replaced, (stat.st_atime, stat.st_mtime + 10))
                    result = page.evaluate('view(1, 1, 0, 0, 2000, 2000)')
                    self.assertEqual(result['type'], 'error', result)
                    self.assertEqual(result['message'], CHANGED)
                    self.assertFalse(page.evaluate('log.some((m) => m.type === "tile" && !m.error)'))
                    # The server was asked for the version read so far, and refused.
                    statuses = [entry[2] for entry in server.entries('/replaced.htf')]
                    self.assertIn(412, statuses)
                finally:
                    page.evaluate('window.worker && worker.terminate()')
                    page.close()

    def test_a_worker_ended_during_a_held_read_reads_no_more(self):
        self.page.evaluate('start("/big.htf")')
        self.page.evaluate('until((m) => m.type === "hotspots")')
        self.server.hold(self.pixels_at)
        self.page.evaluate('worker.postMessage({ type: "view", id: 1, view: 1, scale: 1, left: 0, top: 0, '
                           'right: 20000, bottom: 20000 })')
        time.sleep(0.5)
        self.page.evaluate('worker.terminate()')
        asked = self.server.asked_for('/big.htf')
        self.server.release()
        # Chromium ends a worker blocked in a synchronous request by failing
        # that request and stops its script only up to 2 s later: the worker
        # may ask once more for a range it was reading (a retry), never for a
        # new one, and nothing after that.
        time.sleep(3.0)
        later = self.server.asked_for('/big.htf')
        self.assertEqual(set(later), set(asked))
        self.assertLessEqual(len(later), len(asked) + 1)
        time.sleep(1.0)
        self.assertEqual(self.server.asked_for('/big.htf'), later)
        requests = len(later)
        self.assertLess(requests, 8)


if __name__ == '__main__':
    BUILD = os.path.abspath(sys.argv.pop(1))
    unittest.main()
