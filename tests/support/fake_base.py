"""What every loopback service stand-in shares: its arguments, the request log, and serving
plain HTTP or HTTPS on 127.0.0.1.

Every request is recorded before it is answered, as LOG/NNNN.req: the request line's method and
target, the header lines as received, an empty line, and the body bytes (written under a
temporary name and renamed, so a reader never sees half a request).
"""
import argparse
import http.server
import os
import ssl
import sys
import threading

_counter_lock = threading.Lock()
_counter = [0]


def arguments(description):
    """The arguments every stand-in takes: --port, --data, --log and, for HTTPS, --cert and --key."""
    ap = argparse.ArgumentParser(description=description)
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--data", required=True)
    ap.add_argument("--log", required=True)
    ap.add_argument("--cert")
    ap.add_argument("--key")
    return ap


class RecordingHandler(http.server.BaseHTTPRequestHandler):
    """HTTP/1.1 with a 10 s silence limit per connection; `log_dir` names the request log."""
    protocol_version = "HTTP/1.1"
    log_dir = None

    def log_message(self, fmt, *a):
        pass

    def setup(self):
        self.request.settimeout(10)
        if isinstance(self.request, ssl.SSLSocket):
            self.request.do_handshake()
        super().setup()

    def record(self, body):
        with _counter_lock:
            _counter[0] += 1
            n = _counter[0]
        lines = ["%s %s" % (self.command, self.path)]
        for k, v in self.headers.items():
            lines.append("%s: %s" % (k, v))
        raw = ("\n".join(lines) + "\n\n").encode("latin-1", "replace") + body
        tmp = os.path.join(self.log_dir, "%04d.tmp" % n)
        with open(tmp, "wb") as f:
            f.write(raw)
        os.rename(tmp, os.path.join(self.log_dir, "%04d.req" % n))


class _Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # readiness probes and refused handshakes end this way


def serve(args, handler):
    """Serves handler on 127.0.0.1:args.port (HTTPS when args.cert is given) until killed."""
    handler.log_dir = args.log
    server = _Server(("127.0.0.1", args.port), handler)
    if args.cert:
        ctx = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        ctx.load_cert_chain(args.cert, args.key)
        # The handshake runs on the connection's own thread, so a silent client holds up no one.
        server.socket = ctx.wrap_socket(server.socket, server_side=True, do_handshake_on_connect=False)
    sys.stdout.write("listening on %d\n" % args.port)
    sys.stdout.flush()
    server.serve_forever()
