"""Update runs of many small files over kept-alive connections, served by
fault_server.py (PORT_BASE + 1).

"/batch/FAULT/update.json" is a manifest naming BATCH_FILES files
"fNN.bin" of BATCH_SIZE bytes each (pattern bytes from NN * 1000);
"/batch/FAULT/fNN.bin" serves them on one connection after another request
for as long as FAULT allows:

    keep    every answer keeps the connection
    close   every answer says "Connection: close" and closes
    drop    every second answer is followed by a silent close, so the
            client finds its kept connection gone
    mixed   f03.bin is a 404 and f05.bin comes 100 bytes short (its length
            field agrees with the short body); the others are right
    slow    each body arrives in 8 pieces 0.15 s apart
    nopipe  like keep, but what arrives with a request beyond it is lost:
            requests sent ahead of an answer never get one

Requests sent ahead of earlier answers are answered in order.
"""
import hashlib
import json
import time

from download_faults import _pattern

BATCH_FILES = 8
BATCH_SIZE = 16384


def _file_bytes(index):
    return _pattern(index * 1000, BATCH_SIZE)


def _manifest():
    entries = []
    for i in range(BATCH_FILES):
        entries.append({"File": "f%02d.bin" % i, "isLauncher": 0, "Need": True,
                        "Hash": hashlib.md5(_file_bytes(i)).hexdigest(), "Size": BATCH_SIZE, "IsZip": False})
    return json.dumps(entries).encode()


def _head(status, fields):
    text = "HTTP/1.1 %s\r\n" % status + "".join("%s: %s\r\n" % f for f in fields) + "\r\n"
    return text.encode("latin-1")


def _answer(conn, req, fault, served):
    """Answers one request; True when the connection stays open."""
    parts = req.path.split("/")  # "", "batch", FAULT, NAME
    name = parts[3] if len(parts) == 4 else ""
    if name == "update.json":
        body = _manifest()
        conn.sendall(_head("200 OK", [("Content-Length", len(body)), ("Connection", "close")]) + body)
        return False
    index = int(name[1:3]) if len(name) == 7 and name.startswith("f") and name.endswith(".bin") \
        and name[1:3].isdigit() else -1
    if not 0 <= index < BATCH_FILES or (fault == "mixed" and index == 3):
        body = b"no such file\n"
        conn.sendall(_head("404 Not Found", [("Content-Length", len(body))]) + body)
        return True
    body = _file_bytes(index)
    if fault == "mixed" and index == 5:
        body = body[:-100]
    if fault == "driphead":
        # The status line, then a header field a byte every 0.1 s.
        try:
            conn.sendall(b"HTTP/1.1 200 OK\r\nX-Drip: ")
            for _ in range(6000):
                time.sleep(0.1)
                conn.sendall(b"a")
        except OSError:
            pass
        return False
    fields = [("Content-Length", len(body))]
    if fault == "close":
        fields.append(("Connection", "close"))
    if fault == "slow":
        conn.sendall(_head("200 OK", fields))
        step = len(body) // 8
        for at in range(0, len(body), step):
            time.sleep(0.15)
            conn.sendall(body[at:at + step])
    else:
        conn.sendall(_head("200 OK", fields) + body)
    if fault == "close" or (fault == "drop" and served % 2 == 1):
        return False
    return True


class _Requests:
    """The requests of one connection, in the order they arrived."""

    def __init__(self, conn, request_type, first, keep_extra):
        self.conn, self.request_type, self.keep_extra = conn, request_type, keep_extra
        self.pending = first.raw.split(b"\r\n\r\n", 1)[1] if keep_extra and b"\r\n\r\n" in first.raw else b""

    def next(self):
        raw = self.pending if self.keep_extra else b""
        while b"\r\n\r\n" not in raw and len(raw) < 65536:
            data = self.conn.recv(4096)
            if not data:
                return None
            raw += data
        head, _, self.pending = raw.partition(b"\r\n\r\n")
        return self.request_type(head + b"\r\n\r\n")


def batch_run(conn, req):
    fault = req.path.split("/")[2] if req.path.count("/") >= 3 else ""
    requests = _Requests(conn, type(req), req, fault != "nopipe")
    served = 0
    while req is not None and _answer(conn, req, fault, served):
        served += 1
        req = requests.next()


PREFIX_ROUTES = {
    "/batch/": batch_run,
}
