// The TLS channel of a session between two agents, fed by bytes: the session
// layer hands it the ciphertext it received on its non-blocking socket and
// takes the ciphertext to send; the channel gives and takes the plaintext
// (the frames of netdde_wire.h). No sockets, no waiting, no threads inside.
//
// The session's handshake (TLS, pins, versions) is described in netdde_wire.h.
//
// Channel binding: 32 bytes exported from the master secret as RFC 5705
// describes (TLS PRF over the label "EXPORTER-Network-DDE-channel-binding"
// and the client and server randoms), taken in Mbed TLS's key export
// callback. With the extended master secret (required: a handshake without
// it fails) it is unique to the session and the same on both ends.
//
// Memory: one channel holds Mbed TLS's record buffers of about 16.7 KB each
// way and a few KB of state (more during the handshake), plus the unread
// ciphertext (at most MaxChannelInput) and the unsent ciphertext (at most
// MaxChannelOutput), both charged to the account the channel is opened
// with (the session layer encrypts only what the socket is about to take). Every
// allocation of Mbed TLS is charged to one budget of all channels together
// (TlsMemoryBudget); TlsMemoryInUse tells what is charged now.
#ifndef CHANNEL_H
#define CHANNEL_H

#include "identity.h"
#include "budget.h"
#include "tlsrandom.h"

const DWORD ChannelBindingLength = 32;
const DWORD MaxTlsRecord = 16384 + 256 + 5;  // content, its protection, the header
// Unread ciphertext a channel holds: what one receive brings (64 KB) and a
// record begun before it. The session layer reads plaintext before it feeds more.
const DWORD MaxChannelInput = 64 * 1024 + MaxTlsRecord;
// Unsent ciphertext: the session's 64 MB of queued frames, each 16 KB of them
// grown by a record's header and tag.
const DWORD MaxChannelOutput = 64 * 1024 * 1024 + 4096 * 21;
const DWORD TlsMemoryBudget = 64 * 1024 * 1024;
// What one more channel may need through its handshake: a new connection is
// taken only while this much of the budget is free.
const DWORD HandshakeMemory = 128 * 1024;

enum ChannelState { ChannelHandshaking, ChannelOpen, ChannelFailed, ChannelClosed };

// Why a channel failed.
enum ChannelFailure {
    ChannelNoFailure,
    ChannelWrongPeer,       // the peer's fingerprint is not the pinned one
    ChannelNoPeerIdentity,  // the peer presented no certificate
    ChannelProtocolError,   // bytes that are not TLS, or a handshake we refuse
    ChannelOutOfMemory,     // the budget, the system, or too much unread or unsent
};

struct Channel;

// A channel presenting `identity`, serving (TLS server) or calling a node
// (TLS client). `expectedPeer`, when given (a pin), is the only fingerprint
// the peer may have. The unread and unsent ciphertext is charged to
// `account` (a session's, budget.h) when one is given. Null when memory runs
// out or the identity is unsound.
Channel *OpenChannel(bool serving, const NodeIdentity *identity,
                     const BYTE expectedPeer[FingerprintLength], BudgetAccount *account);
void CloseChannel(Channel *channel);

// Ciphertext from the peer. False, taking nothing, when the channel would
// then hold more than MaxChannelInput unread bytes or has ended.
bool FeedChannel(Channel *channel, const void *bytes, DWORD count);
// Runs the handshake as far as the bytes fed allow; the state afterwards.
ChannelState AdvanceChannel(Channel *channel);
// Takes the handshake one step, the most one turn of a busy program's loop
// should spend on it (a step may cost two operations on the curve).
ChannelState StepChannel(Channel *channel);
// Whether the handshake stopped at its step rather than for want of bytes.
bool ChannelCanStep(const Channel *channel);
ChannelState StateOfChannel(const Channel *channel);
ChannelFailure FailureOfChannel(const Channel *channel);

// Plaintext from the peer: up to `size` bytes; 0 when no whole record has
// come yet, or the channel is not open (see its state).
DWORD ReadChannel(Channel *channel, void *bytes, DWORD size);
// Plaintext to the peer, encrypted at once into the output. False when the
// channel is not open or the output would exceed MaxChannelOutput (the
// channel then fails).
bool WriteChannel(Channel *channel, const void *bytes, DWORD count);
// Tells the peer the channel ends (close_notify); the channel is closed.
void EndChannel(Channel *channel);

// Ciphertext to send: *count bytes at the result (null when none). The
// session layer sends what it can and consumes that many.
const BYTE *ChannelOutput(const Channel *channel, DWORD *count);
void ConsumeChannelOutput(Channel *channel, DWORD count);

// The peer's fingerprint, known once its certificate came (also when it
// was refused, to name it); false before.
bool PeerFingerprint(const Channel *channel, BYTE fingerprint[FingerprintLength]);
// The channel binding; false until the channel is open.
bool ChannelBinding(const Channel *channel, BYTE binding[ChannelBindingLength]);

// Whether the first bytes a peer sent begin a TLS handshake record (a
// version-2 agent) rather than a version-1 frame.
bool StartsAsTls(const BYTE *bytes, DWORD count);

// Mbed TLS allocations of every channel and identity together, in bytes.
DWORD TlsMemoryInUse();

#endif
