#!/usr/bin/env python3
"""A TCP relay on 127.0.0.1 that delays every byte by a fixed time each way.

    delayrelay.py --listen PORT --to PORT [--delay MS] [--seconds N]

Connections to 127.0.0.1:--listen are carried to 127.0.0.1:--to, each chunk
delivered --delay milliseconds (default 20) after it was read, in both
directions, as over a link with that latency. Bounded: at most
MAX_CONNECTIONS connections, at most MAX_WAITING_BYTES waiting in each
direction (reading stops until they drain), and the relay ends after
--seconds (default 900). Standard library only; loopback only.
"""
import argparse
import asyncio
import sys

HOST = '127.0.0.1'
MAX_CONNECTIONS = 16
MAX_WAITING_BYTES = 4 * 1024 * 1024
CHUNK = 64 * 1024


async def carry(reader, writer, delay):
    """Copies reader to writer, each chunk delay seconds after it arrived."""
    loop = asyncio.get_running_loop()
    chunks = asyncio.Queue()
    room = asyncio.Semaphore(MAX_WAITING_BYTES // CHUNK)

    async def read():
        try:
            while True:
                await room.acquire()
                data = await reader.read(CHUNK)
                await chunks.put((loop.time() + delay, data))
                if not data:
                    return
        except (ConnectionError, OSError):
            await chunks.put((loop.time(), b''))

    async def write():
        try:
            while True:
                due, data = await chunks.get()
                room.release()
                wait = due - loop.time()
                if wait > 0:
                    await asyncio.sleep(wait)
                if not data:
                    return
                writer.write(data)
                await writer.drain()
        except (ConnectionError, OSError):
            pass
        finally:
            writer.close()

    await asyncio.gather(read(), write())


async def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument('--listen', type=int, required=True)
    parser.add_argument('--to', type=int, required=True)
    parser.add_argument('--delay', type=float, default=20.0, help='milliseconds each way')
    parser.add_argument('--seconds', type=float, default=900.0, help='the relay ends after this')
    options = parser.parse_args()
    delay = options.delay / 1000.0
    connections = [0]

    async def relay(client_reader, client_writer):
        if connections[0] >= MAX_CONNECTIONS:
            client_writer.close()
            return
        connections[0] += 1
        try:
            server_reader, server_writer = await asyncio.wait_for(
                asyncio.open_connection(HOST, options.to), 10)
        except (OSError, asyncio.TimeoutError):
            client_writer.close()
            connections[0] -= 1
            return
        try:
            await asyncio.gather(carry(client_reader, server_writer, delay),
                                 carry(server_reader, client_writer, delay))
        finally:
            connections[0] -= 1

    server = await asyncio.start_server(relay, HOST, options.listen)
    print('delayrelay: 127.0.0.1:%d -> 127.0.0.1:%d, %.0f ms each way' %
          (options.listen, options.to, options.delay), flush=True)
    async with server:
        try:
            await asyncio.wait_for(server.serve_forever(), options.seconds)
        except asyncio.TimeoutError:
            pass


if __name__ == '__main__':
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
