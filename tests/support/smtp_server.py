#!/usr/bin/python3
"""SMTP server on loopback for the mail tests, and a parser of the messages it stores.

  smtp_server.py serve --dir D --port P --ready F [--mode plain|starttls|implicit]
                       [--cert C --key K] [--user U --password P] [--reject TEXT]...
      Runs aiosmtpd with a LOGIN/PLAIN authenticator. Each accepted message is stored as
      D/msg-NNN.json (envelope) and then D/msg-NNN.eml (the bytes as received). Recipients
      containing a --reject text are refused with 550. Stops on SIGTERM.

  smtp_server.py parse FILE
      Prints JSON of a stored message as Python's email package reads it: headers, defects and
      every leaf part with its type, file name, size, SHA-256 and (for text) decoded text.
"""
import argparse
import email
import email.policy
import hashlib
import json
import os
import signal
import ssl
import sys
import threading


def serve(args):
    from aiosmtpd.controller import Controller
    from aiosmtpd.smtp import AuthResult, LoginPassword

    class Handler:
        def __init__(self):
            self.count = 0
            self.lock = threading.Lock()

        async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
            if any(r in address for r in args.reject):
                return f"550 5.1.1 <{address}>: Recipient address rejected"
            envelope.rcpt_tos.append(address)
            return "250 OK"

        async def handle_DATA(self, server, session, envelope):
            with self.lock:
                self.count += 1
                base = os.path.join(args.dir, "msg-%03d" % self.count)
            meta = {
                "mail_from": envelope.mail_from,
                "rcpt_tos": envelope.rcpt_tos,
                # session.ssl tells of STARTTLS only; implicit TLS shows on the transport.
                "tls": session.ssl is not None
                or server.transport.get_extra_info("ssl_object") is not None,
                "authenticated": bool(session.authenticated),
                "login": session.auth_data.login.decode("utf-8", "replace")
                if isinstance(session.auth_data, LoginPassword) else "",
            }
            with open(base + ".json.tmp", "w") as f:
                json.dump(meta, f)
            os.rename(base + ".json.tmp", base + ".json")
            with open(base + ".eml.tmp", "wb") as f:
                f.write(envelope.original_content)
            os.rename(base + ".eml.tmp", base + ".eml")
            return "250 2.0.0 Message accepted for delivery"

    def authenticator(server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and auth_data.login == args.user.encode()
              and auth_data.password == args.password.encode())
        return AuthResult(success=ok, handled=False, auth_data=auth_data)

    kwargs = dict(hostname="127.0.0.1", port=args.port, authenticator=authenticator,
                  # aiosmtpd counts only STARTTLS as encryption, so implicit TLS would refuse AUTH.
                  auth_require_tls=args.mode == "starttls", decode_data=False)
    if args.mode != "plain":
        context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        context.load_cert_chain(args.cert, args.key)
        if args.mode == "starttls":
            kwargs.update(tls_context=context, require_starttls=True)
        else:
            kwargs.update(ssl_context=context)
    controller = Controller(Handler(), **kwargs)
    controller.start()

    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    with open(args.ready + ".tmp", "w") as f:
        f.write(str(args.port))
    os.rename(args.ready + ".tmp", args.ready)
    while not stop.wait(0.5):
        pass
    controller.stop()


def parse(path):
    with open(path, "rb") as f:
        msg = email.message_from_binary_file(f, policy=email.policy.default)
    out = {
        "headers": [[k, str(v)] for k, v in msg.items()],
        "defects": [type(d).__name__ for d in msg.defects],
        "multipart": msg.is_multipart(),
        "parts": [],
    }
    for part in msg.walk():
        if part.is_multipart():
            out["defects"] += [type(d).__name__ for d in part.defects]
            continue
        payload = part.get_payload(decode=True) or b""
        entry = {
            "content_type": part.get_content_type(),
            "charset": part.get_content_charset() or "",
            "cte": str(part.get("Content-Transfer-Encoding", "")),
            "filename": part.get_filename() or "",
            "size": len(payload),
            "sha256": hashlib.sha256(payload).hexdigest(),
            "defects": [type(d).__name__ for d in part.defects],
        }
        if part.get_content_maintype() == "text":
            entry["text"] = payload.decode(part.get_content_charset() or "us-ascii", "replace")
        out["parts"].append(entry)
    json.dump(out, sys.stdout)


def main():
    p = argparse.ArgumentParser()
    sub = p.add_subparsers(dest="command", required=True)
    s = sub.add_parser("serve")
    s.add_argument("--dir", required=True)
    s.add_argument("--port", type=int, required=True)
    s.add_argument("--ready", required=True)
    s.add_argument("--mode", choices=["plain", "starttls", "implicit"], default="plain")
    s.add_argument("--cert")
    s.add_argument("--key")
    s.add_argument("--user", default="user")
    s.add_argument("--password", default="secret")
    s.add_argument("--reject", action="append", default=[])
    r = sub.add_parser("parse")
    r.add_argument("file")
    args = p.parse_args()
    if args.command == "serve":
        serve(args)
    else:
        parse(args.file)


if __name__ == "__main__":
    main()
