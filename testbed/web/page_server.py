#!/usr/bin/env python3
"""Test web server for the browser scenarios: serves one folder (test pages and the page
library) over HTTP on 127.0.0.1 and over HTTPS, so one folder appears under several origins,
and stores what a page posts to /result/NAME as RESULTS/NAME (written whole, then renamed). Serves
connections concurrently (browsers open extra ones), writes READY_FILE once it listens, logs one
line per request and ends after LIFETIME seconds.

  page_server.py --root DIR --results DIR --http PORT [--https ADDRESS:PORT --cert PEM --key PEM]
                 [--ready-file FILE] [--log FILE] [--lifetime 300]
"""
import argparse
import functools
import http.server
import os
import re
import ssl
import threading
import time

parser = argparse.ArgumentParser()
parser.add_argument("--root", required=True)
parser.add_argument("--results", required=True)
parser.add_argument("--http", type=int, required=True)
parser.add_argument("--https")
parser.add_argument("--cert")
parser.add_argument("--key")
parser.add_argument("--ready-file")
parser.add_argument("--log", default="/dev/null")
parser.add_argument("--lifetime", type=float, default=300)
options = parser.parse_args()
log = open(options.log, "a", buffering=1)


class Handler(http.server.SimpleHTTPRequestHandler):
    timeout = 30

    def do_POST(self):
        name = re.fullmatch(r"/result/([A-Za-z0-9-]+)", self.path)
        length = self.headers.get("Content-Length", "")
        if not name or not length.isdigit() or int(length) > 65536:
            self.send_error(400)
            return
        path = os.path.join(options.results, name.group(1))
        with open(path + ".part", "wb") as part:
            part.write(self.rfile.read(int(length)))
        os.rename(path + ".part", path)
        self.send_response(204)
        self.end_headers()

    def log_message(self, format, *args):
        headers = getattr(self, "headers", None)
        log.write("%s %s\n" % (headers.get("Host", "-") if headers else "-", format % args))


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True
    context = None

    def finish_request(self, request, client_address):
        # The TLS handshake runs on the connection's own thread, never in the accepting one.
        if self.context:
            request.settimeout(Handler.timeout)
            request = self.context.wrap_socket(request, server_side=True)
        super().finish_request(request, client_address)


def serve(address, port, context=None):
    server = Server((address, port), functools.partial(Handler, directory=options.root))
    server.context = context
    threading.Thread(target=server.serve_forever, daemon=True).start()


serve("127.0.0.1", options.http)
if options.https:
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(options.cert, options.key)
    address, port = options.https.rsplit(":", 1)
    serve(address, int(port), context)
if options.ready_file:
    open(options.ready_file, "w").close()
time.sleep(options.lifetime)
