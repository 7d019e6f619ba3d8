// A client node of the tests speaking to an agent as agents do: TCP from an
// address of 127.0.0.0/8, TLS with the test's own node key (a key of its
// own under HKLM, not the agent's), frames inside. The handshake is made on
// the first frame sent or read, so a connection can also stay silent.
// Every wait is bounded.
#ifndef TLSPEER_H
#define TLSPEER_H

#include "channel.h"
#include "netdde_wire.h"
#include <winsock.h>

#include <string>

namespace tp {

// Where the test peers keep their key pair (identity.h).
const char PeerIdentityKey[] = "Software\\Tessaseg\\TestPeer";

// The test peers' identity, made at first use.
const NodeIdentity *peerIdentity();
// A key pair of its own for the test node `node` (a node is its key: the
// agent counts and pins nodes by it), kept under PeerIdentityKey\`node`
// and made at first use; null when it cannot be made.
const NodeIdentity *identityOf(const char *node);
// The first bytes a client sends to open a TLS channel (its ClientHello),
// to be replayed without any cryptography; empty when none could be made.
std::string clientFirstBytes();

// Winsock for the whole test program.
bool startWinsock();

class TlsPeer {
public:
    TlsPeer() = default;
    ~TlsPeer() { close(); }
    TlsPeer(const TlsPeer &) = delete;
    TlsPeer &operator=(const TlsPeer &) = delete;

    // A TCP connection from `from` to the agent on 127.0.0.1:`port`.
    bool connect(unsigned short port, const char *from = "127.0.0.1");
    // Presents `identity` (identityOf) instead of peerIdentity(); before secure.
    void presentIdentity(const NodeIdentity *identity) { identity_ = identity; }
    bool isConnected() const { return socket_ != INVALID_SOCKET; }
    // The TLS handshake (once), within `timeout` ms; false when it fails.
    bool secure(DWORD timeout = 10000);
    // Plaintext bytes, or a frame laid out, sent inside the channel.
    bool sendBytes(const std::string &bytes);
    bool sendFrame(const Frame &frame);
    // The next frame that is not a Ping, within `timeout` ms; its data stays
    // valid until the next read. False when none came, or the agent ended
    // the connection (closedByAgent then tells).
    bool readFrame(Frame *frame, DWORD timeout);
    bool closedByAgent() const { return closed_; }
    // Whether the agent has ended the connection, looking without waiting.
    bool isClosedByAgent();
    // Once secure: the channel binding share proofs are bound to, and the
    // agent's fingerprint.
    const BYTE *binding() const { return binding_; }
    const BYTE *agentFingerprint() const { return agentFingerprint_; }
    void close();

private:
    // Takes what the socket has (waiting up to `wait` ms) into the channel,
    // and the channel's plaintext into received_; false once the connection
    // or the channel has ended.
    bool pump(DWORD wait);
    bool sendOutput();

    SOCKET socket_ = INVALID_SOCKET;
    Channel *channel_ = nullptr;
    const NodeIdentity *identity_ = nullptr;
    ByteBuffer received_ = {};
    DWORD lastSize_ = 0;
    bool closed_ = false;
    BYTE binding_[ChannelBindingLength] = {};
    BYTE agentFingerprint_[FingerprintLength] = {};
};

// The bytes of `frame` as laid out on the wire.
std::string frameBytes(const Frame &frame);

} // namespace tp

#endif
