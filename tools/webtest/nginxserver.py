"""Debian's nginx as a test server: started on 127.0.0.1 at a free port with
a configuration generated into a folder of its own, serving a folder with
byte ranges, ETag, Last-Modified and If-Range as a production server does.
Its access log gives what it sent, as RangeServer's log does.

    with NginxServer('docs', extra={'/web': 'build/web'}) as server:
        server.url('big.htf'); server.bytes_sent('/big.htf')

One process (no master, no daemon), as the user running the tests; stopped
by its own process handle. Run alone: python3 nginxserver.py FOLDER."""

import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

NGINX = '/usr/sbin/nginx'
TYPES = {'text/javascript': 'js mjs', 'application/wasm': 'wasm', 'application/x-RAVO-VavIrez': 'htf',
         'text/html': 'html', 'image/png': 'png', 'image/x-icon': 'cur', 'text/css': 'css', 'image/tiff': 'tif tiff'}

CONFIG = '''daemon off;
master_process off;
worker_processes 1;
pid %(work)s/nginx.pid;
error_log %(work)s/error.log warn;
events { worker_connections 256; }
http {
    types { %(types)s }
    default_type application/octet-stream;
    log_format ranges '$uri\\t$http_range\\t$status\\t$body_bytes_sent';
    access_log %(work)s/access.log ranges;
    client_body_temp_path %(work)s/body;
    proxy_temp_path %(work)s/proxy;
    fastcgi_temp_path %(work)s/fastcgi;
    uwsgi_temp_path %(work)s/uwsgi;
    scgi_temp_path %(work)s/scgi;
    server {
        listen 127.0.0.1:%(port)d;
        root %(root)s;
        add_header Cache-Control no-store;
%(locations)s
    }
}
'''


def available():
    return os.access(NGINX, os.X_OK)


def free_port():
    with socket.socket() as s:
        s.bind(('127.0.0.1', 0))
        return s.getsockname()[1]


class NginxServer:
    """Serves `directory` (and `extra`: path prefix -> folder) on 127.0.0.1."""

    def __init__(self, directory, extra=None):
        self.directory = os.path.abspath(directory)
        self.extra = extra or {}
        self.port = 0
        self._process = None
        self._work = None
        self._log_start = 0

    def url(self, path=''):
        return 'http://127.0.0.1:%d/%s' % (self.port, path.lstrip('/'))

    # --- What it sent, from the access log: (path, range or None, status, body bytes) ---

    def entries(self, fragment=''):
        self._process.poll()
        path = os.path.join(self._work, 'access.log')
        with open(path, encoding='utf-8', errors='replace') as f:
            f.seek(self._log_start)
            lines = f.read().splitlines()
        out = []
        for line in lines:
            parts = line.split('\t')
            if len(parts) == 4 and fragment in parts[0]:
                out.append((parts[0], None if parts[1] == '-' else parts[1], int(parts[2]), int(parts[3])))
        return out

    def requested(self, fragment):
        return [entry[0] for entry in self.entries(fragment)]

    def bytes_sent(self, fragment=''):
        return sum(entry[3] for entry in self.entries(fragment))

    def forget(self):
        # nginx writes its log line once an answer is done.
        time.sleep(0.05)
        self._log_start = os.path.getsize(os.path.join(self._work, 'access.log'))

    # --- Life ---

    def __enter__(self):
        self._work = tempfile.mkdtemp(prefix='htf-nginx-')
        locations = ''.join('        location %s/ { alias %s/; }\n' % (prefix.rstrip('/'), os.path.abspath(folder))
                            for prefix, folder in self.extra.items())
        types = ' '.join('%s %s;' % (kind, names) for kind, names in TYPES.items())
        for attempt in range(5):
            self.port = free_port()
            with open(os.path.join(self._work, 'nginx.conf'), 'w') as f:
                f.write(CONFIG % {'work': self._work, 'port': self.port, 'root': self.directory, 'types': types,
                                  'locations': locations})
            open(os.path.join(self._work, 'access.log'), 'w').close()
            self._process = subprocess.Popen(
                [NGINX, '-p', self._work, '-e', os.path.join(self._work, 'error.log'),
                 '-c', os.path.join(self._work, 'nginx.conf')],
                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            if self._wait_ready():
                return self
            self._stop_process()
        with open(os.path.join(self._work, 'error.log')) as f:
            raise RuntimeError('nginx did not start: %s' % f.read()[-2000:])

    def _wait_ready(self):
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if self._process.poll() is not None:
                return False
            try:
                with socket.create_connection(('127.0.0.1', self.port), timeout=1):
                    return True
            except OSError:
                time.sleep(0.05)
        return False

    def _stop_process(self):
        if self._process and self._process.poll() is None:
            self._process.terminate()
            try:
                self._process.wait(10)
            except subprocess.TimeoutExpired:
                self._process.kill()
                self._process.wait(10)

    def __exit__(self, *exc):
        self._stop_process()
        shutil.rmtree(self._work, ignore_errors=True)


def main():
    if len(sys.argv) < 2:
        print(__doc__)
        return 2
    with NginxServer(sys.argv[1]) as server:
        print('nginxserver: serving %s at %s' % (sys.argv[1], server.url()))
        try:
            server._process.wait()
        except KeyboardInterrupt:
            pass
    return 0


if __name__ == '__main__':
    sys.exit(main())
