#!/usr/bin/python3
"""Full screen, the overview and links into a document (the `hash`
attribute and `viewString`) of the <htf-viewer> element in Debian's chromium,
headless, on a 20000 x 20000 levelled drawing with 400 hotspots (written by
bench_document) served with ranges by our range server.

    /usr/bin/python3 tests/web/test_view_links.py BUILD_DIR [unittest arguments]
"""

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

import test_web  # noqa: E402
from browser import Browser  # noqa: E402
from rangeserver import RangeServer  # noqa: E402

SIZE, HOTSPOTS = 20000, 400     # hotspot cell-C-R: [C * 1000 + 100, C * 1000 + 900) x the same for R

PAGE = '''<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>links</title>
<script type="module" src="/web/htf-viewer.js"></script>
<style>body { margin: 0; } htf-viewer { width: 602px; height: 442px; }</style>
</head><body>
<htf-viewer id="v" src="/big.htf" %(attributes)s></htf-viewer>%(extra)s
<script>window.viewer = document.getElementById('v');</script>
</body></html>'''

# Whether the overview shows the drawing: its grid lines, scaled down, darken
# a good part of it, the paper between them stays white (an empty or cleared
# picture fails both).
DRAWN_OVERVIEW = '''(() => { const c = viewer.shadowRoot.querySelector('.overview canvas');
    const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data; let grey = 0, white = 0;
    for (let i = 0; i < d.length; i += 4) {
      if (d[i + 3] === 255 && d[i] < 192) ++grey;
      if (d[i + 3] === 255 && d[i] > 224) ++white;
    }
    const all = d.length / 4; return grey > 0.15 * all && white > 0.2 * all; })()'''


def centre(view_string):
    scale, x, y = (float(v) for v in view_string.split(','))
    return scale, x, y


class ViewLinksTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = tempfile.mkdtemp(prefix='htf-web-links-')
        build = test_web.BUILD
        subprocess.run([os.path.join(build, 'native', 'bench_document'), os.path.join(cls.folder, 'big.htf'),
                        str(SIZE), '256', str(HOTSPOTS)], check=True, stdout=subprocess.DEVNULL)
        cls.server = RangeServer(cls.folder, {'/web': os.path.join(build, 'web')}).__enter__()
        cls.browser = Browser(width=1000, height=800).__enter__()

    @classmethod
    def tearDownClass(cls):
        cls.browser.__exit__(None, None, None)
        cls.server.__exit__(None, None, None)
        shutil.rmtree(cls.folder, ignore_errors=True)

    # --- helpers ---

    def open(self, attributes='', extra='', fragment='', name='page.html'):
        with open(os.path.join(self.folder, name), 'w') as f:
            f.write(PAGE % {'attributes': attributes, 'extra': extra})
        # Opened blank, then sent to the address: a fragment stays part of it.
        page = self.browser.open('about:blank')
        self.addCleanup(page.close)
        page.navigate(self.server.url(name) + fragment)
        self.settle(page)
        return page

    def settle(self, page, which='viewer'):
        page.wait_for('window.viewer && %s.complete && %s.viewString !== ""' % (which, which), timeout=30)
        page.evaluate('new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)))')
        page.wait_for('%s.complete' % which, timeout=30)

    def rect(self, page, selector):
        return page.evaluate('(() => { const r = viewer.shadowRoot.querySelector(%s).getBoundingClientRect(); '
                             'return [r.left, r.top, r.width, r.height]; })()' % json.dumps(selector))

    def overview_point(self, page, fx, fy):
        """A point of the overview at fractions (fx, fy), in whole CSS pixels,
        and the image point it stands for."""
        left, top, width, height = self.rect(page, '.overview canvas')
        x, y = round(left + fx * width), round(top + fy * height)
        return (x, y), ((x - left) / width * SIZE, (y - top) / height * SIZE)

    def assert_centre(self, page, point, slack, which='viewer'):
        _, x, y = centre(page.evaluate('%s.viewString' % which))
        self.assertLessEqual(abs(x - point[0]), slack, (x, y, point))
        self.assertLessEqual(abs(y - point[1]), slack, (x, y, point))

    def names(self, page):
        """The accessible names of the page's nodes."""
        tree = page.send('Accessibility.getFullAXTree')['nodes']
        return [n.get('name', {}).get('value') for n in tree]

    # --- the cases, one a row ---

    def full_screen(self, page):
        button = self.rect(page, 'button[data-command="full-screen"]')
        self.assertEqual(page.evaluate('viewer.shadowRoot.querySelector(\'button[data-command="full-screen"]\')'
                                       '.getAttribute("aria-label")'), 'Full screen')
        page.evaluate('viewer.command("actual-size"); viewer.viewString = "1,7300,4200"')
        self.settle(page)
        before = centre(page.evaluate('viewer.viewString'))
        page.click(button[0] + button[2] / 2, button[1] + button[3] / 2)
        page.wait_for('document.fullscreenElement === viewer')
        self.settle(page)
        self.assertEqual(page.evaluate('viewer.shadowRoot.querySelector(\'button[data-command="full-screen"]\')'
                                       '.getAttribute("aria-pressed")'), 'true')
        # The element's own full screen style, and the view over the whole window.
        self.assertEqual(page.evaluate('getComputedStyle(viewer.shadowRoot.querySelector(".view")).borderTopWidth'),
                         '0px')
        self.assertGreater(page.evaluate('viewer.viewState.clientHeight'), 500)
        self.assert_centre(page, before[1:], 2)
        button = self.rect(page, 'button[data-command="full-screen"]')
        page.click(button[0] + button[2] / 2, button[1] + button[3] / 2)
        page.wait_for('document.fullscreenElement === null')
        self.settle(page)
        self.assert_centre(page, before[1:], 2)
        # The key F in, and the command out.
        page.evaluate('viewer.focus()')
        page.send('Input.dispatchKeyEvent', type='keyDown', key='f', code='KeyF', windowsVirtualKeyCode=70, text='f')
        page.send('Input.dispatchKeyEvent', type='keyUp', key='f', code='KeyF', windowsVirtualKeyCode=70)
        page.wait_for('document.fullscreenElement === viewer')
        page.evaluate('viewer.command("full-screen")')
        page.wait_for('document.fullscreenElement === null')

    def full_screen_fit(self, page):
        page.evaluate('viewer.focus(); viewer.command("full-screen")')
        page.wait_for('document.fullscreenElement === viewer')
        self.settle(page)
        # A kept fit refits the larger view.
        s = page.evaluate('viewer.viewState')
        self.assertEqual(max(s['scaledWidth'], s['scaledHeight']), min(s['clientWidth'], s['clientHeight']))
        self.assertGreater(s['scaledHeight'], 500)
        page.evaluate('document.exitFullscreen()')
        page.wait_for('document.fullscreenElement === null')
        self.settle(page)
        self.assertEqual(page.evaluate('viewer.viewState.scaledHeight'), 400)

    def overview_click_drag_and_keys(self, page):
        self.assertEqual(page.evaluate('getComputedStyle(viewer.shadowRoot.querySelector(".overview")).display'),
                         'none', 'hidden at fit')
        page.evaluate('viewer.command("actual-size")')
        self.settle(page)
        box = page.evaluate('viewer.shadowRoot.querySelector(".overview")')
        self.assertIsNotNone(box)
        self.assertEqual(page.evaluate('getComputedStyle(viewer.shadowRoot.querySelector(".overview")).display'),
                         'block')
        self.assertIn('Overview', self.names(page))
        page.evaluate('viewer.strings = { overview: "\u00dcbersicht", fullScreen: "Vollbild" }')
        names = self.names(page)
        self.assertIn('\u00dcbersicht', names)
        self.assertIn('Vollbild', names)
        self.assertNotIn('Overview', names)
        # Never over the toolbar.
        toolbar, overview = self.rect(page, '.toolbar'), self.rect(page, '.overview')
        self.assertGreaterEqual(overview[1], toolbar[1] + toolbar[3])
        # A click centres the view on the point clicked.
        (x, y), point = self.overview_point(page, 0.3, 0.6)
        page.click(x, y)
        self.settle(page)
        self.assert_centre(page, point, 3)
        # A drag follows the pointer all the way.
        (x0, y0), _ = self.overview_point(page, 0.5, 0.5)
        page.mouse('mousePressed', x0, y0, button='left', buttons=1, click_count=1)
        for k in range(1, 6):
            (x, y), point = self.overview_point(page, 0.5 + 0.04 * k, 0.5 - 0.05 * k)
            page.mouse('mouseMoved', x, y, button='left', buttons=1)
            page.evaluate('new Promise((r) => requestAnimationFrame(r))')
            self.assert_centre(page, point, 3)
        page.mouse('mouseReleased', x, y, button='left', buttons=0, click_count=1)
        # The overview has the focus: an arrow moves the view by a tenth of it.
        self.assertEqual(page.evaluate('viewer.shadowRoot.activeElement?.className'), 'overview')
        _, cx, cy = centre(page.evaluate('viewer.viewString'))
        width = page.evaluate('viewer.view.width')
        page.key('ArrowRight')
        self.assert_centre(page, (cx + width / 10, cy), 1)
        # Its outline is where the view is, and its picture is the drawing.
        frame = self.rect(page, '.overview-frame')
        (fx, fy), _ = self.overview_point(page, 0.7, 0.25)
        self.assertLessEqual(abs(frame[0] + frame[2] / 2 - fx), 2, frame)
        self.assertTrue(page.evaluate(DRAWN_OVERVIEW))
        # Back at fit it hides; "always" shows it there too.
        page.evaluate('viewer.command("fit-window")')
        self.settle(page)
        self.assertEqual(page.evaluate('getComputedStyle(viewer.shadowRoot.querySelector(".overview")).display'), 'none')
        page.evaluate('viewer.overview = "always"')
        self.assertEqual(page.evaluate('getComputedStyle(viewer.shadowRoot.querySelector(".overview")).display'),
                         'block')

    def overview_of_a_view_never_fitted(self, page):
        # Opened straight at 1:1 from the address: no tile of the whole
        # drawing was ever shown, the overview's picture is asked for.
        page.wait_for(DRAWN_OVERVIEW)
        self.assertEqual(page.evaluate('viewer.viewState.scale'), 1)

    def hotspot_in(self, page):
        # As zoomToHotspot: the hotspot fills most of the view, centred.
        self.assertGreater(page.evaluate('viewer.viewState.scale'), 0.03)
        self.assert_centre(page, (3500, 4500), 2)
        view = page.evaluate('viewer.view')
        self.assertLessEqual(view['x'], 3100)
        self.assertGreaterEqual(view['x'] + view['width'], 3900)

    def view_in_zoom_and_reload(self, page):
        self.assertEqual(centre(page.evaluate('viewer.viewString'))[0], 0.5)
        self.assert_centre(page, (12000, 8000), 2)
        history = page.evaluate('history.length')
        page.evaluate('viewer.shadowRoot.querySelector(".view").focus()')
        page.key('+')
        page.key('ArrowRight')
        self.settle(page)
        wanted = page.evaluate('viewer.viewString')
        page.wait_for('location.hash === "#view=" + viewer.viewString', timeout=5)
        self.assertEqual(page.evaluate('history.length'), history, 'no new history entries')
        page.evaluate('window.before = true')
        page.send('Page.reload')
        page.wait_for('!window.before && window.viewer && viewer.complete', timeout=30)
        self.settle(page)
        scale, x, y = centre(page.evaluate('viewer.viewString'))
        self.assertLessEqual(abs(scale / centre(wanted)[0] - 1), 0.01)
        self.assert_centre(page, centre(wanted)[1:], 2)

    def two_elements(self, page):
        self.settle(page, 'second')
        self.assert_centre(page, (5000, 6000), 10)
        self.assert_centre(page, (1500, 1500), 2, 'second')
        page.evaluate('viewer.shadowRoot.querySelector(".view").focus()')
        page.key('ArrowDown')
        page.wait_for('location.hash.includes("a.view=" + viewer.viewString)', timeout=5)
        self.assertIn('b.hotspot=cell-1-1', page.evaluate('location.hash'))
        self.assertNotIn('#view=', page.evaluate('location.hash'))
        page.evaluate('second.shadowRoot.querySelector(".view").focus()')
        page.key('ArrowDown')
        page.wait_for('location.hash.includes("b.view=" + second.viewString)', timeout=5)
        self.assertNotIn('b.hotspot', page.evaluate('location.hash'))
        # A link within the page moves the element it names.
        page.evaluate('location.hash = "#a.view=1,2000,3000&b.view=" + second.viewString')
        self.settle(page)
        self.assert_centre(page, (2000, 3000), 2)

    def test_full_screen_overview_and_links(self):
        second = ('<htf-viewer id="w" src="/big.htf" hash="b"></htf-viewer>'
                  '<script>window.second = document.getElementById("w");</script>')
        cases = [
            # name, attributes, other elements, the address's fragment, the checks
            ('full screen', '', '', '', self.full_screen),
            ('full screen with a kept fit', 'fit="window"', '', '', self.full_screen_fit),
            ('overview', 'overview', '', '', self.overview_click_drag_and_keys),
            ('overview of a view never fitted', 'overview hash', '', '#view=1,9000,9000',
             self.overview_of_a_view_never_fitted),
            ('#hotspot= in', 'hash', '', '#hotspot=cell-3-4', self.hotspot_in),
            ('#view= in, zoom and reload', 'hash', '', '#view=0.5,12000,8000', self.view_in_zoom_and_reload),
            ('two elements, their own keys', 'hash="a"', second, '#a.view=0.1,5000,6000&b.hotspot=cell-1-1',
             self.two_elements),
        ]
        for name, attributes, extra, fragment, check in cases:
            with self.subTest(name):
                check(self.open(attributes, extra, fragment))


if __name__ == '__main__':
    # The element tests' own runner: it takes BUILD_DIR and runs this file's tests.
    sys.exit(test_web.main())
