#!/usr/bin/python3
"""One table of the <htf-viewer> element's checks, run in one browser engine:
Chromium (DevTools protocol), Firefox ESR (WebDriver BiDi) or WebKitGTK
(WebKitWebDriver), the last two in windows on a virtual display of their
own (tools/webtest/engines.py). Every check also fails on any warning or
error on the page's console.

    /usr/bin/python3 tests/web/test_engines.py BUILD_DIR ENGINE [ROW ...]

BUILD_DIR holds web/ (scripts/build), bin/webfixtures.exe and
bin/htfmake.exe (run under the project's Wine prefix) and
native/bench_document."""

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
sys.path.insert(0, HERE)

from browser import WebServer  # noqa: E402
from engines import ENGINES, EngineError, VirtualDisplay, engine  # noqa: E402
from rangeserver import RangeServer  # noqa: E402
from test_web import PAGE_SCRIPT, level_bits, read_reference  # noqa: E402

BUILD = ENGINE = None
TOOLBAR_HEIGHT, BORDER = 40, 1
ORIGIN = (BORDER, TOOLBAR_HEIGHT + BORDER)   # the view's top-left corner in the page
FRAME_COLOUR = (0, 128, 128)
TIP_BACKGROUND = (255, 255, 225)
LEVELS_SIZE, LEVELS_FIT = 4000, 500   # the levelled drawing, and its level 8 times smaller

ALL = ENGINES
# The table: each check and the engines it runs in. WebKitGTK's WebDriver
# turns touch input into mouse input, and has no way to set the device pixel
# ratio of a running browser.
TABLE = [
    ('picture_at_actual_size_is_the_readers_pixels', ALL),
    ('hover_outlines_the_hotspot_and_shows_its_tooltip', ALL),
    ('a_click_follows_into_the_page_itself_and_into_a_named_frame', ALL),
    ('a_new_window_from_a_hotspot_has_no_opener', ALL),
    ('a_cancelled_navigation_requests_nothing', ALL),
    ('tab_and_enter_follow_into_the_named_frame', ALL),
    ('the_page_api', ALL),
    ('reading_with_and_without_ranges', ALL),
    ('the_strict_page', ALL),
    ('a_list_row_loses_its_mark_when_the_pointer_leaves', ALL),
    ('the_view_kept_in_the_address_comes_back_after_a_reload', ALL),
    ('a_touch_move_over_a_hotspot_scrolls_and_follows_nothing', ('chromium', 'firefox')),
    ('the_outline_at_device_pixel_ratio_two_is_two_pixels_thick', ('chromium', 'firefox')),
]

PAGE = '''<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>engine test</title><link rel="icon" href="data:,">
<script src="/problems.js"></script>
<script type="module" src="/web/htf-viewer.js"></script>
<link rel="stylesheet" href="/page.css">
</head><body>
<htf-viewer id="v" template="/followed.html?ShtmlFile=#HSREF#" %(attributes)s></htf-viewer>%(extra)s
<iframe name="content" src="about:blank"></iframe>
<script src="/page.js"></script>
</body></html>'''

# Loaded first by every page: what the page's own console and uncaught errors
# say, for the engines whose driver hands out no console.
PROBLEMS_JS = '''window.pageProblems = [];
for (const level of ['warn', 'error']) {
  const original = console[level];
  console[level] = (...args) => { window.pageProblems.push(`console.${level}: ${args.join(' ')}`); original.apply(console, args); };
}
addEventListener('error', (e) => window.pageProblems.push(`uncaught: ${e.message}`));
addEventListener('unhandledrejection', (e) => window.pageProblems.push(`unhandled rejection: ${e.reason}`));
document.addEventListener('securitypolicyviolation', (e) => window.pageProblems.push(`policy: ${e.violatedDirective} ${e.blockedURI}`));
'''

PAGE_CSS = '''body { margin: 0 }
#v { width: 602px; height: 442px }
#v.small { width: 202px; height: 182px }
#v.levels { width: %dpx; height: %dpx }
iframe { position: absolute; left: 0; top: 700px; width: 300px; height: 100px }
#parts { position: absolute; left: 700px; top: 10px; margin: 0 }
#parts li { height: 30px }
''' % (LEVELS_FIT + 2 * BORDER, LEVELS_FIT + TOOLBAR_HEIGHT + 2 * BORDER)

PAGE_JS = PAGE_SCRIPT + '''window.named = (suffix) => { try { return frames.content.location.href.endsWith(suffix); } catch (e) { return false; } };
'''

STRICT_POLICY = ("default-src 'none'; script-src 'self' 'wasm-unsafe-eval'; connect-src 'self'; "
                 "img-src 'self' data:; worker-src 'self'; style-src 'self'; "
                 "require-trusted-types-for 'script'; trusted-types htf-viewer")


class EngineTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix='htf-engine-test-')
        cls.docs = os.path.join(cls.work, 'docs')
        os.mkdir(cls.docs)
        env = dict(os.environ, WINEDEBUG='-all')
        subprocess.run(['wine', os.path.join(BUILD, 'bin', 'webfixtures.exe'), 'Z:' + cls.docs.replace('/', '\\')],
                       check=True, env=env, timeout=600, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        subprocess.run([os.path.join(BUILD, 'native', 'bench_document'), os.path.join(cls.docs, 'levels.htf'),
                        str(LEVELS_SIZE), '256', '4'], check=True, stdout=subprocess.DEVNULL)
        cls.hotspots = {}
        with open(os.path.join(cls.docs, 'hotspots.txt')) as f:
            for line in f:
                name, left, top, right, bottom, ref = line.split()
                cls.hotspots.setdefault(name, []).append(((int(left), int(top), int(right), int(bottom)), ref))
        for name, text in (('problems.js', PROBLEMS_JS), ('page.css', PAGE_CSS), ('page.js', PAGE_JS)):
            with open(os.path.join(cls.work, name), 'w') as f:
                f.write(text)
        # What the hotspots lead to: a page, so that following one logs no error.
        with open(os.path.join(cls.work, 'followed.html'), 'w') as f:
            f.write('<!DOCTYPE html><meta charset="utf-8"><link rel="icon" href="data:,"><title>followed</title>\n')
        extra = {'/web': os.path.join(BUILD, 'web'), '/docs': cls.docs}
        cls.server = WebServer(cls.work, extra, headers={'strict.html': {'Content-Security-Policy': STRICT_POLICY}})
        cls.server.__enter__()
        cls.ranges = RangeServer(cls.work, extra).__enter__()
        cls.display = VirtualDisplay().__enter__() if ENGINE != 'chromium' else None
        cls.browser = engine(ENGINE).__enter__()
        print('\n  %s' % cls.browser.version, file=sys.stderr)

    @classmethod
    def tearDownClass(cls):
        cls.browser.__exit__(None, None, None)
        if cls.display:
            cls.display.__exit__(None, None, None)
        cls.ranges.__exit__(None, None, None)
        cls.server.__exit__(None, None, None)
        shutil.rmtree(cls.work, ignore_errors=True)

    # --- helpers ---

    def open_page(self, attributes='', extra='', name='page.html', server=None):
        with open(os.path.join(self.work, name), 'w') as f:
            f.write(PAGE % {'attributes': attributes, 'extra': extra})
        page = self.browser.open((server or self.server).url(name))
        page.wait_for('window.viewer && customElements.get("htf-viewer") !== undefined')
        self.addCleanup(page.close)
        # The last cleanup to be added runs first: the console is read
        # while the page is still open.
        self.addCleanup(self.assert_quiet, page)
        return page

    def assert_quiet(self, page):
        self.assertEqual(page.problems(), [], '%s: the console has warnings or errors' % ENGINE)

    def load(self, page, doc, actual_size=True):
        self.assertEqual(page.evaluate('loadDocument(%s)' % json.dumps('/docs/' + doc)), 'htf-load')
        if actual_size:
            page.evaluate('viewer.command("actual-size")')
        return self.state(page)

    def state(self, page):
        page.evaluate('frames2()')
        return page.evaluate('viewer.viewState')

    def centre(self, state, index):
        r = state['hotspots'][index]
        return (ORIGIN[0] + (r['left'] + r['right']) // 2 - state['horizontalPosition'],
                ORIGIN[1] + (r['top'] + r['bottom']) // 2 - state['verticalPosition'])

    def navigations(self, page):
        return page.evaluate('window.seen.filter((e) => e.name === "htf-navigate").map((e) => e.detail.url)')

    def tip(self, page):
        return page.evaluate('''(() => { const t = viewer.shadowRoot.querySelector('.tip');
            return t.style.display === 'block' ? t.textContent : null; })()''')

    def differing_pixels(self, page, state, name):
        w, h, expected = read_reference(os.path.join(self.docs, name + '.rgba'))
        self.assertEqual((state['scaledWidth'], state['scaledHeight']), (w, h))
        gw, gh, got = page.screenshot((ORIGIN[0] + state['imageLeft'], ORIGIN[1] + state['imageTop'], w, h))
        self.assertEqual((gw, gh), (w, h))
        return sum(1 for i in range(0, len(expected), 4) if got[i:i + 3] != expected[i:i + 3])

    def outline_rect(self, state, index):
        r = state['hotspots'][index]
        return (ORIGIN[0] + r['left'] - state['horizontalPosition'], ORIGIN[1] + r['top'] - state['verticalPosition'],
                r['right'] - r['left'], r['bottom'] - r['top'])

    # --- the table's checks ---

    def picture_at_actual_size_is_the_readers_pixels(self):
        page = self.open_page()
        for name in ('bilevel', 'palette', 'rgb'):
            with self.subTest(document=name):
                state = self.load(page, name + '.htf')
                self.assertEqual(state['scale'], 1.0)
                self.assertEqual(self.differing_pixels(page, state, name), 0)

    def hover_outlines_the_hotspot_and_shows_its_tooltip(self):
        page = self.open_page()
        state = self.load(page, 'bilevel.htf')
        page.move(*self.centre(state, 0))
        page.evaluate('frames2()')
        x, y, w, h = self.outline_rect(state, 0)
        width, _, block = page.screenshot((x, y, w, h))

        def at(px, py):
            i = (py * width + px) * 4
            return tuple(block[i:i + 3])
        # A rectangle drawn with a pen of width 1: the left and top edges,
        # and one pixel inside the right and bottom edges.
        for px in range(0, w - 1, 5):
            self.assertEqual((at(px, 0), at(px, h - 1)), (FRAME_COLOUR, FRAME_COLOUR), 'top and bottom at %d' % px)
        for py in range(0, h - 1, 5):
            self.assertEqual((at(0, py), at(w - 1, py)), (FRAME_COLOUR, FRAME_COLOUR), 'left and right at %d' % py)
        self.assertNotEqual(at(1, h // 2 + 1), FRAME_COLOUR)
        page.wait_for('''viewer.shadowRoot.querySelector('.tip').style.display === 'block' ''', timeout=5)
        self.assertEqual(self.tip(page), 'Town hall \u2013 open Monday to Friday')
        tip = page.evaluate('''(() => { const r = viewer.shadowRoot.querySelector('.tip').getBoundingClientRect();
            return [Math.round(r.left), Math.round(r.top)]; })()''')
        self.assertEqual(tuple(page.screenshot((tip[0] + 2, tip[1] + 2, 1, 1))[2][:3]), TIP_BACKGROUND)
        # Leaving the hotspot takes both away.
        page.move(ORIGIN[0] + 2, ORIGIN[1] + state['scaledHeight'] - 2)
        page.wait_for('''viewer.shadowRoot.querySelector('.tip').style.display === 'none' ''', timeout=5)
        page.evaluate('frames2()')
        self.assertNotEqual(tuple(page.screenshot((x + w // 2, y, 1, 1))[2][:3]), FRAME_COLOUR)

    def a_click_follows_into_the_page_itself_and_into_a_named_frame(self):
        page = self.open_page(attributes='frame="content"')
        state = self.load(page, 'rgb.htf')
        self.server.forget()
        page.move(*self.centre(state, 0))
        page.click(*self.centre(state, 0))
        page.wait_for('named("/followed.html?ShtmlFile=815")')
        self.assertTrue(page.evaluate('location.pathname').endswith('page.html'))
        # A reference the module's rules refuse (a line break) requests nothing.
        page.click(*self.centre(state, 3))
        time.sleep(0.3)
        self.assertEqual(len(self.navigations(page)), 1)
        # The page's own frame: the page goes.
        page = self.open_page(attributes='frame="_self"', name='self.html')
        state = self.load(page, 'rgb.htf')
        page.click(*self.centre(state, 1))
        page.wait_for('location.href.endsWith("/followed.html?ShtmlFile=816&view=2") && '
                      'document.readyState === "complete"')

    def a_new_window_from_a_hotspot_has_no_opener(self):
        # No frame of that name: a new browsing context, which cannot reach
        # back to the page, and is told nothing of where it came from.
        page = self.open_page(attributes='frame="elsewhere"')
        state = self.load(page, 'rgb.htf')
        before = self.browser.windows()
        page.click(*self.centre(state, 0))
        found = self.browser.in_new_window(before, 'location.href.endsWith("ShtmlFile=815") && '
                                                   'document.readyState === "complete" && '
                                                   '[window.opener === null, document.referrer]')
        self.assertEqual(found, [True, ''])
        page.evaluate('frames2()')
        self.assertFalse(page.evaluate('named("815")'))

    def a_cancelled_navigation_requests_nothing(self):
        page = self.open_page(attributes='frame="content"')
        state = self.load(page, 'rgb.htf')
        self.server.forget()
        page.evaluate('window.cancelNavigation = true')
        page.move(*self.centre(state, 1))
        page.click(*self.centre(state, 1))
        page.wait_for('window.seen.some((e) => e.name === "htf-navigate")')
        time.sleep(0.5)
        self.assertEqual(page.evaluate('window.seen.find((e) => e.name === "htf-navigate").detail'),
                         {'url': self.server.url('followed.html?ShtmlFile=816&view=2'), 'frame': 'content',
                          'ref': '816&view=2', 'text': 'Library'})
        self.assertFalse(self.server.requested('followed.html'), self.server.requests)
        self.assertEqual(page.evaluate('frames.content.location.href'), 'about:blank')

    def tab_and_enter_follow_into_the_named_frame(self):
        page = self.open_page(attributes='frame="content"')
        self.load(page, 'palette.htf')
        self.server.forget()
        # From the view (named after the document) the next Tab is the first hotspot.
        page.evaluate('viewer.shadowRoot.querySelector(\'[aria-label="palette.htf"]\').focus()')
        page.key('Tab')
        self.assertEqual(page.evaluate('viewer.shadowRoot.activeElement.getAttribute("aria-label")'),
                         'Town hall \u2013 open Monday to Friday')
        page.wait_for('''viewer.shadowRoot.querySelector('.tip').style.display === 'block' ''', timeout=5)
        page.key('Tab')
        self.assertEqual(page.evaluate('viewer.shadowRoot.activeElement.getAttribute("aria-label")'), 'Library')
        page.key('Enter')
        page.wait_for('named("/followed.html?ShtmlFile=816&view=2")')
        self.assertEqual(self.navigations(page), [self.server.url('followed.html?ShtmlFile=816&view=2')])
        page.key('Escape')
        self.assertIsNone(self.tip(page))

    def the_page_api(self):
        page = self.open_page(attributes='frame="content" frame-width="3"')
        state = self.load(page, 'rgb.htf')
        self.assertEqual(page.evaluate('[viewer.frame, viewer.frameWidth, viewer.tool]'), ['content', 3, 'pointer'])
        page.evaluate('(viewer.frameWidth = 1, viewer.tool = "pan")')
        self.assertEqual(page.evaluate('[viewer.getAttribute("frame-width"), viewer.getAttribute("tool")]'), ['1', 'pan'])
        page.evaluate('viewer.tool = "pointer"')
        # (the list of hotspots writes the reference with a line break as '-')
        self.assertEqual(page.evaluate('viewer.hotspots.map((h) => h.ref)')[:3],
                         [ref for _, ref in self.hotspots['rgb']][:3])
        self.assertEqual(page.evaluate('window.seen.filter((e) => e.name === "htf-load").map((e) => e.detail.hotspots)'),
                         [len(self.hotspots['rgb'])])
        # The pointer's enter and leave reach the document.
        page.move(*self.centre(state, 1))
        page.wait_for('window.seen.some((e) => e.name === "htf-hotspotenter" && e.detail.ref === "816&view=2")')
        page.move(ORIGIN[0] + 2, ORIGIN[1] + state['scaledHeight'] - 2)
        page.wait_for('window.seen.some((e) => e.name === "htf-hotspotleave" && e.detail.ref === "816&view=2")')
        # highlight outlines as the pointer does; null clears it.
        x, y, _, _ = self.outline_rect(state, 0)
        for ref, outlined in (('"815"', True), ('null', False)):
            page.evaluate('viewer.highlight(%s)' % ref)
            page.evaluate('frames2()')
            self.assertEqual(tuple(page.screenshot((x + 10, y, 1, 1))[2][:3]) == FRAME_COLOUR, outlined, ref)
        # zoomToHotspot: zoomed in, the hotspot in view.
        self.assertIs(page.evaluate('viewer.zoomToHotspot("815")'), True)
        view = page.evaluate('viewer.view')
        left, top, right, bottom = self.hotspots['rgb'][0][0]   # in image pixels
        self.assertGreater(view['scale'], 1)
        self.assertTrue(view['x'] <= left and view['x'] + view['width'] >= right, view)
        self.assertTrue(view['y'] <= top and view['y'] + view['height'] >= bottom, view)
        page.wait_for('window.seen.some((e) => e.name === "htf-viewchange")')

    def reading_with_and_without_ranges(self):
        page = self.open_page(attributes='class="levels"', server=self.ranges, name='levels.html')
        expected = level_bits(LEVELS_SIZE // LEVELS_FIT, LEVELS_FIT, LEVELS_SIZE)
        size = os.path.getsize(os.path.join(self.docs, 'levels.htf'))
        for ranges, share in ((True, 0.5), (False, 1.0)):
            with self.subTest(ranges=ranges):
                self.ranges.ranges = ranges
                self.ranges.forget()
                page.evaluate('viewer.removeAttribute("src")')
                state = self.load(page, 'levels.htf', actual_size=False)
                page.wait_for('viewer.complete', timeout=30)
                state = self.state(page)
                self.assertEqual((state['scaledWidth'], state['scaledHeight']), (LEVELS_FIT, LEVELS_FIT))
                _, _, data = page.screenshot((ORIGIN[0] + state['imageLeft'], ORIGIN[1] + state['imageTop'],
                                              LEVELS_FIT, LEVELS_FIT))
                dark = bytes(1 if data[i] < 128 else 0 for i in range(0, len(data), 4))
                self.assertEqual(sum(1 for a, b in zip(dark, expected) if a != b), 0)
                sent = self.ranges.bytes_sent('/docs/levels.htf')
                self.assertLessEqual(sent, size * share, '%d of %d bytes sent' % (sent, size))
                if ranges:
                    self.assertTrue(any(status == 206 for _, _, status, _ in self.ranges.entries('levels.htf')))

    def the_strict_page(self):
        # No inline script or style, Trusted Types required: the page's
        # scripts and sizes come from files, as the policy demands.
        page = self.open_page(name='strict.html')
        state = self.load(page, 'bilevel.htf')
        self.assertEqual(page.evaluate('viewer.shadowRoot.querySelector(".toolbar").getBoundingClientRect().height'),
                         TOOLBAR_HEIGHT)
        self.assertEqual(self.differing_pixels(page, state, 'bilevel'), 0)
        self.assertEqual(page.evaluate('window.pageProblems'), [])

    def the_view_kept_in_the_address_comes_back_after_a_reload(self):
        page = self.open_page(attributes='hash')
        self.load(page, 'rgb.htf', actual_size=False)
        for _ in range(3):
            page.evaluate('viewer.command("zoom-in")')
        page.evaluate('frames2()')
        kept = page.evaluate('viewer.viewString')
        scale, x, y = (float(v) for v in kept.split(','))
        self.assertGreater(scale, 1)
        # The address follows the view (replaced, not a new history entry).
        page.wait_for('location.hash === "#view=" + viewer.viewString', timeout=10)
        entries = page.evaluate('history.length')
        page.evaluate('(window.beforeReload = true, setTimeout(() => location.reload(), 0), 0)')
        page.wait_for('!window.beforeReload && window.viewer && customElements.get("htf-viewer") !== undefined')
        self.load(page, 'rgb.htf', actual_size=False)
        page.wait_for('viewer.viewString !== ""')
        again_scale, again_x, again_y = (float(v) for v in page.evaluate('viewer.viewString').split(','))
        self.assertAlmostEqual(again_scale / scale, 1, delta=0.01)
        self.assertLessEqual(abs(again_x - x), 2)
        self.assertLessEqual(abs(again_y - y), 2)
        self.assertEqual(page.evaluate('history.length'), entries)

    def a_list_row_loses_its_mark_when_the_pointer_leaves(self):
        rows = '<ul id="parts"><li data-hotspot="815">Town hall</li><li data-hotspot="816&amp;view=2">Library</li></ul>'
        page = self.open_page(attributes='list="parts"', extra=rows)
        self.load(page, 'rgb.htf')
        row = page.evaluate('''(() => { const r = document.querySelectorAll('#parts li')[1].getBoundingClientRect();
            return [Math.round(r.left + 5), Math.round(r.top + r.height / 2)]; })()''')
        marked = 'Array.from(document.querySelectorAll("#parts li"), (li) => li.hasAttribute("data-hotspot-active"))'
        page.move(*row)
        page.wait_for('document.querySelectorAll("#parts li")[1].hasAttribute("data-hotspot-active")')
        self.assertEqual(page.evaluate(marked), [False, True])
        page.move(row[0], 600)   # below the list, outside the viewer
        page.wait_for('!document.querySelectorAll("#parts li")[1].hasAttribute("data-hotspot-active")', timeout=5)
        self.assertEqual(page.evaluate(marked), [False, False])

    def a_touch_move_over_a_hotspot_scrolls_and_follows_nothing(self):
        page = self.open_page(attributes='frame="content" class="small"')
        state = self.load(page, 'rgb.htf')
        self.assertTrue(state['horizontalBar'] and state['verticalBar'], 'the document must scroll in the view')
        page.evaluate('(viewer.scrollBar("horizontal", 5, 0), viewer.scrollBar("vertical", 5, 0))')
        self.server.forget()
        for distance in (12, 20, 30):
            with self.subTest(distance=distance):
                before = self.state(page)
                x, y = self.centre(before, 0)
                page.touch_path([(x, y), (x - distance // 2, y - distance // 2), (x - distance, y - distance)])
                time.sleep(0.3)
                after = self.state(page)
                self.assertGreater(after['horizontalPosition'], before['horizontalPosition'])
                self.assertGreater(after['verticalPosition'], before['verticalPosition'])
                page.evaluate('(viewer.scrollBar("horizontal", 5, 0), viewer.scrollBar("vertical", 5, 0))')
        self.assertEqual(self.navigations(page), [])
        self.assertFalse(self.server.requested('followed.html'), self.server.requests)

    def the_outline_at_device_pixel_ratio_two_is_two_pixels_thick(self):
        page = self.open_page(attributes='frame-width="1"')
        page.set_ratio(2)
        page.wait_for('devicePixelRatio === 2')
        state = self.load(page, 'bilevel.htf')
        page.move(*self.centre(state, 0))
        page.evaluate('frames2()')
        # The pen's centre runs along the hotspot's edges: from one device
        # pixel outside the top and left edges to one inside.
        x, y, w, h = self.outline_rect(state, 0)
        width, height, block = page.screenshot((x - 1, y - 1, w + 2, h + 2))
        self.assertEqual((width, height), (2 * w + 4, 2 * h + 4))

        def at(px, py):
            i = (py * width + px) * 4
            return tuple(block[i:i + 3])
        for px in range(8, width - 8, 9):
            self.assertEqual([at(px, row) == FRAME_COLOUR for row in range(4)], [False, True, True, False],
                             'column %d' % px)
        for py in range(8, height - 8, 9):
            self.assertEqual([at(column, py) == FRAME_COLOUR for column in range(4)], [False, True, True, False],
                             'row %d' % py)


def make_tests(engine_name):
    """The table's rows for one engine, as unittest methods."""
    methods = {}
    for row, engines in TABLE:
        if engine_name in engines:
            methods['test_' + row] = (lambda name: lambda self: getattr(self, name)())(row)
    return type('EngineTest_' + engine_name, (EngineTest,), methods)


if __name__ == '__main__':
    if len(sys.argv) < 3 or sys.argv[2] not in ENGINES:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    BUILD, ENGINE = os.path.abspath(sys.argv[1]), sys.argv[2]
    suite = unittest.defaultTestLoader.loadTestsFromTestCase(make_tests(ENGINE))
    # Further arguments pick rows by part of their name.
    if sys.argv[3:]:
        suite = unittest.TestSuite(t for t in suite if any(word in t.id() for word in sys.argv[3:]))
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    sys.exit(0 if result.wasSuccessful() else 1)
