#!/usr/bin/env python3
"""Many client nodes against one serving agent, over 127.0.0.0/8 only.

    many_nodes.py --port PORT --node NODE --share SHARE --identity FILE --limit N --client PROGRAM...

The agent (node NODE on 127.0.0.1:PORT) serves at most N sessions. A real
client keeps an advise link through \\\\NODE\\NDDE$ (one session) while
N - 1 simulated nodes, each from a loopback address of its own and speaking
TLS as a client node does (hostile_peer.py), open a session and a
conversation on SHARE. Then:
- one node more is told that the node is busy, in clear, before any TLS;
- a few nodes each have the server sleep 1.5 s in an execute at once: the
  last waits longer than the agent waits on a silent server, yet every one
  is answered and no conversation ends;
- a node with a dozen slow executes at once holds another node's request up
  for a few turns only;
- the real client's requests are answered throughout.
Every wait is bounded; the exit code is the number of failed checks.
"""
import select
import socket
import struct
import sys
import time

from hostile_peer import (ACK, CF_TEXT, DATA, EXECUTE, HEADER_SIZE, PING, REFUSED, REQUEST,
                          TERMINATE, WIRE_VERSION, Attack, MemoryWatch, Peer, RealClient, frame,
                          peer_options, real_client_linked, use_identity)

NODE_BUSY = 0x0100               # netdde_wire.h
ACK_POSITIVE = 0x8000
SLEEPERS = 8
SLEEP_MS = 1500
GREEDY_CONVERSATIONS = 12        # beside its first
TURN_SLEEP_MS = 400
MAX_AT_SERVERS_PER_SESSION = 4   # agent/conversations/servingside.cpp


def address(n):
    """Node n's own loopback address (none is 127.0.0.1, the real client's)."""
    return '127.1.%d.%d' % (n // 250, 1 + n % 250)


class Node:
    """A simulated client node holding one conversation on the share."""

    def __init__(self, attack, n):
        self.peer = Peer(attack.port, source=address(n))
        self.ready = ((self.peer.hello(b'MANY%d' % n) or ('',))[0] == 'WELCOME' and
                      self.peer.open_share(1, attack.share, timeout=30) == 'OPENED')
        self.ended = False          # the agent ended its conversation or session
        self.answers = []           # Ack words, in order
        self.answered_at = []       # when each Ack or Data came, in order

    def take_frames(self):
        """Reads what the agent sent without waiting; notes answers and ends."""
        peer = self.peer
        while select.select([peer.sock], [], [], 0)[0]:
            try:
                chunk = peer.sock.recv(65536)
            except OSError:
                chunk = b''
            if not chunk or not peer.take(chunk):
                self.ended = True
                break
        while len(peer.received) >= HEADER_SIZE:
            kind, word = struct.unpack('<xBH', peer.received[:4])
            size = HEADER_SIZE + sum(struct.unpack('<BBI', peer.received[10:16]))
            if len(peer.received) < size:
                break
            peer.received = peer.received[size:]
            if kind == TERMINATE:
                self.ended = True
            elif kind in (ACK, DATA):
                self.answered_at.append(time.monotonic())
                if kind == ACK:
                    self.answers.append(word)

    def keep_alive(self):
        self.peer.send(frame(PING))
        self.take_frames()


def busy_in_clear(port):
    """What the agent answers a connection that sends nothing: the Refused
    frame's word when it came in clear and the connection then closed."""
    connection = socket.create_connection(('127.0.0.1', port), timeout=10,
                                          source_address=(address(4999), 0))
    received = b''
    deadline = time.monotonic() + 20
    closed = False
    while not closed and time.monotonic() < deadline:
        if select.select([connection], [], [], 0.5)[0]:
            try:
                chunk = connection.recv(4096)
            except OSError:
                chunk = b''
            closed = not chunk
            received += chunk
    connection.close()
    if not closed or len(received) != HEADER_SIZE:
        return None
    version, kind, word = struct.unpack('<BBH', received[:4])
    return word if version == WIRE_VERSION and kind == REFUSED else None


def set_up_nodes(attack, client, count, nodes):
    """`count` nodes more than `nodes`, one after another; each node already
    there keeps its session alive and is read from meanwhile, and the real
    client makes a request now and then. All the nodes."""
    started = time.monotonic()
    requests = []
    for n in range(count):
        nodes.append(Node(attack, n))
        if n % 20 == 19:
            for node in nodes:
                node.keep_alive()
        if n % 50 == 49:
            code, output = client.run('request', 'Price', '/timeout:30000')
            requests.append(code == 0 and output.strip() == '7')
    set_up = time.monotonic() - started
    ready = sum(node.ready for node in nodes)
    attack.check('every node up to the limit has its session and conversation (%d of %d, %.0f s)'
                 % (ready, len(nodes), set_up), ready == len(nodes))
    attack.check('the real client completes its requests while the nodes come (%d of %d)'
                 % (sum(requests), len(requests)), all(requests))
    print('set-up: %d nodes in %.1f s, %.1f handshakes a second'
          % (count, set_up, count / set_up), flush=True)
    return nodes


def round_trip(node, times=10):
    """The median time in ms of a request on the node's conversation."""
    spent = []
    for _ in range(times):
        node.take_frames()
        asked = time.monotonic()
        node.peer.send(frame(REQUEST, 1, fmt=CF_TEXT, name=b'Price'))
        answer = node.peer.read_frame(30)
        if not answer or answer[0] != DATA:
            return None
        spent.append((time.monotonic() - asked) * 1000)
    return sorted(spent)[times // 2]


def slow_server_keeps_conversations(attack, nodes):
    """A server slow to answer, but taking messages all along."""
    sleepers = [node for node in nodes if node.ready][:SLEEPERS]
    for node in sleepers:
        node.peer.send(frame(EXECUTE, 1, data=b'[sleep:%d]' % SLEEP_MS))
    deadline = time.monotonic() + SLEEPERS * SLEEP_MS / 1000 + 60
    while time.monotonic() < deadline and not all(node.answers or node.ended for node in sleepers):
        for node in nodes:
            node.keep_alive()
        time.sleep(0.5)
    answered = sum(bool(node.answers) and node.answers[0] & ACK_POSITIVE != 0 for node in sleepers)
    attack.check('every execute of the slow server is answered (%d of %d)' % (answered, SLEEPERS),
                 answered == SLEEPERS)
    for node in nodes:
        node.keep_alive()
    ended = sum(node.ended for node in nodes)
    attack.check('no conversation ended (%d did)' % ended, ended == 0)


def nodes_take_turns(attack, nodes):
    """A node with many conversations, each asking the server for a slow
    execute at once, holds another node's request up for a few turns only,
    not for its whole backlog."""
    greedy, polite = [node for node in nodes if node.ready and not node.ended][-2:]
    conversations = range(2, 2 + GREEDY_CONVERSATIONS)
    opened = [greedy.peer.open_share(c, attack.share, timeout=30) for c in conversations]
    if not attack.check('a node opens %d conversations more' % len(opened),
                        all(each == 'OPENED' for each in opened)):
        return
    greedy.take_frames()
    greedy.answered_at, polite.answered_at = [], []
    for c in [1] + list(conversations):
        greedy.peer.send(frame(EXECUTE, c, data=b'[sleep:%d]' % TURN_SLEEP_MS))
    deadline = time.monotonic() + 60
    while not greedy.answered_at and time.monotonic() < deadline:
        greedy.take_frames()
        time.sleep(0.02)
    polite.peer.send(frame(REQUEST, 1, fmt=CF_TEXT, name=b'Price'))
    executes = 1 + GREEDY_CONVERSATIONS
    deadline = time.monotonic() + executes * TURN_SLEEP_MS / 1000 + 60
    while (len(greedy.answered_at) < executes or not polite.answered_at) and \
            time.monotonic() < deadline:
        greedy.take_frames()
        polite.take_frames()
        time.sleep(0.02)
    if not attack.check('every execute and the request are answered',
                        len(greedy.answered_at) == executes and polite.answered_at):
        return
    ahead = sum(at < polite.answered_at[0] for at in greedy.answered_at)
    attack.check('the request waits for a few turns (%d of %d executes came first)'
                 % (ahead, executes), ahead <= MAX_AT_SERVERS_PER_SESSION + 2)


def main():
    options = peer_options(('--limit', dict(type=int, required=True)),
                           ('--waves', dict(type=int, default=1,
                                            help='times the nodes come and leave (memory kept or lost)')))
    use_identity(options.identity)
    attack = Attack(options)
    client = RealClient(options)
    if not attack.check('the agent process is found', attack.pid is not None):
        return 1

    link = real_client_linked(attack, client, 900)
    idle = MemoryWatch.sample(attack.pid)[0]

    for wave in range(options.waves):
        # Every place but the real client's.
        first = Node(attack, options.limit)
        alone = round_trip(first) if first.ready else None
        nodes = set_up_nodes(attack, client, options.limit - 2, [first])
        crowded = round_trip(first)
        print('request round trip: %s ms alone, %s ms beside %d nodes'
              % (alone and '%.1f' % alone, crowded and '%.1f' % crowded, len(nodes)), flush=True)
        full = MemoryWatch.sample(attack.pid)[0]
        if wave == 0:
            attack.check('one node more is told the node is busy, in clear, before any TLS',
                         busy_in_clear(options.port) == NODE_BUSY)
            slow_server_keeps_conversations(attack, nodes)
            nodes_take_turns(attack, nodes)
            code, output = client.run('request', 'Price', '/timeout:30000')
            attack.check('the real client is served with every place taken',
                         code == 0 and output.strip() == '7')
        for node in nodes:
            node.peer.close()
        time.sleep(5)
        print('memory: agent resident %d MB before, %d MB with the nodes (%.0f KB a node), '
              '%d MB 5 s after they left' % (idle >> 20, full >> 20, (full - idle) / len(nodes) / 1024,
                                             MemoryWatch.sample(attack.pid)[0] >> 20), flush=True)
    link.stop()
    return attack.failures


if __name__ == '__main__':
    sys.exit(main())
