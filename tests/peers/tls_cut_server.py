#!/usr/bin/env python3
"""A TLS server on 127.0.0.1 whose answers have no length: the body runs
until the connection ends. /clean ends it with close_notify; any other path
ends it by closing the TCP connection without close_notify, as a cut
connection would, after the same body.
    tls_cut_server.py PORT CERTIFICATE KEY
"""
import socket
import ssl
import sys
import threading
import time

BODY = b"".join(b"line %d of a body without a length\n" % i for i in range(2000))


def serve(raw, context):
    try:
        conn = context.wrap_socket(raw, server_side=True)
        request = b""
        while b"\r\n\r\n" not in request:
            data = conn.recv(4096)
            if not data:
                return
            request += data
        path = request.split(b" ")[1]
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Type: text/plain\r\nConnection: close\r\n\r\n" + BODY)
        if path == b"/clean":
            conn.unwrap()
        else:
            # Closing the TCP connection itself: no close_notify goes out.
            socket.socket(fileno=conn.detach()).close()
    except (OSError, ssl.SSLError):
        pass
    finally:
        raw.close()


def main():
    port, certificate, key = int(sys.argv[1]), sys.argv[2], sys.argv[3]
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(certificate, key)
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    for attempt in range(50):
        try:
            listener.bind(("127.0.0.1", port))
            break
        except OSError:
            if attempt == 49:
                raise
            time.sleep(0.2)
    listener.listen(16)
    while True:
        raw, _ = listener.accept()
        threading.Thread(target=serve, args=(raw, context), daemon=True).start()


if __name__ == "__main__":
    main()
