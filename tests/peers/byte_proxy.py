#!/usr/bin/env python3
"""A TCP proxy on 127.0.0.1 that forwards the server's stream to the client
one byte per send (TCP_NODELAY), so that TLS records and HTTP lines reach
the client split in every possible place. The client's stream goes on as it
comes.
    byte_proxy.py LISTEN_PORT SERVER_PORT
"""
import socket
import sys
import threading
import time


def pump(source, target, one_byte):
    try:
        while True:
            data = source.recv(65536)
            if not data:
                break
            if one_byte:
                for i in range(len(data)):
                    target.sendall(data[i:i + 1])
            else:
                target.sendall(data)
    except OSError:
        pass
    finally:
        for s in (source, target):
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass


def serve(client, server_port):
    try:
        server = socket.create_connection(("127.0.0.1", server_port), timeout=10)
    except OSError:
        client.close()
        return
    server.settimeout(None)
    for s in (client, server):
        s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    up = threading.Thread(target=pump, args=(client, server, False), daemon=True)
    up.start()
    pump(server, client, True)
    up.join()
    client.close()
    server.close()


def main():
    listen_port, server_port = int(sys.argv[1]), int(sys.argv[2])
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    # A client elsewhere on the machine may hold the port for a moment as
    # its own end of a connection: try again for a while.
    for attempt in range(50):
        try:
            listener.bind(("127.0.0.1", listen_port))
            break
        except OSError:
            if attempt == 49:
                raise
            time.sleep(0.2)
    listener.listen(64)
    while True:
        client, _ = listener.accept()
        threading.Thread(target=serve, args=(client, server_port), daemon=True).start()


if __name__ == "__main__":
    main()
