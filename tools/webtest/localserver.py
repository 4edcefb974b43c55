"""The threaded HTTP server on 127.0.0.1 that the test servers run on."""
import http.server
import socketserver
import sys
import threading


class QuietServer(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True

    def handle_error(self, request, client_address):
        # A browser that closes or leaves a page cuts transfers short.
        if not isinstance(sys.exc_info()[1], (BrokenPipeError, ConnectionResetError)):
            super().handle_error(request, client_address)


def serve(handler, port=0):
    """Serves `handler` on 127.0.0.1:port (0: any free port) from a daemon
    thread; returns the server, whose server_address names the port, and the
    thread."""
    httpd = QuietServer(('127.0.0.1', port), handler)
    thread = threading.Thread(target=httpd.serve_forever, daemon=True)
    thread.start()
    return httpd, thread
