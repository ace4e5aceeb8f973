#!/usr/bin/env python3
"""A TCP relay on 127.0.0.1 in front of a server on 127.0.0.1, making the
link worse in the ways asked for:

  --rtt-ms MS     every piece waits half of MS in each direction, and a new
                  connection waits all of MS before it carries data (the
                  handshake of a real link)
  --rate BYTES    each connection's rate in each direction is capped
  --byte-pieces   the server's stream reaches the client one byte per send
                  (TCP_NODELAY), so that TLS records and HTTP lines arrive
                  split in every possible place

    relay.py LISTEN_PORT TARGET_PORT [--rtt-ms MS] [--rate BYTES_PER_S] [--byte-pieces]

Runs until killed; writes "ready" to stdout once it listens.
"""
import argparse
import queue
import socket
import sys
import threading
import time


def pump(source, target, delay, rate, one_byte):
    """Copies one direction: each piece leaves `delay` seconds after it
    arrived, never faster than `rate` bytes per second (0: no cap). The end
    of the stream is passed on as a half close."""
    pieces = queue.SimpleQueue()

    def receive():
        try:
            while True:
                data = source.recv(65536)
                pieces.put((time.monotonic() + delay, data))
                if not data:
                    return
        except OSError:
            pieces.put((0, b""))

    if delay:
        threading.Thread(target=receive, daemon=True).start()
    start, sent = time.monotonic(), 0
    try:
        while True:
            if delay:
                due, data = pieces.get()
                wait = due - time.monotonic()
                if wait > 0:
                    time.sleep(wait)
            else:
                data = source.recv(65536)
            if not data:
                target.shutdown(socket.SHUT_WR)
                return
            if rate:
                sent += len(data)
                ahead = start + sent / rate - time.monotonic()
                if ahead > 0:
                    time.sleep(ahead)
            if one_byte:
                for i in range(len(data)):
                    target.sendall(data[i:i + 1])
            else:
                target.sendall(data)
    except OSError:
        # One side is gone: so is the whole connection.
        for s in (source, target):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def serve(client, args):
    try:
        if args.rtt_ms:
            time.sleep(args.rtt_ms / 1000.0)
        server = socket.create_connection(("127.0.0.1", args.target_port), timeout=10)
    except OSError:
        client.close()
        return
    server.settimeout(None)
    for s in (client, server):
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    delay = args.rtt_ms / 2000.0
    up = threading.Thread(target=pump, args=(client, server, delay, args.rate, False), daemon=True)
    up.start()
    pump(server, client, delay, args.rate, args.byte_pieces)
    up.join()
    client.close()
    server.close()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("listen_port", type=int)
    parser.add_argument("target_port", type=int)
    parser.add_argument("--rtt-ms", type=float, default=0.0)
    parser.add_argument("--rate", type=float, default=0.0)
    parser.add_argument("--byte-pieces", action="store_true")
    args = parser.parse_args()
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    # A client elsewhere on the machine may hold the port for a moment as
    # its own end of a connection: try again for a while.
    for attempt in range(50):
        try:
            listener.bind(("127.0.0.1", args.listen_port))
            break
        except OSError:
            if attempt == 49:
                raise
            time.sleep(0.2)
    listener.listen(512)
    print("ready", flush=True)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=serve, args=(client, args), daemon=True).start()


if __name__ == "__main__":
    sys.exit(main())
