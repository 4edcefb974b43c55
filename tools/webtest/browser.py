"""A small client of Chromium's DevTools protocol and a local web server, for
the browser element's tests, demo and benchmark.

    with WebServer(directory) as server, Browser() as browser:
        page = browser.open(server.url('page.html'))
        page.evaluate('1 + 1')

Debian's chromium runs headless with a profile of its own in a temporary
folder; closing the browser waits for every one of its processes by PID.
The server listens on 127.0.0.1 only and records every path requested.
Needs Debian's python3-websocket (visible to /usr/bin/python3)."""

import base64
import http.server
import json
import os
import shutil
import signal
import struct
import subprocess
import tempfile
import threading
import time
import urllib.request
import zlib

import websocket  # python3-websocket

from localserver import serve


class WebServer:
    """Serves a folder on 127.0.0.1 at a free port, recording request paths."""

    def __init__(self, directory, extra=None, fallbacks=(), cors=False, headers=None):
        self.directory = directory
        self.cors = cors             # lets pages of any origin read what it serves
        self.headers = headers or {}   # path suffix -> {header: value}, e.g. a page's Content-Security-Policy
        self.extra = extra or {}     # path -> folder serving paths below it
        self.fallbacks = list(fallbacks)   # folders searched when `directory` lacks a file
        self.requests = []
        self._lock = threading.Lock()

    def __enter__(self):
        server = self

        class Handler(http.server.SimpleHTTPRequestHandler):
            extensions_map = dict(http.server.SimpleHTTPRequestHandler.extensions_map,
                                  **{'.js': 'text/javascript', '.mjs': 'text/javascript',
                                     '.wasm': 'application/wasm', '.htf': 'application/x-RAVO-VavIrez'})

            def __init__(self, *args, **kwargs):
                super().__init__(*args, directory=server.directory, **kwargs)

            def translate_path(self, path):
                for prefix, folder in server.extra.items():
                    if path.split('?')[0].startswith(prefix):
                        rest = path.split('?')[0][len(prefix):].lstrip('/')
                        return os.path.join(folder, *rest.split('/'))
                local = super().translate_path(path)
                if not os.path.exists(local):
                    relative = os.path.relpath(local, server.directory)
                    for folder in server.fallbacks:
                        candidate = os.path.join(folder, relative)
                        if not relative.startswith('..') and os.path.exists(candidate):
                            return candidate
                return local

            def do_GET(self):
                with server._lock:
                    server.requests.append(self.path)
                super().do_GET()

            def end_headers(self):
                self.send_header('Cache-Control', 'no-store')
                if server.cors:
                    self.send_header('Access-Control-Allow-Origin', '*')
                for suffix, headers in server.headers.items():
                    if self.path.split('?')[0].endswith(suffix):
                        for name, value in headers.items():
                            self.send_header(name, value)
                super().end_headers()

            def log_message(self, *args):
                pass

        self._httpd, self._thread = serve(Handler, 0)
        self.port = self._httpd.server_address[1]
        return self

    def __exit__(self, *exc):
        self._httpd.shutdown()
        self._httpd.server_close()
        self._thread.join(10)

    def url(self, path=''):
        return 'http://127.0.0.1:%d/%s' % (self.port, path.lstrip('/'))

    def requested(self, fragment):
        with self._lock:
            return [r for r in self.requests if fragment in r]

    def forget(self):
        with self._lock:
            self.requests.clear()


class DevToolsError(Exception):
    pass


def exchange(ws, command, timeout, other):
    """Sends a command (a dict with its 'id') over a WebSocket and returns the
    answer of that id, None after `timeout` seconds; every other message that
    comes meanwhile (the browser's events) goes to other(message)."""
    ws.send(json.dumps(command))
    deadline = time.monotonic() + timeout
    while time.monotonic() <= deadline:
        message = json.loads(ws.recv())
        if message.get('id') == command['id']:
            return message
        other(message)
    return None


class Page:
    """One tab: commands, events, script evaluation, input and screenshots."""

    def __init__(self, ws_url, timeout):
        self._ws = websocket.create_connection(ws_url, timeout=timeout, suppress_origin=True)
        self._next = 0
        self.events = []
        self.timeout = timeout
        self.send('Page.enable')
        self.send('Runtime.enable')

    def close(self):
        try:
            self._ws.close()
        except Exception:
            pass

    def send(self, method, **params):
        self._next += 1
        answer = exchange(self._ws, {'id': self._next, 'method': method, 'params': params}, self.timeout,
                          lambda message: 'method' in message and self.events.append(message))
        if answer is None:
            raise DevToolsError('%s: no answer' % method)
        if 'error' in answer:
            raise DevToolsError('%s: %s' % (method, answer['error']))
        return answer.get('result', {})

    def evaluate(self, expression, await_promise=True):
        """The value of a script expression (JSON-serialisable)."""
        result = self.send('Runtime.evaluate', expression=expression, awaitPromise=await_promise,
                           returnByValue=True, userGesture=True)
        if 'exceptionDetails' in result:
            details = result['exceptionDetails']
            text = details.get('exception', {}).get('description') or details.get('text')
            raise DevToolsError('script failed: %s' % text)
        return result['result'].get('value')

    def wait_for(self, expression, timeout=20.0, interval=0.05):
        """Waits until a script expression is truthy; returns its value."""
        deadline = time.monotonic() + timeout
        while True:
            value = self.evaluate(expression)
            if value:
                return value
            if time.monotonic() > deadline:
                raise DevToolsError('timed out waiting for: %s' % expression)
            time.sleep(interval)

    def navigate(self, url):
        self.send('Page.navigate', url=url)

    def mouse(self, kind, x, y, button='none', buttons=0, click_count=0, modifiers=0):
        self.send('Input.dispatchMouseEvent', type=kind, x=x, y=y, button=button, buttons=buttons,
                  clickCount=click_count, modifiers=modifiers)

    def move(self, x, y, buttons=0):
        self.mouse('mouseMoved', x, y, button='left' if buttons else 'none', buttons=buttons)

    def click(self, x, y):
        self.mouse('mousePressed', x, y, button='left', buttons=1, click_count=1)
        self.mouse('mouseReleased', x, y, button='left', buttons=0, click_count=1)

    def wheel(self, x, y, dx, dy, modifiers=0):
        self.send('Input.dispatchMouseEvent', type='mouseWheel', x=x, y=y, deltaX=dx, deltaY=dy,
                  modifiers=modifiers)

    def touch(self, kind, points, modifiers=0):
        """A touch event: kind touchStart, touchMove, touchEnd or touchCancel;
        points [(x, y)] or [(x, y, id)] of the contacts still down."""
        touch_points = [dict(x=p[0], y=p[1], id=p[2] if len(p) > 2 else i, radiusX=1, radiusY=1, force=1)
                        for i, p in enumerate(points)]
        self.send('Input.dispatchTouchEvent', type=kind, touchPoints=touch_points, modifiers=modifiers)

    def tap(self, x, y):
        self.touch('touchStart', [(x, y)])
        self.touch('touchEnd', [])

    def emulate(self, width, height, ratio=1, touch=False):
        """The screen as a device of `ratio` device pixels per CSS pixel, with touch or not."""
        self.send('Emulation.setDeviceMetricsOverride', width=width, height=height, deviceScaleFactor=ratio,
                  mobile=False)
        self.send('Emulation.setTouchEmulationEnabled', enabled=touch, maxTouchPoints=5 if touch else 1)

    KEYS = {'Tab': 9, 'Enter': 13, 'Escape': 27, ' ': 32, 'ArrowDown': 40, 'ArrowRight': 39, 'Home': 36,
            'End': 35, '+': 187, '-': 189, '0': 48, '1': 49}

    def key(self, key, modifiers=0):
        code = self.KEYS.get(key, 0)
        text = {'Enter': '\r', ' ': ' ', '+': '+', '-': '-', '0': '0', '1': '1'}.get(key, '')
        self.send('Input.dispatchKeyEvent', type='keyDown' if text else 'rawKeyDown', key=key,
                  windowsVirtualKeyCode=code, text=text, modifiers=modifiers)
        self.send('Input.dispatchKeyEvent', type='keyUp', key=key, windowsVirtualKeyCode=code, modifiers=modifiers)

    def screenshot(self, clip=None, scale=1):
        """The page as (width, height, rgba bytes); `scale` device pixels per CSS pixel of the clip."""
        params = {'format': 'png'}
        if clip:
            params['clip'] = dict(x=clip[0], y=clip[1], width=clip[2], height=clip[3], scale=scale)
        data = base64.b64decode(self.send('Page.captureScreenshot', **params)['data'])
        return decode_png(data)

    def save_screenshot(self, path, clip=None):
        params = {'format': 'png'}
        if clip:
            params['clip'] = dict(x=clip[0], y=clip[1], width=clip[2], height=clip[3], scale=1)
        with open(path, 'wb') as f:
            f.write(base64.b64decode(self.send('Page.captureScreenshot', **params)['data']))


class Browser:
    """Debian's chromium, headless (or in a window), with its own profile."""

    def __init__(self, headless=True, width=1200, height=900, timeout=60.0):
        self.headless = headless
        self.width, self.height = width, height
        self.timeout = timeout
        self.pages = []

    def __enter__(self):
        self._profile = tempfile.mkdtemp(prefix='htf-chromium-')
        args = ['/usr/bin/chromium', '--no-sandbox', '--disable-gpu', '--no-first-run',
                '--no-default-browser-check', '--disable-extensions', '--disable-background-networking',
                '--disable-component-update', '--disable-sync', '--password-store=basic',
                '--remote-debugging-port=0', '--remote-allow-origins=*',
                '--user-data-dir=' + self._profile, '--window-size=%d,%d' % (self.width, self.height),
                '--enable-precise-memory-info']
        if self.headless:
            args += ['--headless=new', '--hide-scrollbars']
        args.append('about:blank')
        self._process = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                         start_new_session=True)
        deadline = time.monotonic() + self.timeout
        port_file = os.path.join(self._profile, 'DevToolsActivePort')
        while not os.path.exists(port_file) or os.path.getsize(port_file) == 0:
            if self._process.poll() is not None or time.monotonic() > deadline:
                self._stop()
                raise DevToolsError('chromium did not start')
            time.sleep(0.05)
        with open(port_file) as f:
            self.port = int(f.readline().strip())
        return self

    def __exit__(self, *exc):
        self._stop()

    def open(self, url):
        """A new tab at `url`."""
        request = urllib.request.Request('http://127.0.0.1:%d/json/new?%s' % (self.port, url), method='PUT')
        with urllib.request.urlopen(request, timeout=self.timeout) as response:
            target = json.loads(response.read())
        page = Page(target['webSocketDebuggerUrl'], self.timeout)
        page.target_id = target['id']
        if not self.headless:
            page.send('Page.bringToFront')
        self.pages.append(page)
        return page

    def targets(self):
        """The browser's tabs and windows: [{id, url, type}]."""
        with urllib.request.urlopen('http://127.0.0.1:%d/json/list' % self.port, timeout=self.timeout) as response:
            return [t for t in json.loads(response.read()) if t.get('type') == 'page']

    def attach(self, target):
        """A Page for a tab the browser opened by itself."""
        page = Page(target['webSocketDebuggerUrl'], self.timeout)
        page.target_id = target['id']
        self.pages.append(page)
        return page

    def process_ids(self):
        """The browser's process and every process it started."""
        found = {self._process.pid}
        changed = True
        while changed:
            changed = False
            for entry in os.listdir('/proc'):
                if not entry.isdigit() or int(entry) in found:
                    continue
                try:
                    with open('/proc/%s/stat' % entry) as f:
                        parent = int(f.read().rsplit(')', 1)[1].split()[1])
                except OSError:
                    continue
                if parent in found:
                    found.add(int(entry))
                    changed = True
        return found

    def renderer_memory(self):
        """(current, peak) resident kilobytes of the renderer processes, summed."""
        current = peak = 0
        for pid in self.process_ids():
            try:
                with open('/proc/%d/cmdline' % pid, 'rb') as f:
                    if b'--type=renderer' not in f.read():
                        continue
                with open('/proc/%d/status' % pid) as f:
                    for line in f:
                        if line.startswith('VmRSS:'):
                            current += int(line.split()[1])
                        elif line.startswith('VmHWM:'):
                            peak += int(line.split()[1])
            except OSError:
                continue
        return current, peak

    def _stop(self):
        for page in self.pages:
            page.close()
        self.pages = []
        process = getattr(self, '_process', None)
        if process:
            pids = self.process_ids() if process.poll() is None else {process.pid}
            try:
                os.killpg(process.pid, signal.SIGTERM)
            except OSError:
                pass
            try:
                process.wait(15)
            except subprocess.TimeoutExpired:
                os.killpg(process.pid, signal.SIGKILL)
                process.wait(15)
            if process.stderr:
                process.stderr.close()
            # Its helper processes outlive it briefly: wait for each by PID.
            deadline = time.monotonic() + 15
            for pid in pids:
                while os.path.exists('/proc/%d' % pid) and time.monotonic() < deadline:
                    try:
                        with open('/proc/%d/stat' % pid) as f:
                            if f.read().rsplit(')', 1)[1].split()[0] == 'Z':
                                break
                    except OSError:
                        break
                    time.sleep(0.05)
            self._process = None
        if getattr(self, '_profile', None):
            shutil.rmtree(self._profile, ignore_errors=True)
            self._profile = None


def decode_png(data):
    """(width, height, RGBA bytes) of an 8-bit RGB or RGBA, non-interlaced PNG."""
    if data[:8] != b'\x89PNG\r\n\x1a\n':
        raise ValueError('not a PNG')
    pos, idat, width = 8, b'', 0
    while pos < len(data):
        length, kind = struct.unpack('>I4s', data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b'IHDR':
            width, height, depth, colour, _, _, interlace = struct.unpack('>IIBBBBB', body)
            if depth != 8 or colour not in (2, 6) or interlace:
                raise ValueError('unsupported PNG')
            channels = 4 if colour == 6 else 3
        elif kind == b'IDAT':
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * channels
    out = bytearray(width * height * 4)
    previous = bytearray(stride)
    for y in range(height):
        f = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - channels] if i >= channels else 0
            b = previous[i]
            c = previous[i - channels] if i >= channels else 0
            if f == 1:
                line[i] = (line[i] + a) & 0xFF
            elif f == 2:
                line[i] = (line[i] + b) & 0xFF
            elif f == 3:
                line[i] = (line[i] + (a + b) // 2) & 0xFF
            elif f == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 0xFF
        previous = line
        for x in range(width):
            o = (y * width + x) * 4
            out[o:o + 3] = line[x * channels:x * channels + 3]
            out[o + 3] = line[x * channels + 3] if channels == 4 else 255
    return width, height, bytes(out)
