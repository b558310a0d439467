#!/usr/bin/python3
"""Loopback stand-ins for the carriers' tracking services and the translator service.

Every request is recorded before it is answered, as DIR/NNNN.req: the request line's method and
target, the header lines as received, an empty line, and the body bytes. Answers are the
documents under the data directory (shapes of the services' public documentation):

  POST /ups.app/xml/Track       ups_track_response.xml; tracking number #NOTFOUND: 404;
                                #CUTSHORT: the answer's first half, then the connection closes;
                                #ERROR: ups_track_error.xml (an Error element) with 200
  POST /web-services/track      fedex_track_reply.xml; package value FAULT: fedex_soap_fault.xml with 500
  GET  /v2/Http.svc/Translate   translator_string.xml with the text received, prefixed by the target code
  GET  /v2/Http.svc/Detect      translator_detect.xml
  GET  /v2/Http.svc/GetLanguagesForTranslate, .../GetLanguagesForSpeak   array-of-string documents
  GET  /v2/Http.svc/Speak       translator_speech.wav
  appId INVALID on any translator call: translator_error.html with 400; appId ERRORPAGE: the
  same page with 200
Anything else is 404.
"""
import os
import re
import urllib.parse

import fake_base
from xml.sax.saxutils import escape



def main():
    ap = fake_base.arguments(__doc__)
    args = ap.parse_args()

    def data(name):
        with open(os.path.join(args.data, name), "rb") as f:
            return f.read()

    class Handler(fake_base.RecordingHandler):

        def answer(self, code, body, ctype="text/xml; charset=utf-8"):
            self.send_response(code)
            self.send_header("Content-Type", ctype)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.write(body)

        def do_POST(self):
            length = int(self.headers.get("Content-Length", "0"))
            body = self.rfile.read(length)
            self.record(body)
            if self.path == "/ups.app/xml/Track":
                if b"<TrackingNumber>#ERROR<" in body:
                    self.answer(200, data("ups_track_error.xml"))
                elif b"<TrackingNumber>#NOTFOUND<" in body:
                    self.answer(404, b"<html><body>not here</body></html>", "text/html")
                elif b"<TrackingNumber>#CUTSHORT<" in body:
                    doc = data("ups_track_response.xml")
                    self.send_response(200)
                    self.send_header("Content-Type", "text/xml; charset=utf-8")
                    self.send_header("Content-Length", str(len(doc)))
                    self.end_headers()
                    self.wfile.write(doc[: len(doc) // 2])
                    self.wfile.flush()
                    self.close_connection = True
                else:
                    self.answer(200, data("ups_track_response.xml"))
            elif self.path == "/web-services/track":
                if b"<v10:Value>FAULT</v10:Value>" in body:
                    self.answer(500, data("fedex_soap_fault.xml"))
                else:
                    self.answer(200, data("fedex_track_reply.xml"))
            else:
                self.answer(404, b"no such service", "text/plain")

        def do_GET(self):
            self.record(b"")
            url = urllib.parse.urlsplit(self.path)
            query = urllib.parse.parse_qs(url.query, keep_blank_values=True)
            op = url.path.rsplit("/", 1)[-1] if url.path.startswith("/v2/Http.svc/") else ""
            app_id = query.get("appId", [""])[0]
            if op and app_id in ("INVALID", "ERRORPAGE"):
                page = data("translator_error.html").replace(b"{op}", op.encode("ascii", "replace"))
                self.answer(400 if app_id == "INVALID" else 200, page, "text/html; charset=utf-8")
            elif op == "Translate":
                text = query.get("to", [""])[0] + ":" + query.get("text", [""])[0]
                doc = data("translator_string.xml").replace(b"{text}", escape(text).encode("utf-8"))
                self.answer(200, doc, "application/xml; charset=utf-8")
            elif op == "Detect":
                self.answer(200, data("translator_detect.xml"), "application/xml; charset=utf-8")
            elif op == "GetLanguagesForTranslate":
                self.answer(200, data("translator_languages_translate.xml"), "application/xml; charset=utf-8")
            elif op == "GetLanguagesForSpeak":
                self.answer(200, data("translator_languages_speak.xml"), "application/xml; charset=utf-8")
            elif op == "Speak":
                self.answer(200, data("translator_speech.wav"), "audio/wav")
            else:
                self.answer(404, b"no such operation", "text/plain")

    fake_base.serve(args, Handler)


if __name__ == "__main__":
    main()
