#!/usr/bin/python3
"""Loopback stand-ins for the carriers' JSON tracking services with OAuth 2.0 client credentials.

Every request is recorded before it is answered, as DIR/NNNN.req (the request line's method and
target, the header lines, an empty line, the body), the way fake_services.py records them.

UPS (OAuth client credentials v1, Tracking API v1):
  POST /security/v1/oauth/token     HTTP Basic client_id:client_secret, form body
                                    grant_type=client_credentials and nothing else
  GET  /api/track/v1/details/{n}    bearer token, transId (1..32 letters and digits),
                                    transactionSrc, locale in the query
    1Z5338FF0107231059 delivered, 1Z999AA10123456784 in transit, 1ZLIMIT 429 with Retry-After,
    1ZEXPIRED 401 once (every token issued so far expires), then delivered; anything else
    404 "Tracking Information Not Found".
FedEx (OAuth v1, Track API v1):
  POST /oauth/token                 form body grant_type, client_id, client_secret
  POST /track/v1/trackingnumbers    bearer token, JSON {"includeDetailedScans": bool,
                                    "trackingInfo": [{"trackingNumberInfo": {"trackingNumber"}}]}
    123456789012 delivered, 794843185271 in transit, RATELIMIT 429, EXPIRED as for UPS;
    anything else the not-found result (200 with the result's error).
A request that breaks the contract gets 400 with the service's error document naming what is
wrong; a token the fake did not issue (or that expired) gets 401.
"""
import base64
import json
import os
import re
import threading
import urllib.parse

import fake_base

lock = threading.Lock()
state = {"tokens": set(), "issued": 0, "expired_once": False}


def main():
    ap = fake_base.arguments(__doc__)
    ap.add_argument("--client-id", default="test-client")
    ap.add_argument("--client-secret", default="test-secret")
    ap.add_argument("--expires-in", default="14399")
    args = ap.parse_args()

    def data(name):
        with open(os.path.join(args.data, name), "rb") as f:
            return f.read()

    def ups_error(code, message):
        return json.dumps({"response": {"errors": [{"code": code, "message": message}]}}).encode()

    def fedex_error(code, message):
        return json.dumps({"transactionId": "0e7a1c55-3b1f-4f4e-8a55-7d2f0c0b9d11",
                           "errors": [{"code": code, "message": message}]}).encode()

    def issue(prefix):
        with lock:
            state["issued"] += 1
            token = "%s-token-%d" % (prefix, state["issued"])
            state["tokens"].add(token)
        return token

    class Handler(fake_base.RecordingHandler):

        def answer(self, code, body, extra=()):
            self.send_response(code)
            self.send_header("Content-Type", "application/json")
            self.send_header("Content-Length", str(len(body)))
            for k, v in extra:
                self.send_header(k, v)
            self.end_headers()
            self.wfile.write(body)

        def bearer(self):
            auth = self.headers.get("Authorization", "")
            if not auth.startswith("Bearer "):
                return None
            return auth[len("Bearer "):]

        def form(self, body):
            if self.headers.get("Content-Type", "").split(";")[0].strip() != "application/x-www-form-urlencoded":
                return None
            try:
                return urllib.parse.parse_qs(body.decode("ascii"), keep_blank_values=True, strict_parsing=True)
            except (UnicodeDecodeError, ValueError):
                return None

        def do_POST(self):
            length = int(self.headers.get("Content-Length", "0"))
            body = self.rfile.read(length)
            self.record(body)
            if self.path == "/security/v1/oauth/token":
                self.ups_token(body)
            elif self.path == "/oauth/token":
                self.fedex_token(body)
            elif self.path == "/track/v1/trackingnumbers":
                self.fedex_track(body)
            else:
                self.answer(404, ups_error("404", "Resource not found"))

        def do_GET(self):
            self.record(b"")
            url = urllib.parse.urlsplit(self.path)
            m = re.fullmatch(r"/api/track/v1/details/([^/]+)", url.path)
            if m:
                self.ups_track(urllib.parse.unquote(m.group(1)), urllib.parse.parse_qs(url.query))
            else:
                self.answer(404, ups_error("404", "Resource not found"))

        def ups_token(self, body):
            form = self.form(body)
            if form is None or form != {"grant_type": ["client_credentials"]}:
                return self.answer(400, ups_error("10400", "Invalid/Missing grant_type"))
            auth = self.headers.get("Authorization", "")
            try:
                user, _, secret = base64.b64decode(auth[len("Basic "):], validate=True).decode().partition(":")
            except (ValueError, UnicodeDecodeError):
                user = secret = None
            if not auth.startswith("Basic ") or user != args.client_id or secret != args.client_secret:
                return self.answer(401, ups_error("10401", "ClientId is Invalid"))
            self.answer(200, json.dumps({"token_type": "Bearer", "issued_at": "1765100000000", "client_id": user,
                                         "access_token": issue("ups"), "expires_in": args.expires_in,
                                         "status": "approved"}).encode())

        def fedex_token(self, body):
            form = self.form(body)
            if form is None or sorted(form) != ["client_id", "client_secret", "grant_type"] or \
                    form["grant_type"] != ["client_credentials"]:
                return self.answer(400, fedex_error("BAD.REQUEST.ERROR",
                                                    "Missing or duplicate parameters. Please modify your request and try again."))
            if form["client_id"] != [args.client_id] or form["client_secret"] != [args.client_secret]:
                return self.answer(401, fedex_error("NOT.AUTHORIZED.ERROR",
                                                    "The given client credentials were not valid. Please modify your request and try again."))
            expires = int(args.expires_in) if args.expires_in.isdigit() else args.expires_in
            self.answer(200, json.dumps({"access_token": issue("fedex"), "token_type": "bearer",
                                         "expires_in": expires, "scope": "CXS"}).encode())

        def expire_once(self, number):
            """True when this request expires every token issued so far (the first 1ZEXPIRED/EXPIRED)."""
            with lock:
                if number in ("1ZEXPIRED", "EXPIRED") and not state["expired_once"]:
                    state["expired_once"] = True
                    state["tokens"].clear()
                    return True
            return False

        def ups_track(self, number, query):
            token = self.bearer()
            trans_id = self.headers.get("transId", "")
            if not re.fullmatch(r"[A-Za-z0-9]{1,32}", trans_id):
                return self.answer(400, ups_error("TV0001", "Missing or invalid transId"))
            if not self.headers.get("transactionSrc"):
                return self.answer(400, ups_error("TV0002", "Missing transactionSrc"))
            if not query.get("locale"):
                return self.answer(400, ups_error("TV0003", "Missing locale"))
            if self.expire_once(number) or token not in state["tokens"]:
                return self.answer(401, ups_error("250002", "Invalid Authentication Information."))
            if number == "1ZLIMIT":
                return self.answer(429, ups_error("429", "Too Many Requests"), [("Retry-After", "30")])
            if number in ("1Z5338FF0107231059", "1ZEXPIRED"):
                return self.answer(200, data("ups_rest_delivered.json"))
            if number == "1Z999AA10123456784":
                return self.answer(200, data("ups_rest_in_transit.json"))
            self.answer(404, ups_error("TW0001", "Tracking Information Not Found"))

        def fedex_track(self, body):
            if self.headers.get("Content-Type", "").split(";")[0].strip() != "application/json":
                return self.answer(415, fedex_error("UNSUPPORTED.MEDIA.TYPE", "Unsupported media type."))
            token = self.bearer()
            try:
                doc = json.loads(body)
                scans = doc["includeDetailedScans"]
                infos = doc["trackingInfo"]
                numbers = [i["trackingNumberInfo"]["trackingNumber"] for i in infos]
                valid = isinstance(scans, bool) and isinstance(infos, list) and 1 <= len(infos) <= 30 and \
                    all(isinstance(n, str) and n for n in numbers) and set(doc) <= {"includeDetailedScans", "trackingInfo"}
            except (ValueError, KeyError, TypeError):
                valid = False
            if not valid:
                return self.answer(400, fedex_error("INVALID.INPUT.EXCEPTION", "Invalid field value in the input"))
            number = numbers[0]
            if self.expire_once(number) or token not in state["tokens"]:
                return self.answer(401, fedex_error("NOT.AUTHORIZED.ERROR",
                                                    "Access token expired. Please modify your request and try again."))
            if number == "RATELIMIT":
                return self.answer(429, fedex_error("RATE.LIMIT.EXCEEDED",
                                                    "We have received too many requests in a short duration. Please wait a while to try again."),
                                   [("Retry-After", "60")])
            if not scans:
                return self.answer(400, fedex_error("INVALID.INPUT.EXCEPTION", "includeDetailedScans must be true here"))
            if number in ("123456789012", "EXPIRED"):
                return self.answer(200, data("fedex_rest_delivered.json"))
            if number == "794843185271":
                return self.answer(200, data("fedex_rest_in_transit.json"))
            doc = json.loads(data("fedex_rest_not_found.json"))
            doc["output"]["completeTrackResults"][0]["trackingNumber"] = number
            doc["output"]["completeTrackResults"][0]["trackResults"][0]["trackingNumberInfo"]["trackingNumber"] = number
            self.answer(200, json.dumps(doc).encode())

    fake_base.serve(args, Handler)


if __name__ == "__main__":
    main()
