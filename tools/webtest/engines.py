"""The three browser engines the element is tested in, behind one small
interface, each driven by the protocol it speaks:

    chromium  Debian's chromium, headless, through its DevTools protocol
              (browser.py)
    firefox   Debian's firefox-esr in a window on a virtual display, through
              WebDriver BiDi (a WebSocket the browser itself serves)
    webkit    WebKitGTK's MiniBrowser in a window on a virtual display,
              through WebKitWebDriver (WebDriver over HTTP)

    with VirtualDisplay(), engine('firefox') as browser:
        page = browser.open(url)
        page.evaluate('1 + 1'); page.click(10, 10); page.screenshot((0, 0, 8, 8))

Every page collects the console's warnings and errors and the page's
uncaught errors (`problems()`). Coordinates are CSS pixels of the page;
screenshots are in device pixels. Needs python3-websocket and python3-pil
(both visible to /usr/bin/python3 only)."""

import base64
import io
import json
import os
import shutil
import signal
import socket
import subprocess
import tempfile
import time
import urllib.error
import urllib.parse
import urllib.request

import websocket  # python3-websocket
from PIL import Image  # python3-pil

import browser as chromium_cdp

FIREFOX = '/usr/bin/firefox-esr'
WEBKIT_DRIVER = '/usr/bin/WebKitWebDriver'
MINIBROWSER = '/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser'
ENGINES = ('chromium', 'firefox', 'webkit')

# WebDriver's key values for the keys the tests press.
KEYS = {'Tab': '\ue004', 'Enter': '\ue007', 'Escape': '\ue00c'}


class EngineError(Exception):
    pass


def rgba(png):
    """(width, height, RGBA bytes) of a PNG."""
    image = Image.open(io.BytesIO(png)).convert('RGBA')
    return image.width, image.height, image.tobytes()


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


def stop_process(process, timeout=15):
    """Ends a process started in a session of its own, and its children."""
    if process.poll() is None:
        try:
            os.killpg(process.pid, signal.SIGTERM)
        except OSError:
            pass
        try:
            process.wait(timeout)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            process.wait(timeout)


class VirtualDisplay:
    """Xvfb on a display number it picks itself (-displayfd), so that runs side
    by side never race for one; DISPLAY is set while it runs. Firefox and
    WebKitGTK get real windows there, and with them the keyboard focus."""

    def __init__(self, width=1400, height=1100):
        self.size = (width, height)

    def __enter__(self):
        read, write = os.pipe()
        self._process = subprocess.Popen(
            ['Xvfb', '-displayfd', str(write), '-screen', '0', '%dx%dx24' % self.size, '-nolisten', 'tcp'],
            pass_fds=(write,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
        os.close(write)
        with os.fdopen(read) as f:
            number = f.readline().strip()
        if not number:
            stop_process(self._process)
            raise EngineError('Xvfb did not start')
        self._previous = os.environ.get('DISPLAY')
        os.environ['DISPLAY'] = ':' + number
        return self

    def __exit__(self, *exc):
        stop_process(self._process)
        if self._previous is None:
            os.environ.pop('DISPLAY', None)
        else:
            os.environ['DISPLAY'] = self._previous


def poll(probe, what, timeout=20.0, interval=0.1):
    """The first truthy value of probe(), called until `timeout`; errors on
    the way (a document being replaced) count as not yet."""
    deadline = time.monotonic() + timeout
    error = None
    while time.monotonic() < deadline:
        try:
            value = probe()
            if value:
                return value
        except Exception as e:   # noqa: BLE001 - reported if it never succeeds
            error = e
        time.sleep(interval)
    raise EngineError('timed out waiting for %s%s' % (what, ' (last error: %s)' % error if error else ''))


def wrap(expression):
    """A script body whose promise gives the expression's awaited value as JSON."""
    return ('(async () => { const value = await (%s);\n'
            '  return JSON.stringify(value === undefined ? null : value); })()' % expression)


class EnginePage:
    """What every engine's page offers the tests."""

    timeout = 60.0

    def wait_for(self, expression, timeout=20.0, interval=0.05):
        """Waits until a script expression is truthy; returns its value."""
        return poll(lambda: self.evaluate(expression), '%s: %s' % (self.engine, expression), timeout, interval)

    def click(self, x, y):
        self.pointer([('move', x, y), ('down',), ('up',)])

    def move(self, x, y):
        self.pointer([('move', x, y)])

    def touch_path(self, points):
        """One finger down at the first point, moved through the others, lifted."""
        steps = [('move',) + tuple(points[0]), ('down',)] + [('move',) + tuple(p) for p in points[1:]] + [('up',)]
        self.pointer(steps, kind='touch')

    @staticmethod
    def webdriver_actions(steps, kind):
        """WebDriver's input source for pointer steps (move, down, up)."""
        actions = []
        for step in steps:
            if step[0] == 'move':
                actions.append({'type': 'pointerMove', 'x': int(step[1]), 'y': int(step[2]), 'duration': 0})
            else:
                actions.append({'type': 'pointerDown' if step[0] == 'down' else 'pointerUp', 'button': 0})
        return {'type': 'pointer', 'id': kind, 'parameters': {'pointerType': kind}, 'actions': actions}

    @staticmethod
    def webdriver_key(key):
        value = KEYS.get(key, key)
        return {'type': 'key', 'id': 'keyboard',
                'actions': [{'type': 'keyDown', 'value': value}, {'type': 'keyUp', 'value': value}]}


# --- Chromium: the DevTools protocol ---

class ChromiumPage(EnginePage):
    engine = 'chromium'

    def __init__(self, browser, page):
        self._browser, self._page = browser, page
        page.send('Log.enable')

    def evaluate(self, expression):
        try:
            return json.loads(self._page.evaluate(wrap(expression)))
        except chromium_cdp.DevToolsError as error:
            raise EngineError('chromium: %s' % error)

    def pointer(self, steps, kind='mouse'):
        x = y = 0
        down = False
        for step in steps:
            if step[0] == 'move':
                x, y = step[1], step[2]
                if kind == 'touch':
                    if down:
                        self._page.touch('touchMove', [(x, y)])
                else:
                    self._page.move(x, y, buttons=1 if down else 0)
            elif step[0] == 'down':
                down = True
                if kind == 'touch':
                    self._page.touch('touchStart', [(x, y)])
                else:
                    self._page.mouse('mousePressed', x, y, button='left', buttons=1, click_count=1)
            else:
                down = False
                if kind == 'touch':
                    self._page.touch('touchEnd', [])
                else:
                    self._page.mouse('mouseReleased', x, y, button='left', buttons=0, click_count=1)

    def key(self, key):
        self._page.key(key)

    def screenshot(self, clip):
        return self._page.screenshot(clip)   # in device pixels under an emulated ratio too

    def set_ratio(self, ratio, touch=False):
        size = self.evaluate('[innerWidth, innerHeight]')
        self._page.emulate(size[0], size[1], ratio=ratio, touch=touch)

    def problems(self):
        self._page.send('Runtime.evaluate', expression='0')   # collects the events sent meanwhile
        found = []
        for event in self._page.events:
            method, params = event.get('method'), event.get('params', {})
            if method == 'Runtime.consoleAPICalled' and params.get('type') in ('warning', 'error', 'assert'):
                found.append('console.%s: %s' % (params['type'], ' '.join(
                    str(a.get('value', a.get('description', ''))) for a in params.get('args', []))))
            elif method == 'Runtime.exceptionThrown':
                details = params.get('exceptionDetails', {})
                found.append('uncaught: %s' % (details.get('exception', {}).get('description') or details.get('text')))
            elif method == 'Log.entryAdded' and params.get('entry', {}).get('level') in ('warning', 'error'):
                entry = params['entry']
                found.append('%s %s: %s %s' % (entry.get('source'), entry['level'], entry.get('text'), entry.get('url', '')))
        return found

    def close(self):
        try:
            self._browser.pages.remove(self._page)
            self._page.send('Page.close')
        except Exception:
            pass
        self._page.close()


class Chromium:
    name = 'chromium'

    def __init__(self, width=1300, height=1000):
        self._browser = chromium_cdp.Browser(width=width, height=height)

    def __enter__(self):
        self._browser.__enter__()
        with urllib.request.urlopen('http://127.0.0.1:%d/json/version' % self._browser.port) as response:
            self.version = json.loads(response.read())['Browser']
        return self

    def __exit__(self, *exc):
        self._browser.__exit__(*exc)

    def windows(self):
        return {t['id'] for t in self._browser.targets()}

    def in_new_window(self, before, expression, timeout=20.0):
        """The truthy value of `expression` in a window opened since `before`
        (windows()); the window is closed after."""
        target = poll(lambda: [t for t in self._browser.targets() if t['id'] not in before], 'a new window', timeout)[0]
        page = ChromiumPage(self._browser, self._browser.attach(target))
        try:
            return page.wait_for(expression, timeout)
        finally:
            page.close()

    def open(self, url):
        # The address goes in the query of the browser's /json/new, which
        # unescapes it: escaped, its own query (with its '&') stays whole.
        page = ChromiumPage(self._browser, self._browser.open(urllib.parse.quote(url, safe=':/')))
        deadline = time.monotonic() + page.timeout
        while True:
            try:   # the new tab's first document (about:blank) goes away under the first scripts
                if page.evaluate('location.href !== "about:blank" && document.readyState === "complete"'):
                    break
            except EngineError:
                if time.monotonic() > deadline:
                    raise
            time.sleep(0.05)
        # Input sent before the first frames is lost.
        page.evaluate('new Promise((r) => requestAnimationFrame(() => requestAnimationFrame(r)))')
        return page


# --- Firefox: WebDriver BiDi ---

FIREFOX_PREFS = {
    'browser.shell.checkDefaultBrowser': False,
    'browser.startup.homepage_override.mstone': 'ignore',
    'browser.startup.page': 0,
    'datareporting.policy.dataSubmissionEnabled': False,
    'toolkit.telemetry.reportingpolicy.firstRun': False,
    'browser.aboutwelcome.enabled': False,
    'app.update.disabledForTesting': True,
    'browser.tabs.warnOnClose': False,
    'network.http.speculative-parallel-limit': 0,
    # The engine's own warnings (a deprecated WebAssembly instruction, say)
    # reach no WebDriver BiDi log; with this they go to the browser's output,
    # which problems() reads.
    'devtools.console.stdout.content': True,
}


class FirefoxPage(EnginePage):
    engine = 'firefox'

    def __init__(self, browser, context):
        self._browser, self.context = browser, context
        self._first_event = len(browser.events)
        self._output_from = browser.output_size()

    def evaluate(self, expression):
        result = self._browser.send('script.evaluate', expression=wrap(expression), awaitPromise=True,
                                    target={'context': self.context}, userActivation=True)
        if result.get('type') == 'exception':
            details = result.get('exceptionDetails', {})
            raise EngineError('firefox: script failed: %s' % details.get('text'))
        return json.loads(result['result']['value'])

    def pointer(self, steps, kind='mouse'):
        self._browser.send('input.performActions', context=self.context,
                           actions=[self.webdriver_actions(steps, kind)])

    def key(self, key):
        self._browser.send('input.performActions', context=self.context, actions=[self.webdriver_key(key)])

    def screenshot(self, clip):
        x, y, w, h = clip
        data = self._browser.send('browsingContext.captureScreenshot', context=self.context,
                                  clip={'type': 'box', 'x': x, 'y': y, 'width': w, 'height': h})['data']
        return rgba(base64.b64decode(data))

    def set_ratio(self, ratio, touch=False):
        size = self.evaluate('[innerWidth, innerHeight]')
        self._browser.send('browsingContext.setViewport', context=self.context,
                           viewport={'width': size[0], 'height': size[1]}, devicePixelRatio=ratio)

    def problems(self):
        self._browser.send('script.evaluate', expression='0', awaitPromise=False, target={'context': self.context})
        found = []
        # Since this page opened: its frames' and workers' entries too.
        for event in self._browser.events[self._first_event:]:
            params = event.get('params', {})
            if event.get('method') != 'log.entryAdded':
                continue
            if params.get('level') in ('warn', 'error'):
                found.append('%s %s: %s' % (params.get('type'), params['level'], params.get('text')))
        # The engine's warnings and errors about pages; the browser's own
        # (from its chrome:// and resource:// code) are not the page's.
        for line in self._browser.output(self._output_from).splitlines():
            if line.startswith(('JavaScript warning:', 'JavaScript error:')) and \
                    not line.split(':', 1)[1].strip().startswith(('chrome:', 'resource:', 'moz-extension:')):
                found.append(line)
        return found

    def close(self):
        try:
            self._browser.send('browsingContext.close', context=self.context)
        except Exception:
            pass


class Firefox:
    """firefox-esr with a profile of its own in a temporary folder."""

    name = 'firefox'

    def __init__(self, width=1300, height=1000, timeout=60.0):
        self.size = (width, height)
        self.timeout = timeout
        self.events = []
        self._next = 0

    def __enter__(self):
        self._profile = tempfile.mkdtemp(prefix='htf-firefox-')
        with open(os.path.join(self._profile, 'user.js'), 'w') as f:
            for name, value in FIREFOX_PREFS.items():
                f.write('user_pref(%s, %s);\n' % (json.dumps(name), json.dumps(value)))
        self._output = os.path.join(self._profile, 'output.log')
        with open(self._output, 'wb') as output:
            self._process = subprocess.Popen(
                [FIREFOX, '--no-remote', '--new-instance', '--profile', self._profile, '--remote-debugging-port=0',
                 '--width', str(self.size[0]), '--height', str(self.size[1]), 'about:blank'],
                stdout=output, stderr=subprocess.STDOUT, start_new_session=True)
        server_file = os.path.join(self._profile, 'WebDriverBiDiServer.json')
        deadline = time.monotonic() + self.timeout
        port = None
        while port is None:
            try:
                with open(server_file) as f:
                    port = json.load(f)['ws_port']
            except (OSError, ValueError, KeyError):
                if self._process.poll() is not None or time.monotonic() > deadline:
                    self.__exit__()
                    raise EngineError('firefox did not start')
                time.sleep(0.1)
        self._ws = websocket.create_connection('ws://127.0.0.1:%d/session' % port, timeout=self.timeout,
                                               suppress_origin=True)
        self.version = 'Firefox ' + self.send('session.new', capabilities={})['capabilities']['browserVersion']
        self.send('session.subscribe', events=['log.entryAdded'])
        return self

    def __exit__(self, *exc):
        ws = getattr(self, '_ws', None)
        if ws:
            try:
                self.send('browser.close')
            except Exception:
                pass
            ws.close()
            self._ws = None
        if getattr(self, '_process', None):
            try:
                self._process.wait(15)
            except subprocess.TimeoutExpired:
                pass
            stop_process(self._process)
            self._process = None
        if getattr(self, '_profile', None):
            shutil.rmtree(self._profile, ignore_errors=True)
            self._profile = None

    def output_size(self):
        return os.path.getsize(self._output)

    def output(self, start):
        """What the browser wrote to its output from byte `start` on."""
        with open(self._output, 'rb') as f:
            f.seek(start)
            return f.read().decode('utf-8', 'replace')

    def send(self, method, **params):
        self._next += 1
        answer = chromium_cdp.exchange(self._ws, {'id': self._next, 'method': method, 'params': params}, self.timeout,
                                       lambda message: message.get('type') == 'event' and self.events.append(message))
        if answer is None:
            raise EngineError('firefox: %s: no answer' % method)
        if answer.get('type') == 'error':
            raise EngineError('firefox: %s: %s: %s' % (method, answer.get('error'), answer.get('message')))
        return answer.get('result', {})

    def windows(self):
        return {c['context'] for c in self.send('browsingContext.getTree', maxDepth=0)['contexts']}

    def in_new_window(self, before, expression, timeout=20.0):
        """The truthy value of `expression` in a window opened since `before`
        (windows()); the window is closed after."""
        context = poll(lambda: self.windows() - before, 'a new window', timeout).pop()
        page = FirefoxPage(self, context)
        try:
            return page.wait_for(expression, timeout)
        finally:
            page.close()

    def open(self, url):
        context = self.send('browsingContext.create', type='tab')['context']
        self.send('browsingContext.activate', context=context)
        self.send('browsingContext.navigate', context=context, url=url, wait='complete')
        return FirefoxPage(self, context)


# --- WebKitGTK: WebKitWebDriver, WebDriver over HTTP ---

class WebKitPage(EnginePage):
    engine = 'webkit'

    def __init__(self, browser):
        self._browser = browser

    def evaluate(self, expression):
        script = ('const done = arguments[arguments.length - 1];\n' + wrap(expression) +
                  '.then(done, (e) => done(JSON.stringify({ scriptFailed: String(e && e.stack || e) })));')
        value = json.loads(self._browser.command('POST', '/execute/async', {'script': script, 'args': []}))
        if isinstance(value, dict) and 'scriptFailed' in value:
            raise EngineError('webkit: script failed: %s' % value['scriptFailed'])
        return value

    def pointer(self, steps, kind='mouse'):
        self._browser.command('POST', '/actions', {'actions': [self.webdriver_actions(steps, kind)]})
        self._browser.command('DELETE', '/actions')

    def key(self, key):
        self._browser.command('POST', '/actions', {'actions': [self.webdriver_key(key)]})
        self._browser.command('DELETE', '/actions')

    def screenshot(self, clip):
        width, height, data = rgba(base64.b64decode(self._browser.command('GET', '/screenshot')))
        ratio = self.evaluate('devicePixelRatio')
        x, y, w, h = (round(v * ratio) for v in clip)
        rows = [data[((y + row) * width + x) * 4:((y + row) * width + x + w) * 4] for row in range(h)]
        return w, h, b''.join(rows)

    def problems(self):
        # WebDriver over HTTP hands out no console: the pages' own record
        # (problems.js, which every test page loads first) stands in for it.
        return self.evaluate('window.pageProblems || []')

    def close(self):
        pass


class WebKit:
    """WebKitWebDriver starting MiniBrowser in automation mode: one window,
    which every open() navigates."""

    name = 'webkit'

    def __init__(self, width=1300, height=1000, timeout=60.0):
        self.size = (width, height)
        self.timeout = timeout

    def __enter__(self):
        self._port = free_port()
        self._process = subprocess.Popen([WEBKIT_DRIVER, '--port=%d' % self._port], stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL, start_new_session=True)
        deadline = time.monotonic() + self.timeout
        while True:
            try:
                self.request('GET', '/status')
                break
            except OSError:
                if self._process.poll() is not None or time.monotonic() > deadline:
                    stop_process(self._process)
                    raise EngineError('WebKitWebDriver did not start')
                time.sleep(0.1)
        answer = self.request('POST', '/session', {'capabilities': {'alwaysMatch': {
            'webkitgtk:browserOptions': {'binary': MINIBROWSER, 'args': ['--automation']}}}})
        self._session = answer['sessionId']
        self.version = 'WebKitGTK ' + answer['capabilities']['browserVersion']
        self.command('POST', '/window/rect', {'width': self.size[0], 'height': self.size[1]})
        return self

    def __exit__(self, *exc):
        if getattr(self, '_session', None):
            try:
                self.command('DELETE', '')
            except Exception:
                pass
            self._session = None
        if getattr(self, '_process', None):
            stop_process(self._process)
            self._process = None

    def request(self, method, path, body=None):
        data = json.dumps(body).encode() if body is not None else None
        request = urllib.request.Request('http://127.0.0.1:%d%s' % (self._port, path), data=data, method=method,
                                         headers={'Content-Type': 'application/json'})
        try:
            with urllib.request.urlopen(request, timeout=self.timeout) as response:
                return json.loads(response.read())['value']
        except urllib.error.HTTPError as error:
            value = json.loads(error.read()).get('value', {})
            raise EngineError('webkit: %s %s: %s: %s' % (method, path, value.get('error'), value.get('message')))

    def command(self, method, path, body=None):
        if method == 'POST' and body is None:
            body = {}
        return self.request(method, '/session/%s%s' % (self._session, path), body)

    def windows(self):
        return set(self.command('GET', '/window/handles'))

    def in_new_window(self, before, expression, timeout=20.0):
        """The truthy value of `expression` in a window opened since `before`
        (windows()); the window is closed after and the first one is current again."""
        own = self.command('GET', '/window')
        handle = poll(lambda: self.windows() - before, 'a new window', timeout).pop()
        self.command('POST', '/window', {'handle': handle})
        try:
            return WebKitPage(self).wait_for(expression, timeout)
        finally:
            self.command('DELETE', '/window')
            self.command('POST', '/window', {'handle': own})

    def open(self, url):
        self.command('POST', '/url', {'url': url})
        return WebKitPage(self)


def engine(name, **options):
    return {'chromium': Chromium, 'firefox': Firefox, 'webkit': WebKit}[name](**options)
