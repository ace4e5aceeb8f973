#!/usr/bin/env python3
"""A fault-injecting HTTP server for the core suite (python3 standard library).

It does on demand what no real server does: split a line between segments
right after its CR, close in the middle of a header, send continuation
lines, stall, redirect forever, send a gzip bomb or a wrong Content-Range.

    fault_server.py STATE_DIR PORT_BASE

Ports (all on 127.0.0.1):
    PORT_BASE + 1   HTTP; the behaviour is chosen by the request path (ROUTES)
    PORT_BASE + 2   a listener that never accepts and whose queue is full, so
                    a connect to it stays pending (connect watchdog tests)

To add a behaviour, write a handler taking (conn, request) and add its path
to ROUTES. A handler writes raw bytes; `reply` and `send_parts` cover the
usual cases.
"""
import gzip
import os
import random
import socket
import socketserver
import sys
import threading
import time
import zlib

STATE_DIR = sys.argv[1]
PORT_BASE = int(sys.argv[2])
HTTP_PORT = PORT_BASE + 1
NEVER_ACCEPT_PORT = PORT_BASE + 2
MAX_REQUEST = 64 * 1024
SEGMENT_PAUSE = 0.05

PLAIN_TEXT = b"The quick brown fox jumps over the lazy dog.\n" * 200
# Less compressible, so that its gzip form spans several chunks.
VARIED_TEXT = b"".join(b"%d:%d\n" % (i, i * i) for i in range(2000))


class Request:
    def __init__(self, raw):
        self.raw = raw
        head = raw.split(b"\r\n\r\n", 1)[0].decode("latin-1")
        lines = head.split("\r\n")
        parts = lines[0].split(" ")
        self.method = parts[0]
        self.target = parts[1] if len(parts) > 1 else "/"
        self.path, _, query = self.target.partition("?")
        self.query = dict(p.partition("=")[::2] for p in query.split("&") if p)
        self.headers = {}
        for line in lines[1:]:
            name, _, value = line.partition(":")
            self.headers[name.strip().lower()] = value.strip()

    def base_url(self):
        return "http://" + self.headers.get("host", "127.0.0.1:%d" % HTTP_PORT)


def send_parts(conn, parts, pause=SEGMENT_PAUSE):
    """Sends each part as its own TCP segment, pausing between them."""
    for i, part in enumerate(parts):
        if i:
            time.sleep(pause)
        conn.sendall(part)


def head(status, fields):
    lines = ["HTTP/1.1 " + status] + ["%s: %s" % f for f in fields] + ["", ""]
    return "\r\n".join(lines).encode("latin-1")


def reply(conn, status, fields, body=b"", length=True):
    fields = list(fields) + [("Connection", "close")]
    if length:
        fields.append(("Content-Length", str(len(body))))
    conn.sendall(head(status, fields) + body)


def gzip_bytes(data):
    return gzip.compress(data)


def raw_deflate(data):
    c = zlib.compressobj(6, zlib.DEFLATED, -15)
    return c.compress(data) + c.flush()


def chunked(body, sizes, extension=""):
    """Chunked encoding of `body` with the given chunk sizes (cycled)."""
    out, i, k = [], 0, 0
    while i < len(body):
        n = sizes[k % len(sizes)]
        k += 1
        out.append(b"%x%s\r\n" % (n if i + n <= len(body) else len(body) - i, extension.encode()))
        out.append(body[i:i + n] + b"\r\n")
        i += n
    out.append(b"0\r\n\r\n")
    return b"".join(out)


# --- handlers -------------------------------------------------------------

def split_after_cr(conn, req):
    # Every line break of the header falls between two segments, right
    # after its CR.
    body = b"split body"
    text = head("200 OK", [("X-Split", "yes"), ("Content-Length", str(len(body)))]) + body
    cut = [i + 1 for i in range(len(text)) if text[i:i + 2] == b"\r\n"]
    parts, last = [], 0
    for c in cut:
        parts.append(text[last:c])
        last = c
    parts.append(text[last:])
    send_parts(conn, parts)


def close_mid_header(conn, req):
    conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/pl")
    time.sleep(SEGMENT_PAUSE)


def continuation(conn, req):
    body = b"folded"
    conn.sendall(b"HTTP/1.1 200 OK\r\nX-Folded: first part\r\n   second part\r\n\tthird part\r\n"
                 b"Content-Length: 6\r\nConnection: close\r\n\r\n" + body)


def stall(conn, req):
    # Holds the connection without answering until the client goes away.
    conn.settimeout(30)
    try:
        conn.recv(1)
    except OSError:
        pass


def redirect_loop(conn, req):
    reply(conn, "302 Found", [("Location", req.base_url() + "/redirect-loop"), ("Set-Cookie", "loop=1")])


def redirect_to_echo(conn, req):
    reply(conn, "302 Found", [("Location", req.base_url() + "/echo-request"), ("Set-Cookie", "session=abc")])


def redirect_ftp(conn, req):
    reply(conn, "301 Moved Permanently", [("Location", "ftp://127.0.0.1/elsewhere")])


def echo_request(conn, req):
    reply(conn, "200 OK", [("Content-Type", "text/plain")], req.raw)


BOMB = None


def gzip_bomb(conn, req):
    reply(conn, "200 OK", [("Content-Encoding", "gzip")], BOMB)


def bad_content_range(conn, req):
    reply(conn, "206 Partial Content", [("Content-Range", "bytes 5-9/100")], b"56789")


def gzip_capitals(conn, req):
    reply(conn, "200 OK", [("CONTENT-ENCODING", "GZIP")], gzip_bytes(PLAIN_TEXT))


def deflate(conn, req):
    reply(conn, "200 OK", [("Content-Encoding", "deflate")], raw_deflate(PLAIN_TEXT))


def corrupt_gzip(conn, req):
    reply(conn, "200 OK", [("Content-Encoding", "gzip")], b"\x1f\x8b\x08\x00garbage that is not deflate data")


def chunked_extensions(conn, req):
    body = chunked(PLAIN_TEXT, [1, 7, 300, 4096, 13], ";name=value")
    text = head("200 OK", [("Transfer-Encoding", "chunked"), ("Connection", "close")]) + body
    send_parts(conn, [text[i:i + 977] for i in range(0, len(text), 977)], 0.005)


def chunked_gzip(conn, req):
    body = chunked(gzip_bytes(PLAIN_TEXT), [100, 5000])
    conn.sendall(head("200 OK", [("Transfer-Encoding", "Chunked"), ("Content-Encoding", "gzip"),
                                 ("Connection", "close")]) + body)


def bad_chunk_size(conn, req):
    conn.sendall(head("200 OK", [("Transfer-Encoding", "chunked")]) + b"5\r\nhello\r\nzz\r\nmore\r\n0\r\n\r\n")


def huge_chunk(conn, req):
    conn.sendall(head("200 OK", [("Transfer-Encoding", "chunked")]) + b"7fffffffffffffff\r\nhello")


def chunk_without_line_end(conn, req):
    conn.sendall(head("200 OK", [("Transfer-Encoding", "chunked")]) + b"5\r\nhelloXY3\r\nabc\r\n0\r\n\r\n")


def no_length(conn, req):
    conn.sendall(head("200 OK", [("Connection", "close")]) + PLAIN_TEXT)


def short_body(conn, req):
    conn.sendall(head("200 OK", [("Content-Length", "1000")]) + b"only a little")


def many_headers(conn, req):
    fields = [("X-Field-%d" % i, "v") for i in range(1000)]
    reply(conn, "200 OK", fields, b"x")


def random_pieces(conn, req):
    # A chunked gzip answer with a folded header, cut at random points
    # (seeded by ?seed=N) into segments of 1 to 300 bytes.
    rnd = random.Random(int(req.query.get("seed", "1")))
    body = chunked(gzip_bytes(VARIED_TEXT), [rnd.randint(1, 3000) for _ in range(8)], ";piece=1")
    text = (b"HTTP/1.1 200 OK\r\nX-Folded: one\r\n two\r\nTransfer-Encoding: chunked\r\n"
            b"Content-Encoding: gzip\r\nConnection: close\r\n\r\n" + body)
    parts, i = [], 0
    while i < len(text):
        n = rnd.randint(1, 300)
        parts.append(text[i:i + n])
        i += n
    send_parts(conn, parts, 0.001)


def no_status(conn, req):
    conn.sendall(b"garbage line\r\n\r\n")


ROUTES = {
    "/split-after-cr": split_after_cr,
    "/close-mid-header": close_mid_header,
    "/continuation": continuation,
    "/stall": stall,
    "/redirect-loop": redirect_loop,
    "/redirect-to-echo": redirect_to_echo,
    "/redirect-ftp": redirect_ftp,
    "/echo-request": echo_request,
    "/gzip-bomb": gzip_bomb,
    "/bad-content-range": bad_content_range,
    "/gzip-capitals": gzip_capitals,
    "/deflate": deflate,
    "/corrupt-gzip": corrupt_gzip,
    "/chunked-extensions": chunked_extensions,
    "/chunked-gzip": chunked_gzip,
    "/bad-chunk-size": bad_chunk_size,
    "/huge-chunk": huge_chunk,
    "/chunk-without-line-end": chunk_without_line_end,
    "/no-length": no_length,
    "/short-body": short_body,
    "/many-headers": many_headers,
    "/no-status": no_status,
    "/random-pieces": random_pieces,
    # Manifests of update runs (base URL + "/update.json").
    "/corrupt/update.json": corrupt_gzip,
    "/ftp/update.json": redirect_ftp,
}

# The download engine's faults live in a module of their own.
import download_faults  # noqa: E402
ROUTES.update(download_faults.ROUTES)
PREFIX_ROUTES = dict(download_faults.PREFIX_ROUTES)
import batch_faults  # noqa: E402
PREFIX_ROUTES.update(batch_faults.PREFIX_ROUTES)


class Handler(socketserver.BaseRequestHandler):
    def handle(self):
        conn = self.request
        conn.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        conn.settimeout(10)
        raw = b""
        try:
            while b"\r\n\r\n" not in raw and len(raw) < MAX_REQUEST:
                data = conn.recv(4096)
                if not data:
                    return
                raw += data
            req = Request(raw)
            handler = ROUTES.get(req.path)
            if handler is None:
                handler = next((h for prefix, h in PREFIX_ROUTES.items() if req.path.startswith(prefix)), None)
            if handler is None:
                reply(conn, "404 Not Found", [("Content-Type", "text/plain")], b"no such fault\n")
            else:
                handler(conn, req)
        except OSError:
            pass


class Server(socketserver.ThreadingTCPServer):
    allow_reuse_address = True
    daemon_threads = True


def make_bomb():
    """256 MiB of zeros as a gzip body of about 1 MiB, cached in STATE_DIR."""
    path = os.path.join(STATE_DIR, "bomb.gz")
    if not os.path.exists(path):
        c = zlib.compressobj(1, zlib.DEFLATED, 31)
        zeros = bytes(1 << 20)
        with open(path + ".part", "wb") as f:
            for _ in range(256):
                f.write(c.compress(zeros))
            f.write(c.flush())
        os.replace(path + ".part", path)
    with open(path, "rb") as f:
        return f.read()


def never_accepting_listener():
    """A listener whose accept queue is full: further SYNs are dropped, so a
    client's connect stays pending until it gives up."""
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", NEVER_ACCEPT_PORT))
    listener.listen(0)
    fillers = []
    for _ in range(2):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setblocking(False)
        s.connect_ex(("127.0.0.1", NEVER_ACCEPT_PORT))
        fillers.append(s)
    time.sleep(0.2)
    return listener, fillers


def main():
    global BOMB
    BOMB = make_bomb()
    keep = never_accepting_listener()
    server = Server(("127.0.0.1", HTTP_PORT), Handler)
    with open(os.path.join(STATE_DIR, "ready"), "w") as f:
        f.write(str(os.getpid()))
    try:
        server.serve_forever()
    finally:
        del keep


if __name__ == "__main__":
    main()
