#!/usr/bin/env python3
"""A TCP proxy on 127.0.0.1 that adds a round trip: every byte waits half
the delay in each direction, and a new connection waits one whole delay
before it carries data (the handshake of a real link). An optional cap
limits each connection's rate in each direction.

    delayproxy.py LISTEN_PORT TARGET_PORT [--rtt-ms 50] [--rate BYTES_PER_S]

Runs until killed; writes "ready" to stdout once it listens.
"""
import argparse
import asyncio
import sys
import time


async def pump(reader, writer, delay, rate):
    """Copies one direction, each piece leaving `delay` seconds after it
    arrived, never faster than `rate` bytes per second (0: no cap)."""
    queue = asyncio.Queue()

    async def receive():
        while True:
            data = await reader.read(65536)
            await queue.put((time.monotonic() + delay, data))
            if not data:
                return

    async def send():
        budget_start, sent = time.monotonic(), 0
        while True:
            due, data = await queue.get()
            wait = due - time.monotonic()
            if wait > 0:
                await asyncio.sleep(wait)
            if not data:
                writer.write_eof() if writer.can_write_eof() else writer.close()
                return
            if rate:
                sent += len(data)
                ahead = budget_start + sent / rate - time.monotonic()
                if ahead > 0:
                    await asyncio.sleep(ahead)
            writer.write(data)
            await writer.drain()

    try:
        await asyncio.gather(receive(), send())
    except (ConnectionError, OSError):
        pass


async def serve(args):
    delay = args.rtt_ms / 2000.0

    async def handle(client_reader, client_writer):
        try:
            await asyncio.sleep(args.rtt_ms / 1000.0)
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", args.target_port)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pump(client_reader, server_writer, delay, args.rate),
                             pump(server_reader, client_writer, delay, args.rate))
        for w in (client_writer, server_writer):
            w.close()

    server = await asyncio.start_server(handle, "127.0.0.1", args.listen_port, backlog=512)
    print("ready", flush=True)
    async with server:
        await server.serve_forever()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("listen_port", type=int)
    parser.add_argument("target_port", type=int)
    parser.add_argument("--rtt-ms", type=float, default=50.0)
    parser.add_argument("--rate", type=float, default=0.0)
    asyncio.run(serve(parser.parse_args()))


if __name__ == "__main__":
    sys.exit(main())
