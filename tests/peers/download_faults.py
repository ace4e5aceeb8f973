"""Faults for the download engine, served by fault_server.py (PORT_BASE + 1).

Every route serves a file of `size` bytes (query `size`) with the pattern of
tests/http/DownloadPattern.h and answers byte ranges, except where its fault
says otherwise. A fault that should strike once per test run is keyed by the
query's `token`.
"""
import gzip
import re
import threading
import time

_struck = set()
_lock = threading.Lock()


_BASE = bytes((31 * j + (j >> 8)) & 0xFF for j in range(65536))
_TABLES = [bytes((x + 7 * k) & 0xFF for x in range(256)) for k in range(256)]


def _pattern(offset, length):
    """Bytes [offset, offset + length) of a pattern file: block k (65536
    bytes) holds byte j = (31 j + (j >> 8) + 7 k) mod 256."""
    out = []
    while length > 0:
        k, j = divmod(offset, 65536)
        take = min(length, 65536 - j)
        out.append(_BASE[j:j + take].translate(_TABLES[k % 256]))
        offset += take
        length -= take
    return b"".join(out)


def _strike_once(req, what):
    key = (what, req.query.get("token", ""))
    with _lock:
        if key in _struck:
            return False
        _struck.add(key)
        return True


def _range(req, size):
    """(start, end) of the request's "Range", None without one or empty."""
    value = req.headers.get("range", "")
    if not value.lower().startswith("bytes="):
        return None
    start, _, end = value[6:].partition("-")
    start = int(start)
    end = int(end) if end else size - 1
    return start, min(end, size - 1)


def _head(status, fields):
    lines = ["HTTP/1.1 " + status] + ["%s: %s" % f for f in fields] + ["Connection: close", "", ""]
    return "\r\n".join(lines).encode("latin-1")


def _partial_head(start, end, size, length=None, extra=()):
    return _head("206 Partial Content", [
        ("Content-Range", "bytes %d-%d/%d" % (start, end, size)),
        ("Content-Length", str(length if length is not None else end - start + 1)),
        ("Last-Modified", "Tue, 02 Jan 2024 03:04:05 GMT")] + list(extra))


def _serve(conn, req, size, body_fault=None, extra=()):
    """Answers like a server with ranges; `body_fault(start, end)` may
    replace the body of one ranged answer and returns True when it did.
    `extra` header fields go into every answer."""
    r = _range(req, size)
    if r is None:
        conn.sendall(_head("200 OK", [("Content-Length", str(size))] + list(extra)) + _pattern(0, size))
        return
    start, end = r
    if body_fault and body_fault(start, end):
        return
    conn.sendall(_partial_head(start, end, size, extra=extra) + _pattern(start, end - start + 1))


def drop_mid_range(conn, req):
    # The first range after the probe gets half its bytes, then the
    # connection closes.
    size = int(req.query.get("size", "3000000"))

    def fault(start, end):
        if start == 0 and end == 0 or not _strike_once(req, "drop"):
            return False
        half = (end - start + 1) // 2
        conn.sendall(_partial_head(start, end, size) + _pattern(start, half))
        return True
    _serve(conn, req, size, fault)


def stall_range(conn, req):
    # The first range after the probe sends a little, then goes silent.
    size = int(req.query.get("size", "3000000"))

    def fault(start, end):
        if start == 0 and end == 0 or not _strike_once(req, "stall"):
            return False
        conn.sendall(_partial_head(start, end, size) + _pattern(start, 1000))
        _hold(conn)
        return True
    _serve(conn, req, size, fault)


def stall_probe(conn, req):
    _hold(conn)


# Request heads by the query's `token`, for "/dl-requests".
_seen = {}


def _record(req):
    token = req.query.get("token")
    if token:
        with _lock:
            _seen.setdefault(token, []).append(req.raw.split(b"\r\n\r\n", 1)[0].decode("latin-1"))


def requests_seen(conn, req):
    # The heads recorded for `token`, each ended by an empty line.
    with _lock:
        heads = list(_seen.get(req.query.get("token", ""), []))
    body = "".join(h + "\r\n\r\n" for h in heads).encode("latin-1")
    conn.sendall(_head("200 OK", [("Content-Length", str(len(body)))]) + body)


def refuse_probe_range(conn, req):
    # 416 to any "Range" line, an empty one too (query `always`: to every
    # request); a request without one gets the file.
    _record(req)
    size = int(req.query.get("size", "100000"))
    if "range" in req.headers or "always" in req.query:
        conn.sendall(_head("416 Range Not Satisfiable", [("Content-Length", "0")]))
        return
    conn.sendall(_head("200 OK", [("Content-Length", str(size))]) + _pattern(0, size))


def strict_reader(conn, req):
    # Reads requests like the strictest widely used servers: the range unit
    # in lower case only, 416 to an empty "Range" line, and every answer
    # compressed (so without ranges) unless the request takes identity only.
    _record(req)
    size = int(req.query.get("size", "3000000"))
    value = req.headers.get("range")
    if value is not None and not re.fullmatch(r"bytes=\d+-\d*", value):
        conn.sendall(_head("416 Range Not Satisfiable", [("Content-Length", "0")]))
        return
    if req.headers.get("accept-encoding", "identity").strip().lower() != "identity":
        body = gzip.compress(_pattern(0, size))
        conn.sendall(_head("200 OK", [("Content-Length", str(len(body))), ("Content-Encoding", "gzip")]) + body)
        return
    _serve(conn, req, size)


def drip_range(conn, req):
    # Every answer's head at once, then its bytes one every 0.1 s: never
    # silent, never useful.
    size = int(req.query.get("size", "100000"))
    start, end = _range(req, size) or (0, size - 1)
    try:
        conn.sendall(_partial_head(start, end, size))
        for at in range(start, end + 1):
            conn.sendall(_pattern(at, 1))
            time.sleep(0.1)
    except OSError:
        pass


def overrun_range(conn, req):
    # Ranged answers carry 5000 bytes more than the range asked for.
    size = int(req.query.get("size", "3000000"))

    def fault(start, end):
        if start == 0 and end == 0:
            return False
        extra = 5000
        body = _pattern(start, end - start + 1) + b"\xAA" * extra
        conn.sendall(_partial_head(start, end, size, len(body)) + body)
        return True
    _serve(conn, req, size, fault)


def _hold(conn, seconds=60):
    """Keeps the connection open and silent until the client goes away."""
    conn.settimeout(0.2)
    deadline = time.time() + seconds
    while time.time() < deadline:
        try:
            if not conn.recv(4096):
                return
        except OSError as e:
            if "timed out" not in str(e):
                return


# --- whole update runs against a misbehaving server ------------------------
#
# "/run/FAULT/update.json" is a manifest naming one file, "a.bin" of RUN_SIZE
# bytes with the pattern (an empty one for the faults "empty..."); "/run/
# FAULT/a.bin" serves that file with FAULT. Every fault ends by itself:
# endless bodies stop after STREAM_SECONDS or STREAM_LIMIT bytes, stalls
# after 60 s or when the client goes away.

RUN_SIZE = 1200000
STREAM_SECONDS = 20
STREAM_LIMIT = 256 << 20
_run_md5 = None


def _manifest(fault):
    global _run_md5
    import hashlib
    import json
    if _run_md5 is None:
        _run_md5 = hashlib.md5(_pattern(0, RUN_SIZE)).hexdigest()
    size, md5 = (0, hashlib.md5(b"").hexdigest()) if fault.startswith("empty") else (RUN_SIZE, _run_md5)
    return json.dumps([{"File": "a.bin", "isLauncher": 0, "Need": True, "Hash": md5,
                        "Size": size, "IsZip": False}]).encode()


def _stream(conn, start):
    """Pattern bytes from `start` until the client goes away or the bound."""
    deadline = time.time() + STREAM_SECONDS
    sent, at = 0, start
    try:
        while time.time() < deadline and sent < STREAM_LIMIT:
            piece = _pattern(at, 65536)
            conn.sendall(piece)
            sent += len(piece)
            at += len(piece)
    except OSError:
        pass


def _run_file(conn, req, fault, name):
    size = RUN_SIZE
    r = _range(req, size)
    probe = r == (0, 0)
    if fault == "empty":
        conn.sendall(_head("200 OK", [("Content-Length", "0")]))
    elif fault == "emptyendless":
        conn.sendall(_head("200 OK", []))
        _stream(conn, 0)
    elif fault in ("drip", "dripclose") and not probe and r is not None:
        # A slow-retrieval attack: the head and 1 KiB of every range, then
        # silence (or a closed connection).
        start, end = r
        conn.sendall(_partial_head(start, end, size) + _pattern(start, min(1024, end - start + 1)))
        if fault == "drip":
            _hold(conn)
    elif fault == "renamed":
        # Every answer names another file of the folder as its location.
        _serve(conn, req, size, extra=[("Content-Location", req.base_url() + "/run/renamed/victim.txt")])
    elif fault == "redirectname" and name == "a.bin":
        conn.sendall(_head("302 Found", [("Location", req.base_url() + "/run/redirectname/victim.txt"),
                                         ("Content-Length", "0")]))
    elif fault == "status500":
        conn.sendall(_head("500 Internal Server Error", [("Content-Length", "0")]))
    elif fault == "redirectloop":
        conn.sendall(_head("302 Found", [("Location", req.base_url() + req.path), ("Content-Length", "0")]))
    elif fault in ("longer", "shorter"):
        length = size + (1000 if fault == "longer" else -1000)
        conn.sendall(_head("200 OK", [("Content-Length", str(length))]) + _pattern(0, length))
    elif fault == "endless200":
        conn.sendall(_head("200 OK", []))
        _stream(conn, 0)
    elif fault == "stall200":
        conn.sendall(_head("200 OK", [("Content-Length", str(size))]) + _pattern(0, 1000))
        _hold(conn)
    elif fault == "stall206" and not probe and r is not None:
        start, end = r
        conn.sendall(_partial_head(start, end, size))
        _hold(conn)
    elif fault == "endless206" and not probe and r is not None:
        start, end = r
        conn.sendall(_partial_head(start, end, size, length=end - start + 1 + (1 << 40)))
        _stream(conn, start)
    elif fault == "dropmid" and not probe and r is not None:
        # Every ranged answer stops half-way and the connection closes.
        start, end = r
        conn.sendall(_partial_head(start, end, size) + _pattern(start, (end - start + 1) // 2))
    elif fault == "ignorerange" and not probe and r is not None:
        start, end = r
        conn.sendall(_partial_head(0, end - start, size) + _pattern(0, end - start + 1))
    else:
        _serve(conn, req, size)


def update_run(conn, req):
    parts = req.path.split("/")  # "", "run", FAULT, NAME
    if len(parts) != 4:
        conn.sendall(_head("404 Not Found", [("Content-Length", "0")]))
    elif parts[3] == "update.json":
        body = _manifest(parts[2])
        conn.sendall(_head("200 OK", [("Content-Length", str(len(body)))]) + body)
    elif parts[3] in ("a.bin", "victim.txt"):
        _run_file(conn, req, parts[2], parts[3])
    else:
        conn.sendall(_head("404 Not Found", [("Content-Length", "0")]))


# Served for every path that starts with the key.
PREFIX_ROUTES = {
    "/run/": update_run,
}

ROUTES = {
    "/dl-drop": drop_mid_range,
    "/dl-stall": stall_range,
    "/dl-stall-probe": stall_probe,
    "/dl-416": refuse_probe_range,
    "/dl-strict": strict_reader,
    "/dl-requests": requests_seen,
    "/dl-overrun": overrun_range,
    "/dl-drip": drip_range,
}
