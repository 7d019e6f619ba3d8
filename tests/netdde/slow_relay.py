#!/usr/bin/env python3
"""A slow network between two agents, on 127.0.0.1: a TCP relay that carries
what the listening side's peer sends back at most RATE bytes a second (the
other direction goes at once), with small socket buffers so that the
system holds little of what waits.

    slow_relay.py --listen PORT --to PORT --rate BYTES [--seconds N]

It prints "listening" once it takes connections and ends after N seconds
(default 600) or when killed.
"""
import argparse
import selectors
import socket
import time

CHUNK = 4096
BUFFER_SECONDS = 0.5        # each socket's system buffers hold this long at RATE
buffer_size = 16 * 1024


def small_buffers(sock):
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, buffer_size)
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, buffer_size)


class Pair:
    """One connection relayed: `near` accepted here, `far` made to the target."""

    def __init__(self, near, far):
        self.near, self.far = near, far
        self.toward_far = b""        # from near, not yet written to far
        self.toward_near = b""       # from far, not yet written to near
        self.closed = False


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--listen", type=int, required=True)
    parser.add_argument("--to", type=int, required=True)
    parser.add_argument("--rate", type=int, required=True)
    parser.add_argument("--seconds", type=int, default=600)
    args = parser.parse_args()
    global buffer_size
    buffer_size = max(2048, int(args.rate * BUFFER_SECONDS))

    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    small_buffers(listener)
    listener.bind(("127.0.0.1", args.listen))
    listener.listen(16)
    listener.setblocking(False)
    print("listening", flush=True)

    pairs = []
    allowance = 0.0              # bytes that may go toward near now
    last = start = time.monotonic()
    while time.monotonic() - start < args.seconds:
        now = time.monotonic()
        allowance = min(allowance + (now - last) * args.rate, float(CHUNK))
        last = now
        selector = selectors.DefaultSelector()
        selector.register(listener, selectors.EVENT_READ, None)
        for pair in pairs:
            near_events = selectors.EVENT_READ if len(pair.toward_far) < CHUNK else 0
            if pair.toward_near:
                near_events |= selectors.EVENT_WRITE
            far_events = selectors.EVENT_READ if not pair.toward_near else 0
            if pair.toward_far:
                far_events |= selectors.EVENT_WRITE
            if near_events:
                selector.register(pair.near, near_events, (pair, "near"))
            if far_events:
                selector.register(pair.far, far_events, (pair, "far"))
        for key, events in selector.select(timeout=0.01):
            if key.data is None:
                try:
                    near, _ = listener.accept()
                except OSError:
                    continue
                far = socket.socket()
                small_buffers(far)
                try:
                    far.connect(("127.0.0.1", args.to))
                except OSError:
                    near.close()
                    far.close()
                    continue
                near.setblocking(False)
                far.setblocking(False)
                pairs.append(Pair(near, far))
                continue
            pair, side = key.data
            if pair.closed:
                continue
            try:
                if side == "near" and events & selectors.EVENT_READ:
                    data = pair.near.recv(CHUNK)
                    if not data:
                        raise OSError("closed")
                    pair.toward_far += data
                if side == "far" and events & selectors.EVENT_READ:
                    # Only as much as the rate allows now.
                    wanted = int(allowance)
                    if wanted > 0:
                        data = pair.far.recv(wanted)
                        if not data:
                            raise OSError("closed")
                        allowance -= len(data)
                        pair.toward_near += data
                if side == "near" and events & selectors.EVENT_WRITE:
                    sent = pair.near.send(pair.toward_near)
                    pair.toward_near = pair.toward_near[sent:]
                if side == "far" and events & selectors.EVENT_WRITE:
                    sent = pair.far.send(pair.toward_far)
                    pair.toward_far = pair.toward_far[sent:]
            except OSError:
                pair.closed = True
                pair.near.close()
                pair.far.close()
        selector.close()
        pairs = [pair for pair in pairs if not pair.closed]
        if allowance < 1:
            time.sleep(0.005)


if __name__ == "__main__":
    main()
