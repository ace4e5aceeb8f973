"""A listener whose accept queue is full: it listens on 127.0.0.1:PORT with a
backlog of one, never accepts, and fills the queue with its own connections
first, so the kernel drops every further SYN and a connect there hangs until
the client gives up. Writes the number of connections it holds to READY
once the queue is full, then sleeps until killed.
   full_queue.py PORT READY"""
import signal
import socket
import sys
import time

port, ready = int(sys.argv[1]), sys.argv[2]
listener = socket.socket()
listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
listener.bind(("127.0.0.1", port))
listener.listen(1)
held = []
# The queue holds backlog + 1 connections; the connects past that are
# dropped SYNs, abandoned after a short wait.
for _ in range(4):
    s = socket.socket()
    s.settimeout(0.3)
    try:
        s.connect(("127.0.0.1", port))
        held.append(s)
    except OSError:
        s.close()
with open(ready, "w") as f:
    f.write(str(len(held)))
signal.signal(signal.SIGTERM, lambda *_: sys.exit(0))
while True:
    time.sleep(3600)
