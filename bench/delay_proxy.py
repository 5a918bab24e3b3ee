#!/usr/bin/env python3
"""A TCP relay on 127.0.0.1 that holds every request for a fixed time before passing it on, so
that each response arrives that much later: a stand-in for a network with a round trip, in front
of a loopback server.

Usage: delay_proxy.py UPSTREAM_PORT [DELAY_MS=20]
Prints the port it listens on, then serves until killed. Each client connection gets a
connection of its own to the upstream server; keep-alive works as it would without the relay.
"""
import asyncio
import sys


async def pipe(reader, writer, delay):
    try:
        while True:
            data = await reader.read(65536)
            if not data:
                break
            if delay:
                await asyncio.sleep(delay)
            writer.write(data)
            await writer.drain()
    except (ConnectionError, asyncio.CancelledError):
        pass
    finally:
        writer.close()


async def relay(client_reader, client_writer, upstream_port, delay):
    try:
        server_reader, server_writer = await asyncio.open_connection("127.0.0.1", upstream_port)
    except OSError:
        client_writer.close()
        return
    # Requests are held; responses pass at once.
    await asyncio.gather(pipe(client_reader, server_writer, delay),
                         pipe(server_reader, client_writer, 0))


async def main():
    upstream_port = int(sys.argv[1])
    delay = (float(sys.argv[2]) if len(sys.argv) > 2 else 20.0) / 1000.0
    server = await asyncio.start_server(
        lambda r, w: relay(r, w, upstream_port, delay), "127.0.0.1", 0)
    print(server.sockets[0].getsockname()[1], flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
