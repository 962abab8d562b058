#!/usr/bin/env python3
"""A local HTTPS update server for the update-check tests.

Usage: update_server.py CERT KEY
Prints "<https port> <silent port>" on one line, then serves until killed.
The silent port accepts connections and never answers.
"""
import socket
import ssl
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer


def padded(size):
    # Three-byte characters keep a large body under the decoded text limit.
    head = "version=3.3.0\nurl=https://example.test/d\n#".encode()
    body = head + "\u20ac".encode() * ((size - len(head)) // 3)
    return body + b"#" * (size - len(body))


BODIES = {
    "/uptodate": b"version=3.3.0\nurl=https://example.test/d\n",
    "/newer": b"# published builds\r\nVersion: 3.3.1\r\ndescription = ignored\r\nlink: https://example.test/n\r\n",
    "/positional": b"3.4.0\nA positional description\nhttps://example.test/p\n",
    "/httpurl": b"version=3.4.0\nurl=http://example.test/d\n",
    "/latin1": b"version=3.4.0\ndescription=Caf\xe9\nurl=https://example.test/l\n",
    "/toolong": b"version=3.3.0\nurl=https://example.test/d\n#" + b"x" * 5000,
    "/exact": padded(8192),
    "/over": padded(8193),
    "/empty": b"",
}


DRIP_EVERY = 0.5  # seconds: often enough for every per-step limit
DRIP_FOR = 600  # seconds: the longest a dripping answer goes on


def drip(wfile, data):
    """Writes one byte at a time until the data or the time runs out or the
    client goes away."""
    end = time.monotonic() + DRIP_FOR
    try:
        for i in range(len(data)):
            if time.monotonic() > end:
                return
            wfile.write(data[i:i + 1])
            wfile.flush()
            time.sleep(DRIP_EVERY)
    except OSError:
        pass


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def send_body(self, status, body, headers=()):
        self.send_response(status)
        for k, v in headers:
            self.send_header(k, v)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):
        path = self.path
        if path == "/agent":
            agent = self.headers.get("User-Agent", "")
            self.send_body(200, ("version=3.3.0\nurl=https://example.test/" + agent + "\n").encode())
        elif path == "/slow":
            time.sleep(1.5)
            self.send_body(200, BODIES["/uptodate"])
        elif path == "/drip-headers":
            # The status line, then headers that never end.
            self.wfile.write(b"HTTP/1.1 200 OK\r\n")
            drip(self.wfile, b"X-Padding: " + b"x" * 100000)
            self.close_connection = True
        elif path == "/drip-body":
            # Headers at once, then a body of the allowed size a byte at a time.
            body = padded(8192)
            self.send_response(200)
            self.send_header("Content-Length", str(len(body)))
            self.end_headers()
            self.wfile.flush()
            drip(self.wfile, body)
            self.close_connection = True
        elif path == "/redirect-http":
            self.send_body(302, b"", [("Location", "http://127.0.0.1:%d/uptodate" % self.server.server_port)])
        elif path == "/redirect-https":
            self.send_body(302, b"", [("Location", "/newer")])
        elif path in BODIES:
            self.send_body(200, BODIES[path])
        else:
            self.send_body(404, b"not found")


def main():
    cert, key = sys.argv[1], sys.argv[2]
    server = ThreadingHTTPServer(("127.0.0.1", 0), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    silent = socket.socket()
    silent.bind(("127.0.0.1", 0))
    silent.listen(8)
    print(server.server_port, silent.getsockname()[1], flush=True)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    while True:
        time.sleep(3600)


if __name__ == "__main__":
    main()
