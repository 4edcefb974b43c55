#!/usr/bin/python3
"""The <htf-viewer> element as page authors adopt it, in Debian's chromium:
its packed package bundled by Vite and webpack with no configuration and by
esbuild with setBasePath, each drawing the document as the unbundled element
does; properties set before the definition, loading only with a src and
lazily, the errors a page gets, and the styling surface.

    /usr/bin/python3 tests/web/test_adopt.py BUILD_DIR [unittest arguments]

The bundlers come from scripts/install-node-tools (npm, pinned by
tools/webtest/adopt/package-lock.json, cached in ~/.cache/rozerado)."""

import json
import os
import shutil
import socket
import subprocess
import sys
import tarfile
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, '..', '..'))
sys.path.insert(0, os.path.join(ROOT, 'tools', 'webtest'))

from browser import Browser, WebServer  # noqa: E402

BUILD = None
DOCUMENT = os.path.join(ROOT, 'examples', 'floorplan.htf')
SIZE = (602, 442)
LISTEN = '''
window.seen = [];
for (const name of ['htf-load', 'htf-error'])
  document.addEventListener(name, (e) => window.seen.push({ name, detail: e.detail }));
'''
VIEWER = '<htf-viewer src="floorplan.htf" fit="window" style="width:%dpx;height:%dpx"></htf-viewer>' % SIZE


def run(command, cwd, env=None):
    result = subprocess.run(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, timeout=300)
    if result.returncode:
        raise AssertionError('%s failed:\n%s' % (' '.join(command), result.stdout.decode(errors='replace')))
    return result.stdout.decode(errors='replace')


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, 'w') as f:
        f.write(text)


class AdoptionTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp(prefix='htf-adopt-test-')
        cls.tools = subprocess.run([os.path.join(ROOT, 'scripts', 'install-node-tools')], check=True,
                                   stdout=subprocess.PIPE, stdin=subprocess.DEVNULL, timeout=600).stdout.decode().strip()
        # The package as npm packs it, installed as npm installs a tarball.
        out = run(['npm', 'pack', '--json', '--pack-destination', cls.work, os.path.join(BUILD, 'web')], cls.work)
        cls.pack = json.loads(out[out.index('['):])[0]
        cls.tarball = os.path.join(cls.work, cls.pack['filename'])
        cls.site = os.path.join(cls.work, 'site')
        os.mkdir(cls.site)
        shutil.copy(DOCUMENT, cls.site)
        cls.server = WebServer(cls.site, {'/web': os.path.join(BUILD, 'web')}).__enter__()
        cls.browser = Browser(width=1000, height=800).__enter__()
        cls._reference = None

    @classmethod
    def tearDownClass(cls):
        cls.browser.__exit__(None, None, None)
        cls.server.__exit__(None, None, None)
        shutil.rmtree(cls.work, ignore_errors=True)

    # --- helpers ---

    def app(self, name):
        """A new app folder with the packed package in its node_modules."""
        folder = os.path.join(self.work, name)
        target = os.path.join(folder, 'node_modules', 'htf-viewer')
        os.makedirs(target)
        with tarfile.open(self.tarball) as tar:
            for member in tar.getmembers():
                member.name = member.name.split('/', 1)[1]
                tar.extract(member, target)
        return folder

    def tool(self, *path):
        return os.path.join(self.tools, 'node_modules', *path)

    def open(self, url):
        page = self.browser.open(url)
        self.addCleanup(page.close)
        return page

    def outcome(self, page, timeout=30):
        page.wait_for('window.seen && window.seen.length > 0', timeout=timeout)
        page.evaluate('new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)))')
        return page.evaluate('window.seen')

    def picture(self, page):
        """The element's pixels on the screen."""
        rect = page.evaluate('(() => { const r = document.querySelector("htf-viewer").getBoundingClientRect();'
                             ' return [r.x, r.y, r.width, r.height]; })()')
        return page.screenshot(tuple(int(v) for v in rect))

    def reference(self):
        """The document in the element served as a plain folder."""
        if AdoptionTest._reference is None:
            write(os.path.join(self.site, 'reference.html'),
                  '<!DOCTYPE html><style>body{margin:0}</style><script>%s</script>'
                  '<script type="module" src="/web/htf-viewer.js"></script>%s' % (LISTEN, VIEWER))
            page = self.open(self.server.url('reference.html'))
            self.assertEqual([e['name'] for e in self.outcome(page)], ['htf-load'])
            AdoptionTest._reference = self.picture(page)
        return AdoptionTest._reference

    def assert_draws_document(self, url):
        page = self.open(url)
        seen = self.outcome(page)
        self.assertEqual([e['name'] for e in seen], ['htf-load'], seen)
        self.assertEqual(self.picture(page), self.reference())
        return page

    # --- bundlers ---

    def test_vite_builds_an_app_that_draws_the_document_with_no_configuration(self):
        app = self.app('vite-app')
        write(os.path.join(app, 'index.html'), '<!DOCTYPE html><style>body{margin:0}</style>'
              '<script>%s</script><script type="module" src="/main.js"></script>%s' % (LISTEN, VIEWER))
        write(os.path.join(app, 'main.js'), "import 'htf-viewer';\n")
        os.makedirs(os.path.join(app, 'public'))
        shutil.copy(DOCUMENT, os.path.join(app, 'public'))
        run(['node', self.tool('vite', 'bin', 'vite.js'), 'build', '--base=/sub/', '--logLevel', 'warn'], app)
        dist = os.path.join(app, 'dist')
        emitted = os.listdir(os.path.join(dist, 'assets'))
        # The core in both builds (the engine picks one) and the worker are
        # the bundler's files, under its names.
        wasm = [n for n in emitted if n.endswith('.wasm')]
        self.assertEqual(len(wasm), 2, emitted)
        self.assertTrue(any(n.startswith('htf-core-legacy') for n in wasm), emitted)
        self.assertTrue(any(n.startswith('htf-decoder') and n.endswith('.js') for n in emitted), emitted)
        with WebServer(self.work, {'/sub': dist}) as server:
            self.assert_draws_document(server.url('sub/index.html'))
            self.assertEqual(server.requested('node_modules'), [])

    def test_webpack_builds_an_app_that_draws_the_document_with_no_configuration(self):
        app = self.app('webpack-app')
        write(os.path.join(app, 'src', 'index.js'), "import 'htf-viewer';\n")
        run(['node', self.tool('webpack-cli', 'bin', 'cli.js'), '--mode', 'production'], app,
            env=dict(os.environ, NODE_PATH=self.tool()))
        dist = os.path.join(app, 'dist')
        write(os.path.join(dist, 'index.html'), '<!DOCTYPE html><style>body{margin:0}</style>'
              '<script>%s</script><script src="main.js"></script>%s' % (LISTEN, VIEWER))
        shutil.copy(DOCUMENT, dist)
        # Both builds of the core (the engine picks one).
        self.assertEqual(len([n for n in os.listdir(dist) if n.endswith('.wasm')]), 2, os.listdir(dist))
        with WebServer(dist) as server:
            self.assert_draws_document(server.url('index.html'))

    def test_esbuild_bundles_find_the_files_through_set_base_path(self):
        app = self.app('esbuild-app')
        write(os.path.join(app, 'main.js'), "import { setBasePath } from 'htf-viewer';\n"
              "setBasePath('./htf-viewer/');\n")
        dist = os.path.join(app, 'dist')
        shutil.copytree(os.path.join(app, 'node_modules', 'htf-viewer'), os.path.join(dist, 'htf-viewer'))
        shutil.copy(DOCUMENT, dist)
        for form in ('esm', 'iife'):
            with self.subTest(format=form):
                run([self.tool('.bin', 'esbuild'), 'main.js', '--bundle', '--format=' + form,
                     '--outfile=dist/app-%s.js' % form, '--log-level=error'], app)
                module = ' type="module"' if form == 'esm' else ''
                write(os.path.join(dist, form + '.html'), '<!DOCTYPE html><style>body{margin:0}</style>'
                      '<script>%s</script><script%s src="app-%s.js"></script>%s' % (LISTEN, module, form, VIEWER))
                with WebServer(dist) as server:
                    self.assert_draws_document(server.url(form + '.html'))

    def test_an_iife_bundle_without_a_base_path_says_so(self):
        app = self.app('iife-app')
        write(os.path.join(app, 'main.js'), "import 'htf-viewer';\n")
        dist = os.path.join(app, 'dist')
        run([self.tool('.bin', 'esbuild'), 'main.js', '--bundle', '--format=iife', '--outfile=dist/app.js',
             '--log-level=error'], app)
        shutil.copy(DOCUMENT, dist)
        write(os.path.join(dist, 'index.html'), '<!DOCTYPE html><script>%s</script><script src="app.js"></script>%s'
              % (LISTEN, VIEWER))
        with WebServer(dist) as server:
            seen = self.outcome(self.open(server.url('index.html')))
        self.assertEqual([e['name'] for e in seen], ['htf-error'])
        self.assertIn('setBasePath', seen[0]['detail']['message'])
        self.assertEqual(seen[0]['detail']['code'], 'setup')



    def test_a_react_19_app_sets_properties_and_hears_events(self):
        app = self.app('react-app')
        for name in ('react', 'react-dom', 'scheduler'):
            os.symlink(self.tool(name), os.path.join(app, 'node_modules', name))
        write(os.path.join(app, 'index.html'), '<!DOCTYPE html><style>body{margin:0}</style>'
              '<script>%s</script><div id="root"></div><script type="module" src="/main.jsx"></script>' % LISTEN)
        write(os.path.join(app, 'main.jsx'), """import React from 'react';
import { createRoot } from 'react-dom/client';
import 'htf-viewer';

function Plan() {
  return (
    <htf-viewer src="floorplan.htf" fit="window" strings={{ zoomIn: 'Vergr\\u00f6\\u00dfern' }}
      style={{ width: %d, height: %d }}
      onhtf-load={(event) => { window.rooms = event.detail.hotspots; }} />
  );
}
createRoot(document.getElementById('root')).render(<Plan />);
""" % SIZE)
        os.makedirs(os.path.join(app, 'public'))
        shutil.copy(DOCUMENT, os.path.join(app, 'public'))
        run(['node', self.tool('vite', 'bin', 'vite.js'), 'build', '--logLevel', 'warn'], app)
        with WebServer(os.path.join(app, 'dist')) as server:
            page = self.assert_draws_document(server.url('index.html'))
            self.assertEqual(page.evaluate('window.rooms'), 5)   # React's own listener
            # The strings went in as a property, not as "[object Object]".
            self.assertEqual(page.evaluate("""(() => { const v = document.querySelector('htf-viewer');
                return [v.getAttribute('strings'), v.shadowRoot.querySelector('.toolbar button[title^="Vergr"]') !== null];
                })()"""), [None, True])

    def test_the_vite_example_app_builds_and_shows_the_plan(self):
        example = os.path.join(self.work, 'example')
        shutil.copytree(os.path.join(ROOT, 'examples', 'vite'), os.path.join(example, 'vite'),
                        ignore=shutil.ignore_patterns('node_modules', 'dist'))
        shutil.copy(DOCUMENT, example)
        app = os.path.join(example, 'vite')
        installed = self.app('example-install')
        shutil.move(os.path.join(installed, 'node_modules'), app)
        run(['node', self.tool('vite', 'bin', 'vite.js'), 'build', '--logLevel', 'warn'], app)
        with WebServer(os.path.join(app, 'dist')) as server:
            page = self.open(server.url('index.html'))
            page.wait_for('/rooms/.test(document.getElementById("status")?.textContent ?? "")', timeout=30)
            if os.environ.get('HTF_WEB_SHOTS'):
                page.save_screenshot(os.path.join(os.environ['HTF_WEB_SHOTS'], 'vite-example.png'))
        # Vite's dev server serves the package's modules as they are: the
        # worker comes from the package's folder through the element's policy.
        port = free_port()
        server = subprocess.Popen(['node', self.tool('vite', 'bin', 'vite.js'), '--port', str(port), '--strictPort',
                                   '--host', '127.0.0.1'], cwd=app, stdin=subprocess.DEVNULL,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            for _ in range(300):
                with socket.socket() as probe:
                    if probe.connect_ex(('127.0.0.1', port)) == 0:
                        break
                time.sleep(0.1)
            page = self.open('http://127.0.0.1:%d/' % port)
            page.wait_for('/rooms|:/.test(document.getElementById("status")?.textContent)', timeout=60)
            self.assertRegex(page.evaluate('document.getElementById("status").textContent'), '^5 rooms')
        finally:
            server.terminate()
            server.wait(10)

    # --- the element on a page ---

    def page(self, body, name):
        write(os.path.join(self.site, name), '<!DOCTYPE html><style>body{margin:0}</style><script>%s</script>%s'
              % (LISTEN, body))
        return self.open(self.server.url(name))

    def settle(self, page, ms=0):
        page.evaluate('new Promise((r) => setTimeout(() => requestAnimationFrame(() => requestAnimationFrame(r)), %d))'
                      % ms)

    def test_properties_set_before_the_definition_are_taken_over(self):
        page = self.page('<htf-viewer id="v" style="width:602px;height:442px"></htf-viewer><script>'
                         "v.src = 'floorplan.htf'; v.fit = 'window'; v.tool = 'pan';"
                         "v.strings = { zoomIn: 'Vergr\\u00f6\\u00dfern' }; v.toolbar = 'zoom-in pan';"
                         "import('/web/htf-viewer.js');</script>", 'early.html')
        self.assertEqual([e['name'] for e in self.outcome(page)], ['htf-load'])
        state = page.evaluate("""(() => ({ fit: v.getAttribute('fit'), tool: v.tool, src: v.getAttribute('src'),
            shown: [...v.shadowRoot.querySelectorAll('.toolbar button')].filter((b) => !b.hidden).map((b) => b.title),
            own: Object.keys(v).filter((name) => !name.startsWith('_')) }))()""")
        self.assertEqual(state, {'fit': 'window', 'tool': 'pan', 'src': 'floorplan.htf',
                                 'shown': ['Vergr\u00f6\u00dfern', 'Pan'], 'own': []})

    def test_nothing_is_fetched_before_a_src_and_lazy_elements_wait_for_the_viewport(self):
        self.server.forget()
        page = self.page('<script type="module" src="/web/htf-viewer.js"></script>'
                         '<htf-viewer id="a" style="width:300px;height:200px"></htf-viewer>'
                         '<div style="height:3000px"></div>'
                         '<htf-viewer id="b" loading="lazy" src="floorplan.htf" style="width:300px;height:200px">'
                         '</htf-viewer>', 'lazy.html')
        page.wait_for('customElements.get("htf-viewer") !== undefined')
        self.settle(page, 500)
        files = ('htf-core.wasm', 'htf-core-legacy.wasm', 'htf-decoder.js', 'lens.png', 'floorplan.htf')
        self.assertEqual([r for r in self.server.requests if any(f in r for f in files)], [])
        self.assertEqual(page.evaluate('window.seen'), [])
        page.evaluate('b.scrollIntoView()')
        self.assertEqual([e['name'] for e in self.outcome(page)], ['htf-load'])
        self.assertTrue(self.server.requested('htf-core.wasm'))
        self.assertTrue(self.server.requested('floorplan.htf'))

    def test_a_page_that_asks_for_the_warm_start_gets_the_core_before_a_src(self):
        # loading="eager" written on an element, written later, or the
        # module's warmUp(): the core is fetched and the next document's
        # worker started with no src; the document set afterwards loads
        # with them, the core not fetched again.
        viewer = '<htf-viewer id="v" %s style="width:300px;height:200px"></htf-viewer>'
        module = '<script type="module" src="/web/htf-viewer.js"></script>'
        cases = [
            ('attribute', module + viewer % 'loading="eager"', ''),
            ('attribute set later', module + viewer % '', "v.loading = 'eager'"),
            ('warmUp()', '<script type="module">import { warmUp } from "/web/htf-viewer.js"; warmUp();</script>'
             + viewer % '', ''),
        ]
        for number, (name, body, script) in enumerate(cases):
            with self.subTest(name):
                self.server.forget()
                page = self.page(body, 'warm-%d.html' % number)
                page.wait_for('customElements.get("htf-viewer") !== undefined')
                if script:
                    self.settle(page, 300)
                    self.assertEqual(self.server.requested('.wasm'), [], 'nothing before the page asks')
                    page.evaluate(script)
                deadline = time.monotonic() + 20
                while not (self.server.requested('.wasm') and self.server.requested('htf-decoder.js')):
                    self.assertLess(time.monotonic(), deadline, self.server.requests)
                    time.sleep(0.05)
                self.settle(page, 300)
                self.assertEqual(self.server.requested('floorplan.htf'), [])
                self.assertEqual(page.evaluate('window.seen'), [])
                page.evaluate("v.src = 'floorplan.htf'")
                self.assertEqual([e['name'] for e in self.outcome(page)], ['htf-load'])
                self.assertEqual(len(self.server.requested('.wasm')), 1, self.server.requests)
                self.assertEqual(len(self.server.requested('htf-decoder.js')), 1, self.server.requests)

    def test_a_failed_load_fires_one_error_with_its_code_status_and_address(self):
        with WebServer(self.site) as elsewhere:
            cases = [('missing.htf', 'not-found', 404, '404'),
                     (elsewhere.url('floorplan.htf'), 'cors', None, 'CORS'),
                     ('/web/package.json', 'not-tiff', None, 'could not be shown')]
            page = self.page('<script type="module" src="/web/htf-viewer.js"></script>'
                             '<htf-viewer id="v" style="width:300px;height:200px"></htf-viewer>', 'errors.html')
            page.wait_for('customElements.get("htf-viewer") !== undefined')
            for src, code, status, text in cases:
                with self.subTest(src=src):
                    page.evaluate('window.seen = []; v.src = %s' % json.dumps(src))
                    page.wait_for('window.seen.length > 0')
                    self.settle(page, 500)
                    seen = page.evaluate('window.seen')
                    self.assertEqual([e['name'] for e in seen], ['htf-error'], seen)
                    detail = seen[0]['detail']
                    self.assertEqual((detail['code'], detail['status']), (code, status), detail)
                    self.assertEqual(detail['url'], page.evaluate('new URL(%s, location.href).href' % json.dumps(src)))
                    self.assertIn(text, detail['message'])


    def test_a_missing_core_is_one_error(self):
        # The page's core and the worker's both fail to load: the page hears
        # of it once.
        partial = os.path.join(self.site, 'partial')
        shutil.copytree(os.path.join(BUILD, 'web'), partial, ignore=shutil.ignore_patterns('htf-core.wasm'))
        page = self.page('<script type="module">import { setBasePath } from "/partial/htf-viewer.js";'
                         'setBasePath("/partial/");</script>' + VIEWER, 'no-core.html')
        page.wait_for('window.seen && window.seen.length > 0')
        self.settle(page, 1000)
        seen = page.evaluate('window.seen')
        self.assertEqual([e['name'] for e in seen], ['htf-error'], seen)

    def test_the_chrome_is_styled_from_the_page_and_the_picture_is_not(self):
        page = self.page('<script type="module" src="/web/htf-viewer.js"></script>'
                         '<htf-viewer id="v" src="floorplan.htf" fit="window" toolbar="none"'
                         ' style="width:900px;height:200px;--htf-letterbox:rgb(255,0,0)">'
                         '<b slot="error">Plan unavailable</b></htf-viewer>', 'styled.html')
        self.assertEqual([e['name'] for e in self.outcome(page)], ['htf-load'])
        parts = page.evaluate("""[...new Set([...v.shadowRoot.querySelectorAll('[part]')]
            .flatMap((e) => e.getAttribute('part').split(' ')))].sort()""")
        self.assertTrue({'toolbar', 'button', 'button-zoom-in', 'button-print', 'button-full-screen', 'view', 'tip',
                         'error', 'progress', 'progress-value', 'overview', 'overview-frame'} <= set(parts), parts)
        # No toolbar: the view starts at the element's top.
        self.assertEqual(page.evaluate('v.shadowRoot.querySelector(".view").getBoundingClientRect().top'), 0)
        width, _, light = page.screenshot((0, 0, 900, 200))

        def pixel(data, x, y):
            return tuple(data[(y * width + x) * 4:(y * width + x) * 4 + 3])
        self.assertEqual(pixel(light, 890, 100), (255, 0, 0))   # the letterbox beside the fitted plan
        middle = [pixel(light, x, y) for x in range(400, 500, 7) for y in range(50, 150, 7)]
        self.assertGreater(len(set(middle)), 1)
        page.send('Emulation.setEmulatedMedia', features=[{'name': 'prefers-color-scheme', 'value': 'dark'},
                                                         {'name': 'prefers-reduced-motion', 'value': 'reduce'}])
        self.settle(page)
        style = page.evaluate("""(() => ({
            toolbar: getComputedStyle(v.shadowRoot.querySelector('.toolbar')).backgroundColor,
            busy: getComputedStyle(v.shadowRoot.querySelector('.progress .value')).animationName }))()""")
        self.assertNotEqual(style['toolbar'], 'rgb(192, 192, 192)')
        self.assertEqual(style['busy'], 'none')
        _, _, dark = page.screenshot((0, 0, 900, 200))
        self.assertEqual([pixel(dark, x, y) for x in range(400, 500, 7) for y in range(50, 150, 7)], middle)
        self.assertEqual(pixel(dark, 890, 100), (255, 0, 0))   # the page's colour wins over the scheme's
        page.send('Emulation.setEmulatedMedia', features=[])
        # A list of buttons shows those alone, in the toolbar's order (the
        # element's own full screen button last).
        page.evaluate('v.toolbar = "full-screen print, zoom-in"')
        self.assertEqual(page.evaluate("""[...v.shadowRoot.querySelectorAll('.toolbar button')]
            .filter((b) => b.getBoundingClientRect().width > 0).map((b) => b.title)"""),
            ['Zoom in', 'Print', 'Full screen'])
        self.assertEqual(page.evaluate('v.shadowRoot.querySelector(".view").getBoundingClientRect().top'), 40)
        # The pictures stand on the page's toolbar colour, not on a grey tile.
        page.evaluate('v.style.setProperty("--htf-toolbar-background", "rgb(0, 0, 255)")')
        self.settle(page)
        corners = page.evaluate('''[...v.shadowRoot.querySelectorAll('.toolbar img')]
            .map((i) => i.getBoundingClientRect()).filter((r) => r.width > 0).map((r) => [r.x, r.y])''')
        _, _, toolbar = page.screenshot((0, 0, 900, 200))
        self.assertEqual([pixel(toolbar, int(x) + 1, int(y) + 1) for x, y in corners], [(0, 0, 255)] * 3)
        # The page's own error content stands in the error's slot.
        page.evaluate('window.seen = []; v.src = "missing.htf"')
        page.wait_for('window.seen.length > 0')
        shown = page.evaluate("""(() => [v.querySelector('b').getBoundingClientRect().width > 0,
            v.shadowRoot.querySelector('.message').getBoundingClientRect().width])()""")
        self.assertEqual(shown, [True, 0])


    # --- types ---

    def test_the_types_check_a_page_and_a_react_component_under_strict_typescript(self):
        app = self.app('types-app')
        for name in os.listdir(os.path.join(HERE, 'types')):
            shutil.copy(os.path.join(HERE, 'types', name), app)
        for name in ('@types', 'csstype'):
            os.symlink(self.tool(name), os.path.join(app, 'node_modules', name))
        run(['node', self.tool('typescript', 'bin', 'tsc'), '-p', 'tsconfig.json'], app)

if __name__ == '__main__':
    BUILD = os.path.abspath(sys.argv.pop(1))
    unittest.main()
