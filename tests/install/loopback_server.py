"""Servers on a free loopback port for the install test.

    loopback_server.py daytime      one NIST-format daytime line per connection, then close
    loopback_server.py silent       accepts connections and never answers (for read time-outs)
    loopback_server.py http DIR     HTTP/1.0 file server of DIR

Prints the port on the first line of its output, then serves until killed.
"""
import functools
import http.server
import socket
import sys

DAYTIME_LINE = b"\n61371 26-12-07 13:34:51 00 0 0 123.4 UTC(NIST) * \n"


def serve_stream(mode):
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.bind(("127.0.0.1", 0))
    listener.listen(16)
    print(listener.getsockname()[1], flush=True)
    held = []
    while True:
        conn, _ = listener.accept()
        if mode == "silent":
            held.append(conn)
            continue
        with conn:
            conn.sendall(DAYTIME_LINE)


class QuietHandler(http.server.SimpleHTTPRequestHandler):
    def log_message(self, *args):
        pass


def serve_http(directory):
    handler = functools.partial(QuietHandler, directory=directory)
    server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
    print(server.server_address[1], flush=True)
    server.serve_forever()


def main():
    mode = sys.argv[1] if len(sys.argv) > 1 else ""
    if mode in ("daytime", "silent"):
        serve_stream(mode)
    elif mode == "http" and len(sys.argv) == 3:
        serve_http(sys.argv[2])
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
