#!/usr/bin/python3
"""A loopback stand-in for the Translator V3 text API (api-version 3.0).

Every request is recorded before it is answered, as DIR/NNNN.req: the request line's method and
target, the header lines as received, an empty line, and the body bytes.

Each request is checked against the API reference: method, path, query (api-version 3.0, to,
from, textType, scope), headers (Ocp-Apim-Subscription-Key, Ocp-Apim-Subscription-Region when the
resource is regional, Content-Type application/json; charset=UTF-8, X-ClientTraceId a GUID) and the
JSON body (an array of {"Text": string}, the documented limits). A request that breaks the contract
gets the service's error object with its documented code:

  POST /translate   the results with detectedLanguage (when no from= was given) and one
                    translation per target; texts of phrases.json are translated from it, others
                    come back as "[to] text". Non-ASCII text is sent as \\u escapes.
  POST /detect      language, score, isTranslationSupported, isTransliterationSupported,
                    alternatives (raw UTF-8 answers)
  GET  /languages   languages.json (no key needed)
  a key starting with "throttled": 429 with Retry-After: 7
  a wrong key: 401 (401000); a regional resource (--region) without its region: 401 (401000)
"""
import json
import os
import re
import urllib.parse

import fake_base


GUID = re.compile(r"^[0-9a-fA-F]{8}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{4}-[0-9a-fA-F]{12}$")


class Refusal(Exception):
    def __init__(self, status, code, message, headers=None):
        super().__init__(message)
        self.status, self.code, self.message, self.headers = status, code, message, headers or {}


def code_points(text):
    return len(text)  # Python strings count code points, as the service does


def detect(text):
    if re.search("[\u3040-\u30ff\u4e00-\u9fff]", text):
        return "ja", 1.0, []
    if re.search("[\u0600-\u06ff]", text):
        return "ar", 1.0, []
    if re.search("[äöüß]", text, re.I) or re.search(r"\b(und|der|die|das|ich|aus)\b", text, re.I):
        return "de", 1.0, [("nl", 0.92), ("sk", 0.77)]
    if re.search(r"\b(bonjour|merci|salut)\b", text, re.I) or re.search("[çéè]", text):
        return "fr", 0.98, []
    return "en", 1.0, []


def main():
    ap = fake_base.arguments(__doc__)
    ap.add_argument("--api-key", default="test-key")
    ap.add_argument("--region", default="")
    args = ap.parse_args()

    with open(os.path.join(args.data, "languages.json"), "rb") as f:
        languages_doc = f.read()
    languages = set(json.loads(languages_doc)["translation"])
    with open(os.path.join(args.data, "phrases.json"), "rb") as f:
        phrases = json.loads(f.read())

    class Handler(fake_base.RecordingHandler):

        def answer(self, status, doc, headers=None, ascii_only=False):
            body = doc if isinstance(doc, bytes) else json.dumps(doc, ensure_ascii=ascii_only).encode("utf-8")
            self.send_response(status)
            self.send_header("Content-Type", "application/json; charset=utf-8")
            self.send_header("Content-Length", str(len(body)))
            self.send_header("X-RequestId", "0000000000000000")
            for k, v in (headers or {}).items():
                self.send_header(k, v)
            self.end_headers()
            self.wfile.write(body)

        def query(self, allowed):
            url = urllib.parse.urlsplit(self.path)
            q = urllib.parse.parse_qs(url.query, keep_blank_values=True)
            if q.get("api-version") != ["3.0"]:
                raise Refusal(400, 400021, "The API version parameter is missing or invalid.")
            for name in q:
                if name not in allowed:
                    raise Refusal(400, 400000, "One of the request inputs is not valid.")
            return q

        def authenticate(self):
            key = self.headers.get("Ocp-Apim-Subscription-Key", "")
            if key.startswith("throttled"):
                raise Refusal(429, 429001, "The server rejected the request because the client has exceeded request limits.",
                              {"Retry-After": "7"})
            if key != args.api_key:
                raise Refusal(401, 401000, "The request is not authorized because credentials are missing or invalid.")
            region = self.headers.get("Ocp-Apim-Subscription-Region")
            if args.region and region != args.region:
                raise Refusal(401, 401000, "The request is not authorized because credentials are missing or invalid.")

        def texts(self, body, max_texts, targets):
            ctype = [p.strip().lower() for p in self.headers.get("Content-Type", "").split(";")]
            if ctype[0] != "application/json" or "charset=utf-8" not in ctype[1:]:
                raise Refusal(415, 415000, "The Content-Type header is missing or invalid.")
            try:
                doc = json.loads(body.decode("utf-8"))
            except (UnicodeDecodeError, ValueError):
                raise Refusal(400, 400074, "The body of the request is not valid JSON.")
            if not isinstance(doc, list) or not doc:
                raise Refusal(400, 400005, "An input text is missing or invalid.")
            for item in doc:
                if not isinstance(item, dict) or set(item) != {"Text"} or not isinstance(item["Text"], str):
                    raise Refusal(400, 400020, "One of the elements in the array is not valid.")
            if len(doc) > max_texts:
                raise Refusal(400, 400072, "The array of input text has too many elements.")
            if sum(code_points(i["Text"]) for i in doc) * targets > 50000:
                raise Refusal(400, 400077, "The maximum request size has been exceeded.")
            return [i["Text"] for i in doc]

        def common_headers(self):
            trace = self.headers.get("X-ClientTraceId")
            if trace is not None and not GUID.match(trace):
                raise Refusal(400, 400043, "The client trace ID (ClientTraceId field or X-ClientTranceId header) is missing or invalid.")

        def handle_call(self, body):
            path = urllib.parse.urlsplit(self.path).path
            routes = {"/translate": "POST", "/detect": "POST", "/languages": "GET"}
            if path not in routes:
                raise Refusal(404, 404001, "The requested resource was not found.")
            if routes[path] != self.command:
                raise Refusal(405, 405000, "The request method is not supported for the requested resource.")
            self.common_headers()
            if path == "/languages":
                q = self.query({"api-version", "scope"})
                if body:
                    raise Refusal(400, 400000, "One of the request inputs is not valid.")
                if q.get("scope", ["translation"]) != ["translation"]:
                    raise Refusal(400, 400001, "The \"scope\" parameter is invalid.")
                self.answer(200, languages_doc)
                return
            self.authenticate()
            if path == "/detect":
                self.query({"api-version"})
                out = []
                for text in self.texts(body, 100, 1):
                    lang, score, alts = detect(text)
                    out.append({"language": lang, "score": score, "isTranslationSupported": True,
                                "isTransliterationSupported": lang == "ja",
                                "alternatives": [{"language": a, "score": s, "isTranslationSupported": True,
                                                  "isTransliterationSupported": False} for a, s in alts]})
                self.answer(200, out)
                return
            q = self.query({"api-version", "to", "from", "textType"})
            targets = q.get("to", [])
            if not targets or any(t not in languages for t in targets):
                raise Refusal(400, 400036, "The target language (\"To\" field) is missing or invalid.")
            source = q.get("from")
            if source is not None and (len(source) != 1 or source[0] not in languages):
                raise Refusal(400, 400035, "The source language (\"From\" field) is not valid.")
            if q.get("textType", ["plain"]) not in (["plain"], ["html"]):
                raise Refusal(400, 400071, "The value is not valid for TextType.")
            out = []
            for text in self.texts(body, 1000, len(targets)):
                result = {}
                if source is None:
                    result["detectedLanguage"] = {"language": detect(text)[0], "score": 1.0}
                result["translations"] = [{"text": phrases.get(text, {}).get(t, "[%s] %s" % (t, text)), "to": t}
                                          for t in targets]
                out.append(result)
            self.answer(200, out, ascii_only=True)

        def serve(self, body):
            self.record(body)
            try:
                self.handle_call(body)
            except Refusal as r:
                self.answer(r.status, {"error": {"code": r.code, "message": r.message}}, r.headers)

        def do_POST(self):
            self.serve(self.rfile.read(int(self.headers.get("Content-Length", "0"))))

        def do_GET(self):
            self.serve(b"")

        def do_PUT(self):
            self.serve(self.rfile.read(int(self.headers.get("Content-Length", "0"))))

    fake_base.serve(args, Handler)


if __name__ == "__main__":
    main()
