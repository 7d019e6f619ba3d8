#!/usr/bin/env python3
"""Hostile remote administration against a running agent, over 127.0.0.0/8 only.

    hostile_admin.py --port PORT --node NODE --share SHARE --identity FILE --client PROGRAM...

The agent (node NODE on 127.0.0.1:PORT) has remote administration on with
the password in ADMIN_PASSWORD (hostile_peers.sh stores it). Simulated
client nodes speaking TLS (hostile_peer.py) make Admin exchanges
(agent/wire/netdde_wire.h) and calls laid out as partner/remotecall.h says:
- calls without the password, with a wrong proof, with a proof made in
  another session, are refused with access denied;
- once proved, calls that break the layout (an unknown operation, a text
  longer than it says, a presence byte that is neither 0 nor 1, bytes left
  over, a share block shorter than its record) and calls the partner refuses
  (a wrong level, a share record whose lengths do not add up) are refused;
- none of them touches the share store, read before and after by a
  legitimate node that proves the password and keeps working throughout,
  while the real DDE client is served through the agent's own node.
Every wait is bounded; the exit code is the number of failed checks.
"""
import hashlib
import hmac
import os
import struct
import sys
import time

from hostile_peer import Attack, Peer, RealClient, frame, peer_options, use_identity

(ADMIN_OPEN, ADMIN_CHALLENGE, ADMIN_PROOF, ADMIN_CALL, ADMIN_ANSWER) = range(18, 23)
CHALLENGE_LENGTH, SALT_LENGTH = 16, 16
ADMIN_PROOF_NAME = b'\\ADMIN'
NDDE_NO_ERROR, NDDE_ACCESS_DENIED, NDDE_BUF_TOO_SMALL = 0, 1, 2
NDDE_INVALID_PARAMETER, NDDE_INVALID_LEVEL = 6, 7
NULL_TEXT = 0xFFFF
# Partner operations (api/partnerlink.h).
SHARE_GET_INFO, SHARE_ENUM, SHARE_DEL, SHARE_ADD = 11, 12, 13, 14
SHARE_INFO_HEADER = 112          # api/tessaflat.h
ANSWER_WAIT = 40.0               # s: a wrong proof is answered late on purpose


def text(value):
    return struct.pack('<H', len(value)) + value


def share_enum_call(size, level=0):
    """NDdeShareEnum(level, a buffer of `size`, entriesRead, totalAvailable)."""
    return (bytes([SHARE_ENUM]) + struct.pack('<I', level) + b'\x01' + struct.pack('<I', size)
            + b'\x01' + struct.pack('<I', 0) + b'\x01' + struct.pack('<I', 0))


def share_add_call(block, level=2):
    return bytes([SHARE_ADD]) + struct.pack('<I', level) + struct.pack('<I', len(block)) + block \
        + struct.pack('<I', len(block))


def transfer_block(name, application=b'EVILAPP', topic=b'EVILTOPIC', claimed_items=0):
    """A share's transfer block as the library packs it (api/partnerlink.h:
    the 112-byte record with offsets for pointers, then its strings: both
    passwords and the first item empty, every permission for password #1);
    with `claimed_items` the record claims items without a table."""
    app_at = SHARE_INFO_HEADER
    topic_at = app_at + len(application) + 1
    password1_at = topic_at + len(topic) + 1
    record = name.ljust(68, b'\0') + struct.pack(
        '<11I', app_at, topic_at, password1_at, 0, 0x1F, password1_at + 1, 0, 0,
        password1_at + 2, claimed_items, 0)
    return record + application + b'\0' + topic + b'\0' + b'\0\0\0'


class AdminNode:
    """A client node's session that makes Admin exchanges."""

    def __init__(self, attack, name, source):
        self.peer = Peer(attack.port, source=source)
        self.ready = (self.peer.hello(name) or ('',))[0] == 'WELCOME'
        self.conversation = 0

    def exchange(self, kind, data=b'', conversation=None, timeout=ANSWER_WAIT):
        """Sends a frame and returns the answer on its conversation as
        (kind, word, data), or None."""
        if conversation is None:
            self.conversation += 1
            conversation = self.conversation
        if not self.peer.send(frame(kind, conversation, data=data)):
            return None
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            answer = self.peer.read_frame(deadline - time.monotonic())
            if answer is None:
                return None
            if answer[2] == conversation:
                return answer[0], answer[1], answer[4]
        return None

    def open(self):
        """The challenge, salt and iteration count of an AdminOpen, or None."""
        answer = self.exchange(ADMIN_OPEN)
        if not answer or answer[0] != ADMIN_CHALLENGE or len(answer[2]) != 36:
            return None
        data = answer[2]
        return data[:16], data[16:32], struct.unpack('<I', data[32:])[0]

    def prove(self, password, challenge=None, binding=None):
        """The code answering a proof of `password` (on this session's own
        challenge and binding unless others are given), or None."""
        opened = self.open()
        if not opened:
            return None
        own_challenge, salt, iterations = opened
        key = hashlib.pbkdf2_hmac('sha256', password, salt, iterations, 32)
        message = (challenge or own_challenge) + (binding or self.peer.binding) + ADMIN_PROOF_NAME
        proof = hmac.new(key, message, hashlib.sha256).digest()
        answer = self.exchange(ADMIN_PROOF, proof, conversation=self.conversation)
        return answer[1] if answer and answer[0] == ADMIN_ANSWER else None

    def call(self, call):
        """(code, answer bytes) of a call, or None."""
        answer = self.exchange(ADMIN_CALL, call)
        return (answer[1], answer[2]) if answer and answer[0] == ADMIN_ANSWER else None

    def share_names(self):
        """The store's share names, or None when they cannot be read."""
        first = self.call(share_enum_call(0))
        if not first or first[0] not in (NDDE_NO_ERROR, NDDE_BUF_TOO_SMALL) or len(first[1]) < 10:
            return None
        total = struct.unpack('<I', first[1][6:10])[0]
        answer = self.call(share_enum_call(total))
        if not answer or answer[0] != NDDE_NO_ERROR:
            return None
        return sorted(name for name in answer[1][10:].split(b'\0') if name)

    def close(self):
        self.peer.close()


def refused_without_the_password(attack, password):
    """Calls from sessions that did not prove the password are refused."""
    stranger = AdminNode(attack, b'NOPASS', '127.0.3.1')
    attack.check('a node without the password is welcomed', stranger.ready)
    answer = stranger.call(share_add_call(transfer_block(b'NOPASS$')))
    attack.check('its ShareAdd is refused: access denied, no answer bytes',
                 answer == (NDDE_ACCESS_DENIED, b''))
    answer = stranger.call(share_enum_call(4096))
    attack.check('its ShareEnum is refused too', answer == (NDDE_ACCESS_DENIED, b''))
    stranger.close()

    wrong = AdminNode(attack, b'WRONGPW', '127.0.3.2')
    attack.check('a wrong proof is refused', wrong.prove(b'NOT' + password) == NDDE_ACCESS_DENIED)
    attack.check('and a call after it too',
                 wrong.call(share_add_call(transfer_block(b'WRONG$'))) == (NDDE_ACCESS_DENIED, b''))
    wrong.close()

    # A proof made for another session: its challenge and its channel.
    first = AdminNode(attack, b'REPLAYA', '127.0.3.3')
    second = AdminNode(attack, b'REPLAYB', '127.0.3.4')
    opened = first.open()
    attack.check('two sessions are welcomed and challenged',
                 first.ready and second.ready and opened is not None)
    if opened:
        code = second.prove(password, challenge=opened[0], binding=first.peer.binding)
        attack.check("a proof with another session's challenge and channel is refused",
                     code == NDDE_ACCESS_DENIED)
        code = second.prove(password, binding=first.peer.binding)
        attack.check("a proof bound to another session's channel is refused",
                     code == NDDE_ACCESS_DENIED)
        attack.check('and that session still may not call',
                     second.call(share_enum_call(4096)) == (NDDE_ACCESS_DENIED, b''))
    first.close()
    second.close()


def malformed_calls(attack, password):
    """A proved session's calls that break the layout or the share record."""
    node = AdminNode(attack, b'MALFORM', '127.0.3.5')
    if not attack.check('a node proves the password', node.ready and
                        node.prove(password) == NDDE_NO_ERROR):
        return
    valid_add = share_add_call(transfer_block(b'MALFORM$'))
    faults = {
        'an unknown operation': bytes([99]) + valid_add[1:],
        'an operation that takes no server': bytes([3]) + valid_add[1:],
        'a text longer than the call': bytes([SHARE_DEL]) + struct.pack('<H', 900) + b'MALFORM$'
                                       + struct.pack('<I', 0),
        'nothing after a null name': bytes([SHARE_DEL]) + struct.pack('<H', NULL_TEXT),
        'a text longer than any text': bytes([SHARE_DEL]) + struct.pack('<H', 2000) + b'M' * 2000
                                       + struct.pack('<I', 0),
        'a presence byte of 2': share_enum_call(64)[:5] + b'\x02' + share_enum_call(64)[6:],
        'a count cut short': share_enum_call(64)[:-2],
        'bytes left over': valid_add + b'\0',
        'a share block longer than the call': bytes([SHARE_ADD]) + struct.pack('<II', 2, 4096)
                                              + transfer_block(b'MALFORM$'),
        'a share block longer than any block': bytes([SHARE_ADD]) + struct.pack('<II', 2, 0x7FFFFFFF),
    }
    for what, call in faults.items():
        answer = node.call(call)
        attack.check('a call with %s is refused as breaking the layout' % what,
                     answer == (NDDE_INVALID_PARAMETER, b''))
    refusals = {
        'level 1': share_add_call(transfer_block(b'MALFORM$'), level=1),
        'a record shorter than its header': share_add_call(transfer_block(b'MALFORM$')[:64]),
        'a record claiming items it does not hold': share_add_call(
            transfer_block(b'MALFORM$', claimed_items=500)),
        'an application pointing past the record': share_add_call(
            transfer_block(b'MALFORM$')[:68] + struct.pack('<I', 0x10000)
            + transfer_block(b'MALFORM$')[72:]),
    }
    for what, call in refusals.items():
        answer = node.call(call)
        attack.check('a ShareAdd with %s is refused (%r)' % (what, answer),
                     answer is not None and answer[0] not in (NDDE_NO_ERROR, NDDE_ACCESS_DENIED))
    answer = node.call(share_enum_call(64, level=5))
    attack.check('a ShareEnum of level 5 is refused as a wrong level',
                 answer is not None and answer[0] == NDDE_INVALID_LEVEL)
    answer = node.call(share_enum_call(0xFFFFFFFF))
    attack.check('a ShareEnum offering a 4 GB buffer is answered within the bytes it holds',
                 answer is not None and answer[0] == NDDE_NO_ERROR and len(answer[1]) < 65536)
    attack.check('the node still works after them', node.share_names() is not None)
    node.close()


def main():
    options = peer_options()
    password = os.environ['ADMIN_PASSWORD'].encode()
    use_identity(options.identity)
    attack = Attack(options)
    client = RealClient(options)

    legitimate = AdminNode(attack, b'ADMINOK', '127.0.3.9')
    attack.check('the legitimate node proves the password',
                 legitimate.ready and legitimate.prove(password) == NDDE_NO_ERROR)
    before = legitimate.share_names()
    attack.check('it lists the shares (%r)' % before,
                 before is not None and options.share.encode() in before)

    refused_without_the_password(attack, password)
    malformed_calls(attack, password)

    after = legitimate.share_names()
    attack.check('the store is as it was before the attacks (%r)' % after, after == before)
    # The legitimate node still changes the store, with the record the
    # attacks broke, taken whole.
    added = legitimate.call(share_add_call(transfer_block(b'ADMINOK$')))
    attack.check('the legitimate node adds a share (%r)' % (added,),
                 added is not None and added[0] == NDDE_NO_ERROR)
    attack.check('which is listed', b'ADMINOK$' in (legitimate.share_names() or []))
    deleted = legitimate.call(bytes([SHARE_DEL]) + text(b'ADMINOK$') + struct.pack('<I', 0))
    attack.check('and deletes it', deleted is not None and deleted[0] == NDDE_NO_ERROR)
    code, output = client.run('request', 'Price', '/timeout:20000')
    attack.check('the real client is served after the attacks', code == 0 and output.strip() == '7')
    legitimate.close()
    print('%d failure(s)' % attack.failures, flush=True)
    return min(attack.failures, 100)


if __name__ == '__main__':
    sys.exit(main())
