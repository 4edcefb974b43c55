"""A small HTTP server for the element's tests, benchmarks and demo that
answers range requests (Python's http.server does not) with a validator
and If-Range as production servers do (an ETag from the file's time and
size, Last-Modified; a range whose If-Range names neither is answered with
the whole file, a failed If-Match or If-Unmodified-Since with 412), and logs what it sent: one entry per answer with the path,
the range asked for, the status and the body bytes sent.

    with RangeServer('examples', extra={'/web': 'build/web'}) as server:
        server.url('index.html'); server.bytes_sent('/docs/big.htf')

Modes, changeable while it serves (for the tests):
  ranges = False        answer every request with the whole file (200), as
                        a server without range support does
  hold_after = N        hold back answers for ranges that start at or after
                        byte N until release() is called (the directories
                        come first, the pixels wait); hold(N, path) holds
                        those of paths containing `path` only
  pause_at = N          stop an answer's body just before byte N of the file
                        until release() is called (a download caught in
                        the middle: pause(N))
  damage = 'short'      a 206 answer with fewer body bytes than its
                        Content-Length promises (the connection then closes)
         = 'wrong-range'  a 206 answer whose Content-Range names other bytes
         = 'no-range'   a 206 answer without Content-Range
  damage_after = N      damage only ranges that start at or after byte N

Run alone: python3 rangeserver.py FOLDER [--port N] [--no-ranges]."""

import email.utils
import http.server
import os
import re
import sys
import threading

from localserver import serve

TYPES = {'.js': 'text/javascript', '.mjs': 'text/javascript', '.wasm': 'application/wasm',
         '.htf': 'application/x-RAVO-VavIrez', '.html': 'text/html; charset=utf-8', '.png': 'image/png',
         '.cur': 'image/x-icon', '.css': 'text/css', '.tif': 'image/tiff', '.tiff': 'image/tiff'}

RANGE = re.compile(r'^bytes=(\d*)-(\d*)$')


def parse_range(header, size):
    """(first, last) inclusive for a single 'bytes=' range, None for no
    usable range (the whole file is sent), 'unsatisfiable' past the end."""
    m = RANGE.match(header.strip()) if header else None
    if not m or (not m.group(1) and not m.group(2)):
        return None
    if not m.group(1):                      # the last N bytes
        n = int(m.group(2))
        if n == 0:
            return 'unsatisfiable'
        return max(0, size - n), size - 1
    first = int(m.group(1))
    last = int(m.group(2)) if m.group(2) else size - 1
    if m.group(2) and last < first:
        return None
    if first >= size:
        return 'unsatisfiable'
    return first, min(last, size - 1)


def not_since(date, mtime):
    """True when a file of this mtime was modified after the HTTP date."""
    try:
        return int(mtime) > email.utils.parsedate_to_datetime(date).timestamp()
    except (TypeError, ValueError):
        return False


class RangeServer:
    """Serves a folder on 127.0.0.1 at a free port (or `port`)."""

    def __init__(self, directory, extra=None, fallbacks=(), port=0, ranges=True):
        self.directory = directory
        self.extra = extra or {}            # path prefix -> folder serving paths below it
        self.fallbacks = list(fallbacks)    # folders searched when `directory` lacks a file
        self.port = port
        self.ranges = ranges
        self.hold_after = None
        self.hold_path = ''
        self.pause_at = None
        self.damage = None
        self.damage_after = 0
        self.cacheable = ()                 # path prefixes a browser may keep (a day), as a site's versioned files
        self.log = []                       # (path, range header or None, status, body bytes sent)
        self.asked = []                     # (path, range header) as each request comes, before its answer
        self._lock = threading.Lock()
        self._released = threading.Event()
        self._released.set()

    # --- What it sent ---

    def requested(self, fragment):
        with self._lock:
            return [entry[0] for entry in self.log if fragment in entry[0]]

    @property
    def requests(self):
        with self._lock:
            return [entry[0] for entry in self.log]

    def entries(self, fragment=''):
        with self._lock:
            return [entry for entry in self.log if fragment in entry[0]]

    def bytes_sent(self, fragment=''):
        return sum(entry[3] for entry in self.entries(fragment))

    def forget(self):
        with self._lock:
            self.log.clear()
            self.asked.clear()

    def asked_for(self, fragment=''):
        """The (path, range header) of every request for a path containing
        `fragment` that came, answered or not (an answer is logged only once
        it is sent)."""
        with self._lock:
            return [entry for entry in self.asked if fragment in entry[0]]

    def hold(self, after, path=''):
        """Holds back answers for ranges starting at or after byte `after`
        (of the paths containing `path`)."""
        self.hold_after = after
        self.hold_path = path
        self._released.clear()

    def pause(self, at):
        """Stops the answer that sends byte `at` just before it."""
        self.pause_at = at
        self._released.clear()

    def release(self):
        self.hold_after = None
        self.hold_path = ''
        self.pause_at = None
        self._released.set()

    def url(self, path=''):
        return 'http://127.0.0.1:%d/%s' % (self.port, path.lstrip('/'))

    # --- Serving ---

    def local_path(self, url_path):
        path = url_path.split('?')[0].split('#')[0]
        parts = [p for p in path.split('/') if p]
        if any(p in ('..', '.') or '\\' in p for p in parts):
            return None
        for prefix, folder in self.extra.items():
            if path.startswith(prefix.rstrip('/') + '/'):
                rest = [p for p in path[len(prefix):].split('/') if p]
                return os.path.join(folder, *rest)
        local = os.path.join(self.directory, *parts)
        if os.path.isdir(local):
            local = os.path.join(local, 'index.html')
        if not os.path.exists(local):
            for folder in self.fallbacks:
                candidate = os.path.join(folder, *parts)
                if os.path.isfile(candidate):
                    return candidate
        return local

    def __enter__(self):
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = 'HTTP/1.1'
            # The headers and the body go out in separate writes: with Nagle's
            # algorithm the body of a small answer on a kept-alive connection
            # waits for the browser's delayed acknowledgement (about 40 ms a
            # request). Production servers send without that delay.
            disable_nagle_algorithm = True

            def record(self, status, sent):
                with server._lock:
                    server.log.append((self.path, self.headers.get('Range'), status, sent))

            def plain(self, status, text, extra=()):
                body = text.encode()
                self.send_response(status)
                self.send_header('Content-Type', 'text/plain; charset=utf-8')
                self.send_header('Content-Length', str(len(body)))
                for name, value in extra:
                    self.send_header(name, value)
                self.end_headers()
                if self.command != 'HEAD':
                    self.wfile.write(body)
                self.record(status, 0)

            def do_HEAD(self):
                self.do_GET()

            def do_GET(self):
                with server._lock:
                    server.asked.append((self.path, self.headers.get('Range')))
                local = server.local_path(self.path)
                if not local or not os.path.isfile(local):
                    return self.plain(404, 'not found')
                stat = os.stat(local)
                size = stat.st_size
                etag = '"%x-%x"' % (int(stat.st_mtime), size)
                modified = email.utils.formatdate(stat.st_mtime, usegmt=True)
                if_range = self.headers.get('If-Range')
                wanted = parse_range(self.headers.get('Range'), size) if server.ranges else None
                if_match, unmodified = self.headers.get('If-Match'), self.headers.get('If-Unmodified-Since')
                if (if_match is not None and if_match.strip() != '*' and etag not in [
                        tag.strip() for tag in if_match.split(',')]) or (
                        unmodified is not None and not_since(unmodified, stat.st_mtime)):
                    return self.plain(412, 'precondition failed')
                if wanted and if_range is not None and if_range not in (etag, modified):
                    wanted = None   # the file changed: the whole of it
                if wanted == 'unsatisfiable':
                    return self.plain(416, 'range not satisfiable', [('Content-Range', 'bytes */%d' % size)])
                first, last = wanted if wanted else (0, size - 1)
                if wanted and server.hold_after is not None and first >= server.hold_after \
                        and server.hold_path in self.path:
                    server._released.wait(60)
                status = 206 if wanted else 200
                length = last - first + 1 if size else 0
                damage = server.damage if wanted and first >= server.damage_after else None
                self.send_response(status)
                self.send_header('Content-Type', TYPES.get(os.path.splitext(local)[1].lower(),
                                                           'application/octet-stream'))
                self.send_header('Content-Length', str(length))
                cached = any(self.path.startswith(prefix) for prefix in server.cacheable)
                self.send_header('Cache-Control', 'max-age=86400' if cached else 'no-store')
                self.send_header('ETag', etag)
                self.send_header('Last-Modified', modified)
                if server.ranges:
                    self.send_header('Accept-Ranges', 'bytes')
                if wanted and damage != 'no-range':
                    shown = (first + 1, last + 1) if damage == 'wrong-range' else (first, last)
                    self.send_header('Content-Range', 'bytes %d-%d/%d' % (shown[0], shown[1], size))
                self.end_headers()
                sent = 0
                if self.command != 'HEAD' and length:
                    with open(local, 'rb') as f:
                        f.seek(first)
                        remaining = length if damage != 'short' else length // 2
                        at = first
                        while remaining > 0:
                            pause = server.pause_at
                            if pause is not None and at == pause:
                                self.wfile.flush()
                                server._released.wait(60)
                            step = pause - at if pause is not None and at < pause < at + (1 << 16) else 1 << 16
                            chunk = f.read(min(remaining, step))
                            if not chunk:
                                break
                            self.wfile.write(chunk)
                            sent += len(chunk)
                            at += len(chunk)
                            remaining -= len(chunk)
                    if damage == 'short':
                        self.close_connection = True
                self.record(status, sent)

            def log_message(self, *args):
                pass

        self._httpd, self._thread = serve(Handler, self.port)
        self.port = self._httpd.server_address[1]
        return self

    def __exit__(self, *exc):
        self._released.set()
        self._httpd.shutdown()
        self._httpd.server_close()
        self._thread.join(10)


def main():
    args = sys.argv[1:]
    if not args or args[0].startswith('-'):
        print(__doc__)
        return 2
    port = int(args[args.index('--port') + 1]) if '--port' in args else 8000
    with RangeServer(args[0], port=port, ranges='--no-ranges' not in args) as server:
        print('rangeserver: serving %s at %s (%s)' % (args[0], server.url(),
                                                      'with ranges' if server.ranges else 'without ranges'))
        try:
            threading.Event().wait()
        except KeyboardInterrupt:
            pass
    return 0


if __name__ == '__main__':
    sys.exit(main())
