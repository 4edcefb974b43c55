"""The range server of the element's tests: ranges answered exactly, the
whole file without range support, validators and the requests that carry
them, the damaged answers it is asked for, and the log of bytes sent."""

import http.client
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), '..', '..', 'tools', 'webtest'))
from rangeserver import RangeServer, parse_range  # noqa: E402

DATA = bytes(range(256)) * 40   # 10240 bytes


def get(server, path, range_header=None, headers=None):
    connection = http.client.HTTPConnection('127.0.0.1', server.port, timeout=10)
    connection.request('GET', path, headers=dict({'Range': range_header} if range_header else {}, **(headers or {})))
    answer = connection.getresponse()
    try:
        body = answer.read()
    except http.client.IncompleteRead as cut:
        body = cut.partial
    connection.close()
    return answer.status, dict(answer.getheaders()), body


class RangeServerTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix='htf-range-')
        with open(os.path.join(self.folder, 'doc.htf'), 'wb') as f:
            f.write(DATA)

    def test_parse_range_table(self):
        for header, expected in [('bytes=0-9', (0, 9)), ('bytes=10-', (10, 10239)), ('bytes=-16', (10224, 10239)),
                                 ('bytes=10000-99999', (10000, 10239)), ('bytes=10240-', 'unsatisfiable'),
                                 ('bytes=9-3', None), ('bytes=0-1,5-6', None), ('items=0-1', None), (None, None)]:
            self.assertEqual(parse_range(header, len(DATA)), expected, header)

    def test_ranges_whole_files_and_the_log(self):
        with RangeServer(self.folder) as server:
            status, headers, body = get(server, '/doc.htf', 'bytes=100-199')
            self.assertEqual((status, body), (206, DATA[100:200]))
            self.assertEqual(headers['Content-Range'], 'bytes 100-199/10240')
            status, _, body = get(server, '/doc.htf')
            self.assertEqual((status, body), (200, DATA))
            self.assertEqual(get(server, '/doc.htf', 'bytes=20000-')[0], 416)
            self.assertEqual(get(server, '/../etc/passwd')[0], 404)
            self.assertEqual(server.bytes_sent('/doc.htf'), 100 + len(DATA))
            server.ranges = False
            status, headers, body = get(server, '/doc.htf', 'bytes=100-199')
            self.assertEqual((status, body), (200, DATA))
            self.assertNotIn('Content-Range', headers)

    def test_validators_answer_a_file_replaced_as_production_servers_do(self):
        with RangeServer(self.folder) as server:
            _, headers, _ = get(server, '/doc.htf', 'bytes=0-9')
            etag, modified = headers['ETag'], headers['Last-Modified']
            self.assertFalse(etag.startswith('W/'))
            path = os.path.join(self.folder, 'doc.htf')
            stat = os.stat(path)
            os.utime(path, (stat.st_atime, stat.st_mtime + 10))   # a new version, same size
            earlier = 'Mon, 01 Jan 2001 00:00:00 GMT'
            # request headers -> status (a 200 is the whole file)
            rows = [({'If-Range': etag}, 200), ({'If-Range': modified}, 200), ({'If-Match': etag}, 412),
                    ({'If-Unmodified-Since': earlier}, 412), ({'If-Match': '*'}, 206), ({}, 206)]
            _, headers, _ = get(server, '/doc.htf', 'bytes=0-9')
            rows += [({'If-Range': headers['ETag']}, 206), ({'If-Match': headers['ETag']}, 206),
                     ({'If-Unmodified-Since': headers['Last-Modified']}, 206)]
            for sent, status in rows:
                answer, _, body = get(server, '/doc.htf', 'bytes=0-9', sent)
                self.assertEqual(answer, status, sent)
                self.assertEqual(len(body), {200: len(DATA), 206: 10}.get(status, len(body)), sent)

    def test_damaged_answers(self):
        with RangeServer(self.folder) as server:
            server.damage, server.damage_after = 'short', 1000
            self.assertEqual(get(server, '/doc.htf', 'bytes=0-99')[2], DATA[:100])   # before the damage
            status, headers, body = get(server, '/doc.htf', 'bytes=2000-2099')
            self.assertEqual((status, headers['Content-Length'], len(body)), (206, '100', 50))
            server.damage = 'wrong-range'
            self.assertEqual(get(server, '/doc.htf', 'bytes=2000-2099')[1]['Content-Range'], 'bytes 2001-2100/10240')
            server.damage = 'no-range'
            self.assertNotIn('Content-Range', get(server, '/doc.htf', 'bytes=2000-2099')[1])


if __name__ == '__main__':
    unittest.main()
