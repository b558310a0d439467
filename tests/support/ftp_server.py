#!/usr/bin/python3
"""FTP server on loopback for the transfer tests (pyftpdlib).

  ftp_server.py --root D --port P --ready F [--user U --password P] [--no-mlsd] [--endless-listing]

Serves D read-only to one user with a password (and nobody else), on 127.0.0.1:P with passive
data ports on loopback; times in listings are UTC. --no-mlsd removes the MLSD command, so clients
have to fall back to LIST. --endless-listing makes every listing endless. Writes F once it listens; stops on SIGTERM.
"""
import argparse
import logging
import signal
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import BufferedIteratorProducer, FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--ready", required=True)
    parser.add_argument("--user", default="ftpuser")
    parser.add_argument("--password", default="ftppass")
    parser.add_argument("--no-mlsd", action="store_true")
    parser.add_argument("--endless-listing", action="store_true")
    args = parser.parse_args()

    logging.basicConfig(stream=sys.stdout, level=logging.INFO, format="%(message)s")
    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elr")

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    Handler.use_gmt_times = True
    Handler.masquerade_address = None
    Handler.banner = "ktinet test FTP server ready."
    Handler.auth_failed_timeout = 0.1  # a refused logon answers at once
    if args.no_mlsd:
        Handler.proto_cmds = {k: v for k, v in FTPHandler.proto_cmds.items() if k not in ("MLSD", "MLST")}

    if args.endless_listing:
        # A broken or hostile server: every listing goes on for ever.
        def endless(self, path):
            def lines():
                i = 0
                while True:
                    yield b"".join(b"type=file;size=1; f%09d\r\n" % (i + k) for k in range(2000))
                    i += 2000
            self.push_dtp_data(BufferedIteratorProducer(lines()), isproducer=True, cmd="MLSD")
            return path
        Handler.ftp_MLSD = endless
        Handler.ftp_LIST = endless

    server = FTPServer(("127.0.0.1", args.port), Handler)
    signal.signal(signal.SIGTERM, lambda *_: server.close_all())
    with open(args.ready, "w") as f:
        f.write("ready\n")
    sys.stdout.flush()
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
