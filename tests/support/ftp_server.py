#!/usr/bin/python3
"""FTP server on loopback for the transfer tests (pyftpdlib).

  ftp_server.py --root D --port P --ready F [--user U --password P] [--no-mlsd]

Serves D read-only to one user with a password (and nobody else), on 127.0.0.1:P with passive
data ports on loopback; times in listings are UTC. --no-mlsd removes the MLSD command, so clients
have to fall back to LIST. Writes F once it listens; stops on SIGTERM.
"""
import argparse
import logging
import signal
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler
from pyftpdlib.servers import FTPServer


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--ready", required=True)
    parser.add_argument("--user", default="ftpuser")
    parser.add_argument("--password", default="ftppass")
    parser.add_argument("--no-mlsd", action="store_true")
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

    server = FTPServer(("127.0.0.1", args.port), Handler)
    signal.signal(signal.SIGTERM, lambda *_: server.close_all())
    with open(args.ready, "w") as f:
        f.write("ready\n")
    sys.stdout.flush()
    server.serve_forever(handle_exit=True)


if __name__ == "__main__":
    main()
