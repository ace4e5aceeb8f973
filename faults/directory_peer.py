"""A directory service that misbehaves, on UDP 127.0.0.1 (a thread of the
row script). Every GetServerList frame it receives is answered the way its
mode says:

  slow         the good reply (the real tool's datagrams), but only after
               `delay` seconds, when the launcher has given up on it
  random       datagrams of random bytes that hold no frame start (AA 55)
  truncated    the first half of the good reply frame, and nothing more
  long-length  the good reply frame whose length field claims 1,000 bytes
               more than the datagram holds
  short-length the document compressed (flags 1) in a frame whose length
               field counts only half of the compressed bytes that follow
"""
import random
import socket
import struct
import threading
import time
import zlib

MAGIC = 0x55AA
REPLY = 0x81
MAX_DATAGRAM = 16384


def parse_frame(data):
    """(message id, flags, payload) of the frame at the start of data."""
    magic, message, flags, length = struct.unpack("<HHHH", data[:8])
    if magic != MAGIC or len(data) < 8 + length:
        raise ValueError("not a whole directory frame")
    return message, flags, data[8:8 + length]


def frame(message, flags, payload, length=None):
    return struct.pack("<HHHH", MAGIC, message, flags, len(payload) if length is None else length) + payload


def document_of(reply):
    message, flags, payload = parse_frame(reply)
    return zlib.decompress(payload) if flags else payload


def random_bytes(rng, size):
    data = bytearray(rng.randbytes(size))
    for i in range(len(data) - 1):
        if data[i] == 0xAA and data[i + 1] == 0x55:
            data[i + 1] = 0x56
    return bytes(data)


def answers(mode, good_reply, rng):
    """The datagrams sent for one request."""
    if mode == "slow":
        return [good_reply[i:i + MAX_DATAGRAM] for i in range(0, len(good_reply), MAX_DATAGRAM)]
    if mode == "random":
        return [random_bytes(rng, size) for size in (64, 1200, 9000)]
    if mode == "truncated":
        return [good_reply[:len(good_reply) // 2]]
    if mode == "long-length":
        message, flags, payload = parse_frame(good_reply)
        return [frame(message, flags, payload, len(payload) + 1000)]
    if mode == "short-length":
        packed = zlib.compress(document_of(good_reply))
        return [frame(REPLY, 1, packed, len(packed) // 2)]
    raise ValueError("unknown mode " + mode)


class BadDirectory:
    def __init__(self, port, mode, good_reply, delay=7.0):
        self.mode, self.good_reply, self.delay = mode, good_reply, delay
        self.requests = 0
        self.sent = []  # (seconds after the request, bytes) of each datagram
        self.rng = random.Random(mode)
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.bind(("127.0.0.1", port))
        self.sock.settimeout(0.2)
        self.stopping = threading.Event()
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        while not self.stopping.is_set():
            try:
                data, peer = self.sock.recvfrom(65536)
            except socket.timeout:
                continue
            except OSError:
                if self.stopping.is_set():
                    return
                continue
            if len(data) != 16 or struct.unpack("<HH", data[:4]) != (MAGIC, 1):
                continue
            self.requests += 1
            received = time.monotonic()
            if self.mode == "slow" and self.stopping.wait(self.delay):
                return
            for datagram in answers(self.mode, self.good_reply, self.rng):
                try:
                    self.sock.sendto(datagram, peer)
                except OSError:
                    pass
                self.sent.append((time.monotonic() - received, len(datagram)))

    def stop(self):
        self.stopping.set()
        self.thread.join(timeout=self.delay + 2)
        self.sock.close()
