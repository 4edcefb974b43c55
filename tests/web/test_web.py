#!/usr/bin/python3
"""The <htf-viewer> element in a real browser: Debian's chromium, headless,
driven through its DevTools protocol (tools/webtest/browser.py), the pages
served from 127.0.0.1 by a server the test starts and stops.

    /usr/bin/python3 tests/web/test_web.py BUILD_DIR [unittest arguments]

BUILD_DIR holds web/ (scripts/build) and bin/webfixtures.exe, which writes
the documents and the Windows module reader's pixels of them (run under the
project's Wine prefix)."""

import base64
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, '..', '..'))
sys.path.insert(0, os.path.join(ROOT, 'tools', 'webtest'))

from browser import Browser, WebServer  # noqa: E402

BUILD = None
TABLE = os.path.join(ROOT, 'tests', 'data', 'view-geometry.txt')
TOOLBAR_HEIGHT, BORDER = 40, 1
FRAME_COLOUR = (0, 128, 128)
COMMANDS = {'zoomin': 123, 'zoomout': 124, 'magnifier': 125, 'pan': 126, 'fitwindow': 127, 'fitwidth': 128,
            'fitheight': 129, 'actual': 130, 'print': 131, 'pointer': 132}
BUTTON_NAMES = ['Pointer', 'Zoom in', 'Zoom out', 'Magnifier', 'Pan', 'Fit window', 'Fit height', 'Fit width',
                'Actual size', 'Print']

PAGE = '''<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>test</title>
<script type="module" src="/web/htf-viewer.js"></script>
<style>body { margin: 0; } iframe { position: absolute; left: 0; top: 700px; width: 300px; height: 100px; }</style>
</head><body>
<htf-viewer id="v" style="width:%(width)dpx;height:%(height)dpx" %(attributes)s></htf-viewer>
<iframe name="content" src="about:blank"></iframe>
<script>
window.seen = [];
const v = document.getElementById('v');
for (const name of ['htf-load', 'htf-error', 'htf-navigate'])
  v.addEventListener(name, (e) => window.seen.push({ name, detail: e.detail }));
window.viewer = v;
window.loadDocument = (src) => new Promise((resolve) => {
  const done = (e) => { v.removeEventListener('htf-load', done); v.removeEventListener('htf-error', done); resolve(e.type); };
  v.addEventListener('htf-load', done);
  v.addEventListener('htf-error', done);
  v.setAttribute('src', src);
});
window.frames2 = () => new Promise((resolve) => requestAnimationFrame(() => requestAnimationFrame(resolve)));
</script></body></html>'''


def parse_table(path):
    """The shared geometry table: (scroll bar size, [case])."""
    cases, bar = [], None
    with open(path) as f:
        for line in f:
            words = line.split()
            if not words or words[0].startswith('#'):
                continue
            if words[0] == 'scrollbar':
                bar = int(words[1])
            elif words[0] == 'case':
                cases.append({'name': words[1], 'viewport': (int(words[2]), int(words[3])),
                              'image': (int(words[4]), int(words[5])), 'steps': []})
            else:
                arrow = words.index('->')
                expected = words[arrow + 1:]
                cases[-1]['steps'].append({
                    'name': words[0], 'arguments': [int(w) for w in words[1:arrow]],
                    'scale': float(expected[0]), 'scaled': (int(expected[1]), int(expected[2])),
                    'bars': (expected[3] == '1', expected[4] == '1'),
                    'positions': (int(expected[5]), int(expected[6])), 'line': line.strip()})
    return bar, cases


def read_reference(path):
    with open(path, 'rb') as f:
        header = f.readline().split()
        return int(header[0]), int(header[1]), f.read()


class ElementTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix='htf-web-test-')
        cls.docs = os.path.join(cls.work, 'docs')
        os.mkdir(cls.docs)
        bar, cls.cases = parse_table(TABLE)
        cls.table_bar = bar
        sizes = sorted({'%dx%d' % c['image'] for c in cls.cases})
        env = dict(os.environ, WINEDEBUG='-all')
        fixtures = os.path.join(BUILD, 'bin', 'webfixtures.exe')
        subprocess.run(['wine', fixtures, 'Z:' + cls.docs.replace('/', '\\'), '--a0', '--blank'] + sizes,
                       check=True, env=env, timeout=600, stdin=subprocess.DEVNULL)
        cls.hotspots = {}
        with open(os.path.join(cls.docs, 'hotspots.txt')) as f:
            for line in f:
                name, l, t, r, b, ref = line.split()
                cls.hotspots.setdefault(name, []).append(((int(l), int(t), int(r), int(b)), ref))
        cls.server = WebServer(cls.work, {'/web': os.path.join(BUILD, 'web'), '/docs': cls.docs}).__enter__()
        cls.browser = Browser(width=1300, height=1000).__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.browser.__exit__(None, None, None)
        cls.server.__exit__(None, None, None)
        shutil.rmtree(cls.work, ignore_errors=True)

    # --- helpers ---

    def open_page(self, width=602, height=442, attributes='', name='page.html'):
        with open(os.path.join(self.work, name), 'w') as f:
            f.write(PAGE % {'width': width, 'height': height, 'attributes': attributes})
        page = self.browser.open(self.server.url(name))
        page.wait_for('window.viewer && customElements.get("htf-viewer") !== undefined')
        self.addCleanup(self.close_page, page)
        return page

    def close_page(self, page):
        try:
            self.browser.pages.remove(page)
            page.send('Page.close')
        except Exception:
            pass
        page.close()

    def load(self, page, doc):
        outcome = page.evaluate('loadDocument(%s)' % json.dumps('/docs/' + doc))
        page.evaluate('frames2()')
        return outcome

    def state(self, page):
        page.evaluate('frames2()')
        return page.evaluate('viewer.viewState')

    def canvas_origin(self):
        # The view starts below the toolbar, inside its border.
        return BORDER, TOOLBAR_HEIGHT + BORDER

    def pixel_block(self, page, x, y, w, h):
        """The screen's RGBA bytes of a page rectangle."""
        width, height, data = page.screenshot((x, y, w, h))
        self.assertEqual((width, height), (w, h))
        return data

    def tip(self, page):
        return page.evaluate('''(() => { const t = viewer.shadowRoot.querySelector('.tip');
            return t.style.display === 'block' ? t.textContent : null; })()''')

    # --- the picture ---

    def test_picture_at_actual_size_is_the_readers_pixels(self):
        page = self.open_page()
        for name in ('bilevel', 'palette', 'rgb'):
            with self.subTest(document=name):
                self.assertEqual(self.load(page, name + '.htf'), 'htf-load')
                page.evaluate('viewer.command(130)')
                s = self.state(page)
                self.assertEqual(s['scale'], 1.0)
                w, h, expected = read_reference(os.path.join(self.docs, name + '.rgba'))
                self.assertEqual((s['scaledWidth'], s['scaledHeight']), (w, h))
                ox, oy = self.canvas_origin()
                got = self.pixel_block(page, ox + s['imageLeft'], oy + s['imageTop'], w, h)
                differences = sum(1 for i in range(0, len(expected), 4) if got[i:i + 3] != expected[i:i + 3])
                self.assertEqual(differences, 0, '%s: %d pixels differ from the reader' % (name, differences))

    def test_geometry_follows_the_shared_table(self):
        self.assertEqual(self.table_bar, 17)
        for case in self.cases:
            vw, vh = case['viewport']
            page = self.open_page(vw + 2 * BORDER, vh + TOOLBAR_HEIGHT + 2 * BORDER, name='geometry.html')
            self.assertEqual(self.load(page, 'blank-%dx%d.htf' % case['image']), 'htf-load')
            for step in case['steps']:
                name, args = step['name'], step['arguments']
                if name in COMMANDS:
                    page.evaluate('viewer.command(%d)' % COMMANDS[name])
                elif name in ('hscroll', 'vscroll'):
                    page.evaluate('viewer.scrollBar(%s, %d, %d)' % (
                        json.dumps('horizontal' if name == 'hscroll' else 'vertical'), args[0], args[1]))
                elif name == 'resize':
                    page.evaluate('viewer.style.width = "%dpx"; viewer.style.height = "%dpx"' % (
                        args[0] + 2 * BORDER, args[1] + TOOLBAR_HEIGHT + 2 * BORDER))
                    page.evaluate('frames2()')
                s = self.state(page)
                where = '%s: %s' % (case['name'], step['line'])
                self.assertAlmostEqual(s['scale'], step['scale'], places=6, msg=where)
                self.assertEqual((s['scaledWidth'], s['scaledHeight']), step['scaled'], where)
                self.assertEqual((s['horizontalBar'], s['verticalBar']), step['bars'], where)
                self.assertEqual((s['horizontalPosition'], s['verticalPosition']), step['positions'], where)
            self.close_page(page)

    # --- pointer, tooltip, navigation ---

    def hotspot_centre(self, s, index):
        r = s['hotspots'][index]
        ox, oy = self.canvas_origin()
        return (ox + (r['left'] + r['right']) // 2 - s['horizontalPosition'],
                oy + (r['top'] + r['bottom']) // 2 - s['verticalPosition'])

    def test_pointer_over_a_hotspot_outlines_it_and_shows_its_tooltip(self):
        page = self.open_page()
        self.load(page, 'bilevel.htf')
        page.evaluate('viewer.command(130)')
        s = self.state(page)
        x, y = self.hotspot_centre(s, 0)
        page.move(x, y)
        page.evaluate('frames2()')   # the outline at once, before the tooltip's delay
        r = s['hotspots'][0]
        ox, oy = self.canvas_origin()
        left, top = ox + r['left'], oy + r['top']
        w, h = r['right'] - r['left'], r['bottom'] - r['top']
        width, height, block = page.screenshot((left, top, w, h))

        def at(px, py):
            i = (py * width + px) * 4
            return tuple(block[i:i + 3])
        # The outline's pixels, as the platform draws a rectangle with a pen
        # of width 1: from the left and top edges to one pixel before the
        # right and bottom edges.
        for px in range(0, w - 1, 7):
            self.assertEqual(at(px, 0), FRAME_COLOUR, 'top edge at %d' % px)
            self.assertEqual(at(px, h - 1), FRAME_COLOUR, 'bottom edge at %d' % px)
        for py in range(0, h - 1, 7):
            self.assertEqual(at(0, py), FRAME_COLOUR, 'left edge at %d' % py)
            self.assertEqual(at(w - 1, py), FRAME_COLOUR, 'right edge at %d' % py)
        self.assertNotEqual(at(1, h // 2 + 1), FRAME_COLOUR)   # one pixel wide
        page.wait_for('''viewer.shadowRoot.querySelector('.tip').style.display === 'block' ''', timeout=5)
        self.assertEqual(self.tip(page), 'Town hall \u2013 open Monday to Friday')
        # The tooltip is drawn: its pale yellow background is on screen.
        tip = page.evaluate('''(() => { const r = viewer.shadowRoot.querySelector('.tip').getBoundingClientRect();
            return [Math.round(r.left), Math.round(r.top), Math.round(r.width), Math.round(r.height)]; })()''')
        tw, th, tblock = page.screenshot((tip[0] + 2, tip[1] + 2, 4, 4))
        self.assertEqual(tuple(tblock[0:3]), (255, 255, 225))
        # Leaving the hotspot takes both away.
        page.move(ox + 2, oy + s['imageTop'] + s['scaledHeight'] - 2)
        page.wait_for('''viewer.shadowRoot.querySelector('.tip').style.display === 'none' ''', timeout=5)
        width, height, block = page.screenshot((left, top, w, h))
        self.assertNotEqual(at(w // 2, 0), FRAME_COLOUR)

    def click_hotspots(self, page, cases):
        s = self.state(page)
        for index, expected in cases:
            with self.subTest(hotspot=index):
                before = page.evaluate('window.seen.filter((e) => e.name === "htf-navigate").length')
                x, y = self.hotspot_centre(s, index)
                page.move(x, y)
                page.click(x, y)
                if expected:
                    page.wait_for('''(() => { try { return frames.content.location.href.endsWith(%s); }
                                     catch (e) { return false; } })()''' % json.dumps(expected))
                    self.assertTrue(self.server.requested(expected), self.server.requests)
                    # The page itself stays where it is.
                    self.assertTrue(page.evaluate('location.pathname').endswith('.html'))
                else:
                    time.sleep(0.5)
                    after = page.evaluate('window.seen.filter((e) => e.name === "htf-navigate").length')
                    self.assertEqual(after, before)

    def test_a_click_requests_the_url_in_the_frame(self):
        page = self.open_page(attributes='frame="content"')
        self.load(page, 'rgb.htf')
        page.evaluate('viewer.command(130)')
        self.server.forget()
        # With the default template every reference stays in the query.
        self.click_hotspots(page, [(0, '/servlets/ZevuRedor?ShtmlFile=815'),
                                   (1, '/servlets/ZevuRedor?ShtmlFile=816&view=2'),
                                   (3, None)])   # a line break in the reference: refused
        self.assertFalse(self.server.requested('817'), self.server.requests)

    def test_a_script_reference_requests_nothing(self):
        # A template that is the reference alone lets a document name any URL:
        # only relative and web addresses are followed.
        page = self.open_page(attributes='frame="content" template="#HSREF#"', name='bare.html')
        self.load(page, 'rgb.htf')
        page.evaluate('viewer.command(130)')
        self.server.forget()
        self.click_hotspots(page, [(2, None), (0, '/815')])
        self.assertEqual(page.evaluate('window.seen.filter((e) => e.name === "htf-navigate").map((e) => e.detail.url)'),
                         [self.server.url('815')])
        self.assertFalse(self.server.requested('alert'), self.server.requests)

    def test_tab_and_enter_follow_hotspots_from_the_keyboard(self):
        page = self.open_page(attributes='frame="content"')
        self.load(page, 'palette.htf')
        page.evaluate('viewer.command(130)')
        self.server.forget()
        # Tab from the page's start: the ten toolbar buttons, the view, then the hotspots.
        names = []
        for _ in range(12):
            page.key('Tab')
            names.append(page.evaluate('''(() => { const a = viewer.shadowRoot.activeElement;
                return a ? (a.getAttribute('aria-label') || a.className) : null; })()'''))
        self.assertEqual(names[:10], BUTTON_NAMES)
        self.assertEqual(names[10], 'Hotspot document')
        self.assertEqual(names[11], 'Town hall \u2013 open Monday to Friday')
        page.wait_for('''viewer.shadowRoot.querySelector('.tip').style.display === 'block' ''', timeout=5)
        self.assertEqual(self.tip(page), 'Town hall \u2013 open Monday to Friday')
        page.key('Tab')
        self.assertEqual(page.evaluate('viewer.shadowRoot.activeElement.getAttribute("aria-label")'), 'Library')
        page.key('Enter')
        page.wait_for('''(() => { try { return frames.content.location.href.includes('816&view=2'); }
                         catch (e) { return false; } })()''')
        self.assertTrue(self.server.requested('/servlets/ZevuRedor?ShtmlFile=816&view=2'))
        page.key('Tab')
        page.key('Tab')   # the reference with a line break: Enter does nothing
        self.assertEqual(page.evaluate('viewer.shadowRoot.activeElement.getAttribute("aria-label")'), 'Broken reference')
        page.key('Enter')
        time.sleep(0.3)
        self.assertEqual(len(page.evaluate('window.seen.filter((e) => e.name === "htf-navigate")')), 1)
        page.key('Escape')
        self.assertIsNone(self.tip(page))

    def test_the_lens_shows_twice_the_screen(self):
        page = self.open_page()
        self.load(page, 'bilevel.htf')
        page.evaluate('viewer.command(130)')
        page.evaluate('viewer.command(125)')
        s = self.state(page)
        ox, oy = self.canvas_origin()
        px, py = s['imageLeft'] + 150, s['imageTop'] + 100
        before = self.pixel_block(page, ox, oy, 598, 398)
        page.move(ox + px, oy + py)
        page.mouse('mousePressed', ox + px, oy + py, button='left', buttons=1, click_count=1)
        page.evaluate('frames2()')
        lens = self.pixel_block(page, ox + px - 116, oy + py - 80, 238, 171)

        def screen(x, y):
            i = (y * 598 + x) * 4
            return tuple(before[i:i + 3])

        def lens_at(x, y):
            i = (y * 238 + x) * 4
            return tuple(lens[i:i + 3])
        # Inside the lens's view, the 119 x 85 screen pixels around the
        # pointer stretched to 238 x 171, as the module stretches them.
        mismatches = []
        for ly in range(20, 150, 3):
            for lx in range(20, 218, 3):
                if (lx < 30 or lx > 202) and (ly < 30 or ly > 133):
                    continue   # the view's rounded corners belong to the frame
                sx, sy = px - 59 + lx * 119 // 238, py - 42 + (2 * ly + 1) * 85 // (2 * 171)
                # 85 rows to 171 is not a whole factor: a row may come from
                # its neighbour, as the browser's scaler rounds.
                if lens_at(lx, ly) not in (screen(sx, sy), screen(sx, sy - 1), screen(sx, sy + 1)):
                    mismatches.append((lx, ly))
        self.assertEqual(mismatches, [])
        # The frame: navy between the outer edge and the view.
        self.assertEqual(lens_at(116, 6), (0, 0, 128))
        page.mouse('mouseReleased', ox + px, oy + py, button='left', buttons=0, click_count=1)
        page.evaluate('frames2()')
        self.assertEqual(self.pixel_block(page, ox, oy, 598, 398), before)

    def test_every_toolbar_command(self):
        page = self.open_page()
        self.load(page, 'blank-1000x2000.htf')
        buttons = page.evaluate('''[...viewer.shadowRoot.querySelectorAll('.toolbar button')].map((b) => {
            const r = b.getBoundingClientRect();
            return [b.getAttribute('aria-label'), r.left + r.width / 2, r.top + r.height / 2]; })''')
        self.assertEqual([b[0] for b in buttons], BUTTON_NAMES)
        at = {name: (x, y) for name, x, y in buttons}

        def press(name):
            page.click(*at[name])
            return self.state(page)
        s = self.state(page)
        self.assertAlmostEqual(s['scale'], 0.2)
        self.assertAlmostEqual(press('Zoom in')['scale'], 0.25)
        self.assertAlmostEqual(press('Zoom out')['scale'], 0.2)
        self.assertAlmostEqual(press('Actual size')['scale'], 1.0)
        self.assertAlmostEqual(press('Fit width')['scale'], 0.58)
        self.assertAlmostEqual(press('Fit height')['scale'], 0.2)
        self.assertAlmostEqual(press('Zoom in')['scale'], 0.25)
        self.assertAlmostEqual(press('Fit window')['scale'], 0.2)
        pressed = '''[...viewer.shadowRoot.querySelectorAll('.toolbar button[aria-pressed="true"]')]
                     .map((b) => b.getAttribute('aria-label'))'''
        press('Magnifier')
        self.assertEqual(page.evaluate(pressed), ['Magnifier'])
        self.assertEqual(page.evaluate('viewer.mode'), 1)
        press('Pan')
        self.assertEqual(page.evaluate(pressed), ['Pan'])
        press('Pan')
        self.assertEqual(page.evaluate(pressed), [])
        self.assertEqual(page.evaluate('viewer.mode'), 0)
        press('Magnifier')
        press('Pointer')
        self.assertEqual(page.evaluate(pressed), [])
        # Pan drags the picture at 1:1.
        press('Actual size')
        press('Pan')
        ox, oy = self.canvas_origin()
        page.move(ox + 300, oy + 200)
        page.mouse('mousePressed', ox + 300, oy + 200, button='left', buttons=1, click_count=1)
        page.move(ox + 250, oy + 120, buttons=1)
        page.mouse('mouseReleased', ox + 250, oy + 120, button='left', buttons=0, click_count=1)
        s = self.state(page)
        self.assertEqual((s['horizontalPosition'], s['verticalPosition']), (50, 80))
        press('Pointer')
        # Print: one page of the visible part (the client area at 1:1).
        press('Print')
        page.wait_for('viewer.dataset.printed === "1"')
        self.assertEqual(page.evaluate('viewer.dataset.printedSize'), '%dx%d' % (s['clientWidth'], s['clientHeight']))

    def test_tab_to_a_hotspot_outside_the_view_scrolls_it_into_view(self):
        page = self.open_page(202, 182)   # a 200 x 140 view on a 300 x 200 image at 1:1 ...
        self.load(page, 'bilevel.htf')
        page.evaluate('viewer.command(130)')
        page.evaluate("viewer.scrollBar('vertical', 3)")   # ... scrolled down a page
        before = self.state(page)
        self.assertGreater(before['verticalPosition'], 0)
        page.evaluate('viewer.shadowRoot.querySelector(".view").focus()')
        page.key('Tab')   # the first hotspot, at the top of the image
        s = self.state(page)
        r = s['hotspots'][0]
        self.assertLessEqual(s['verticalPosition'], r['top'])
        self.assertEqual(page.evaluate('viewer.shadowRoot.querySelector(".view").scrollTop'), 0)
        # The link lies over its hotspot on screen.
        link = page.evaluate('''(() => { const a = viewer.shadowRoot.activeElement.getBoundingClientRect();
            const c = viewer.shadowRoot.querySelector('canvas.picture').getBoundingClientRect();
            return [a.left - c.left, a.top - c.top]; })()''')
        self.assertEqual(link, [r['left'] - s['horizontalPosition'], r['top'] - s['verticalPosition']])

    def test_the_scroll_bars_answer_the_pointer(self):
        page = self.open_page()
        self.load(page, 'blank-1000x2000.htf')
        page.evaluate('viewer.command(130)')
        s = self.state(page)
        self.assertEqual((s['horizontalBar'], s['verticalBar']), (True, True))
        bar = page.evaluate('''(() => { const r = viewer.shadowRoot.querySelector('.bar.v').getBoundingClientRect();
            return [r.left, r.top, r.width, r.height]; })()''')
        x = bar[0] + bar[2] / 2
        page.click(x, bar[1] + bar[3] - 5)      # the arrow at the bottom: one line
        self.assertEqual(self.state(page)['verticalPosition'], 5)
        page.click(x, bar[1] + bar[3] - 40)     # the track below the thumb: one page
        self.assertEqual(self.state(page)['verticalPosition'], 405)
        page.click(x, bar[1] + 5)               # the arrow at the top
        self.assertEqual(self.state(page)['verticalPosition'], 400)
        # Dragging the thumb to the end of the track reaches the last position.
        thumb = page.evaluate('''(() => { const r = viewer.shadowRoot.querySelector('.bar.v .thumb').getBoundingClientRect();
            return [r.left + r.width / 2, r.top + r.height / 2]; })()''')
        page.mouse('mousePressed', thumb[0], thumb[1], button='left', buttons=1, click_count=1)
        page.move(thumb[0], thumb[1] + 1000, buttons=1)
        page.mouse('mouseReleased', thumb[0], thumb[1] + 1000, button='left', buttons=0, click_count=1)
        self.assertEqual(self.state(page)['verticalPosition'], 2000 - 400 + 1)

    def test_wheel_scrolls_and_zooms(self):
        page = self.open_page()
        self.load(page, 'blank-1000x2000.htf')
        ox, oy = self.canvas_origin()
        s = self.state(page)
        page.wheel(ox + 300, oy + 200, 0, 100)   # fitted, nothing to scroll: the page may take it
        self.assertEqual(self.state(page)['verticalPosition'], 0)
        page.evaluate('viewer.command(130)')
        page.wheel(ox + 300, oy + 200, 0, 100)
        self.assertEqual(self.state(page)['verticalPosition'], 15)
        page.wheel(ox + 300, oy + 200, 0, -100, modifiers=2)   # Ctrl: zoom in, point kept
        s = self.state(page)
        self.assertAlmostEqual(s['scale'], 1.05)
        # Image point (300, 215) was under the pointer; at 1.05 it is at (315, 225.75).
        self.assertEqual((s['horizontalPosition'], s['verticalPosition']), (15, 26))
        # Shift+wheel scrolls sideways.
        page.wheel(ox + 300, oy + 200, 0, 100, modifiers=8)
        self.assertEqual(self.state(page)['horizontalPosition'], 30)

    def test_keys_zoom_scroll_and_fit(self):
        page = self.open_page()
        self.load(page, 'blank-1000x2000.htf')
        page.evaluate('viewer.shadowRoot.querySelector(".view").focus()')
        steps = [('+', lambda s: self.assertAlmostEqual(s['scale'], 0.25)),
                 ('-', lambda s: self.assertAlmostEqual(s['scale'], 0.2)),
                 ('1', lambda s: self.assertEqual(s['scale'], 1.0)),
                 ('ArrowDown', lambda s: self.assertEqual(s['verticalPosition'], 5)),
                 ('ArrowRight', lambda s: self.assertEqual(s['horizontalPosition'], 5)),
                 # As far as a pan drag goes: range - page, the pages measured
                 # before the bars were shown (600 x 400).
                 ('End', lambda s: self.assertEqual((s['horizontalPosition'], s['verticalPosition']),
                                                    (1000 - 600, 2000 - 400))),
                 ('Home', lambda s: self.assertEqual((s['horizontalPosition'], s['verticalPosition']), (0, 0))),
                 ('0', lambda s: self.assertAlmostEqual(s['scale'], 0.2))]
        for key, check in steps:
            with self.subTest(key=key):
                page.key(key)
                check(self.state(page))

    def test_the_lens_below_scale_one_samples_the_image_at_twice_the_scale(self):
        page = self.open_page(1002, 842)
        self.load(page, 'a0.htf')
        page.evaluate('viewer.command(125)')
        s = self.state(page)
        ox, oy = self.canvas_origin()
        # Over the drawing's top-left corner: the grid's first lines (image
        # columns and rows 0-2, 500-502) are at lens pixels 2 x scale apart.
        px, py = s['imageLeft'] + 10, 10
        page.move(ox + px, oy + py)
        page.mouse('mousePressed', ox + px, oy + py, button='left', buttons=1, click_count=1)
        page.evaluate('frames2()')
        w, h, lens = page.screenshot((ox + px - 116, oy + py - 80, 238, 171))
        page.mouse('mouseReleased', ox + px, oy + py, button='left', buttons=0, click_count=1)

        def at(x, y):
            i = (y * w + x) * 4
            return tuple(lens[i:i + 3])
        scale = s['scale']
        # The image's left edge is about 10 / scale image pixels left of the
        # pointer, 20 lens pixels: left of it the lens is grey (past the
        # image), there the first grid column (one pixel wide) is dark.
        edge = next(x for x in range(80, 116) if at(x, 100) != (192, 192, 192))
        self.assertLessEqual(abs(edge - 96), 4)
        self.assertLess(at(edge, 100)[0], 128)
        self.assertGreater(at(edge + 3, 100)[0], 128)
        # The next grid column, 500 image pixels on: 500 x 2 x scale lens pixels further.
        x = edge + round(500 * 2 * scale)
        self.assertTrue(any(at(c, 100)[0] < 128 for c in range(x - 2, x + 3)), [at(c, 100) for c in range(x - 2, x + 3)])

    # --- errors, memory, the big drawing ---

    def test_a_damaged_document_shows_the_error_and_the_element_stays_usable(self):
        page = self.open_page()
        self.assertEqual(self.load(page, 'damaged.htf'), 'htf-error')
        text = page.evaluate('''(() => { const e = viewer.shadowRoot.querySelector('.error');
            return e.style.display === 'flex' ? e.textContent : ''; })()''')
        self.assertIn('could not be shown', text)
        self.assertIn('Error', text)
        self.assertEqual(self.load(page, 'missing.htf'), 'htf-error')
        self.assertIn('404', page.evaluate('viewer.shadowRoot.querySelector(".error").textContent'))
        # Larger than the 1 GiB an image may take here: the module's notice.
        self.assertEqual(self.load(page, 'huge.htf'), 'htf-error')
        self.assertEqual(page.evaluate('viewer.shadowRoot.querySelector(".error").textContent'),
                         'This image is too large to show: 60000 \u00D7 60000 pixels')
        self.assertEqual(self.load(page, 'rgb.htf'), 'htf-load')
        self.assertEqual(page.evaluate('viewer.shadowRoot.querySelector(".error").style.display'), 'none')
        self.assertEqual(self.state(page)['scaledWidth'] > 0, True)

    def test_fifty_documents_one_after_another_leave_memory_flat(self):
        page = self.open_page()
        docs = ['bilevel.htf', 'palette.htf', 'rgb.htf', 'blank-1000x2000.htf', 'damaged.htf']
        for i in range(10):
            self.load(page, docs[i % len(docs)])
        page.send('HeapProfiler.collectGarbage')
        start, _ = self.browser.renderer_memory()
        for i in range(50):
            self.assertIn(self.load(page, docs[i % len(docs)]), ('htf-load', 'htf-error'))
        page.send('HeapProfiler.collectGarbage')
        time.sleep(0.5)
        end, _ = self.browser.renderer_memory()
        self.assertLess(end - start, 40 * 1024, 'renderer memory grew from %d to %d KiB' % (start, end))

    def test_the_a0_drawing_opens_and_shows_its_lines(self):
        page = self.open_page(1002, 842)
        started = time.monotonic()
        self.assertEqual(self.load(page, 'a0.htf'), 'htf-load')
        opened = time.monotonic() - started
        s = self.state(page)
        self.assertEqual((s['scaledWidth'], s['scaledHeight']), (566, 800))
        ox, oy = self.canvas_origin()
        w, h, block = page.screenshot((ox + s['imageLeft'], oy, s['scaledWidth'], s['scaledHeight']))

        def dark(x, y):
            i = (y * w + x) * 4
            return block[i] < 128
        # The grid (every 500 pixels, 3 pixels thick, about 21 on screen)
        # keeps its lines when shrunk 23 times: whole dark rows and columns.
        rows = [y for y in range(h) if sum(dark(x, y) for x in range(0, w, 5)) > (w // 5) * 0.9]
        columns = [x for x in range(w) if sum(dark(x, y) for y in range(0, h, 5)) > (h // 5) * 0.9]
        self.assertGreaterEqual(len(rows), 30)
        self.assertGreaterEqual(len(columns), 20)
        self.assertLess(opened, 30)


def main():
    global BUILD
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    BUILD = os.path.abspath(sys.argv[1])
    if not os.path.exists(os.path.join(BUILD, 'web', 'htf-viewer.js')):
        print('test_web: %s/web is not built (scripts/build)' % BUILD, file=sys.stderr)
        return 1
    program = unittest.main(argv=[sys.argv[0]] + sys.argv[2:], exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == '__main__':
    sys.exit(main())
