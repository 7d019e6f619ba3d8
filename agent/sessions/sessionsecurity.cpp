// The security of sessions (sessionlayer.h): the node's own key, the pins
// of the nodes it calls, the TLS handshake and the nodes refused for
// presenting another key than their pin.
#include "sessionlayer.h"

static NodeIdentity ownIdentity;

// Nodes refused for presenting another key than their pin (IsNodeRefused).
const int MaxRefusedNodes = 16;
struct RefusedNode {
    char node[MaxNodeNameLength + 1];   // empty when the entry is free
    BYTE pinned[FingerprintLength];
    DWORD refusedAt;
};
static RefusedNode refusedNodes[MaxRefusedNodes];

bool LoadOwnIdentity(const char **failure)
{
    return LoadNodeIdentity(AgentIdentityKey, &ownIdentity, failure);
}

const BYTE *OwnFingerprint()
{
    return ownIdentity.fingerprint;
}

// ---- Refused nodes -----------------------------------------------------------

static RefusedNode *refusedNodeEntry(const char *node)
{
    for (int i = 0; i < MaxRefusedNodes; i++)
        if (refusedNodes[i].node[0] && isSameNodeName(refusedNodes[i].node, node))
            return &refusedNodes[i];
    return 0;
}

static void rememberRefusedNode(const char *node, const BYTE pinned[FingerprintLength])
{
    RefusedNode *entry = refusedNodeEntry(node);
    DWORD now = GetTickCount();
    for (int i = 0; i < MaxRefusedNodes && !entry; i++)
        if (!refusedNodes[i].node[0] || now - refusedNodes[i].refusedAt >= RefusedNodeMemory)
            entry = &refusedNodes[i];
    if (!entry)
        entry = &refusedNodes[now % MaxRefusedNodes];
    CopyNodeName(entry->node, node);
    CopyMemory(entry->pinned, pinned, FingerprintLength);
    entry->refusedAt = now;
}

DWORD NodeRefusedFor(const char *node)
{
    RefusedNode *entry = refusedNodeEntry(node);
    if (!entry)
        return 0;
    BYTE pinned[FingerprintLength];
    DWORD passed = GetTickCount() - entry->refusedAt;
    if (passed < RefusedNodeMemory && FindPin(node, pinned) == Pinned &&
        memcmp(pinned, entry->pinned, FingerprintLength) == 0)
        return RefusedNodeMemory - passed;
    // Its time is over or its pin changed: the next session checks its key again.
    entry->node[0] = 0;
    return 0;
}

bool IsNodeRefused(const char *node)
{
    return NodeRefusedFor(node) != 0;
}

// ---- The handshake -----------------------------------------------------------

// The peer's name in events: its node, or its address before its Hello.
const char *SessionPeerName(const Session *session)
{
    if (session->node[0])
        return session->node;
    in_addr address;
    address.s_addr = session->peerAddress;
    return inet_ntoa(address);
}

// Logs that the session's node presented `presented` where `pinned` is
// pinned (both fingerprints, an event each), and leaves initiates to it
// unanswered. What waited for the session ends rather than wait for the node.
static void refuseWrongKey(Session *session, const BYTE presented[FingerprintLength],
                           const BYTE pinned[FingerprintLength])
{
    const char *node = session->node;
    session->refusedByNode = true;
    char text[FingerprintTextSize];
    FormatFingerprint(presented, text);
    LogEvent("refused: node %s presents key %s", node, text);
    FormatFingerprint(pinned, text);
    LogEvent("refused: node %s is pinned to key %s", node, text);
    rememberRefusedNode(node, pinned);
}

// A node whose pin is there but is no fingerprint cannot be verified: the
// event, and the reason the session ends.
static const char *refuseUnreadablePin(const Session *session)
{
    LogEvent("refused: the key pinned for node %s cannot be read", session->node);
    return "its pin cannot be read";
}

// The handshake failed: the event, and the reason the session ends.
static const char *handshakeFailed(Session *session)
{
    BYTE presented[FingerprintLength], pinned[FingerprintLength];
    switch (FailureOfChannel(session->channel)) {
    case ChannelWrongPeer:
        if (PeerFingerprint(session->channel, presented) &&
            FindPin(session->node, pinned) == Pinned)
            refuseWrongKey(session, presented, pinned);
        return "the node's key is not its pinned one";
    case ChannelNoPeerIdentity:
        LogEvent("refused: %s presented no key", SessionPeerName(session));
        return "no key presented";
    case ChannelOutOfMemory:
        return "out of memory";
    default:
        LogEvent("refused: the TLS handshake with %s failed", SessionPeerName(session));
        return "TLS handshake failed";
    }
}

// The client's side once the node has shown its key: a node met for the
// first time is pinned; then the Hello goes before anything queued while
// connecting. The reason the session ends when the node cannot be trusted,
// or null.
static const char *greetNode(Session *session)
{
    BYTE presented[FingerprintLength], pinned[FingerprintLength];
    char text[FingerprintTextSize];
    if (!PeerFingerprint(session->channel, presented))
        return "no key presented";
    FormatFingerprint(presented, text);
    PinLookup pin = FindPin(session->node, pinned);
    if (pin == NoPin) {
        if (PinNode(session->node, presented))
            LogEvent("node %s pinned at first contact: %s", session->node, text);
        else
            LogEvent("node %s could not be pinned to key %s", session->node, text);
        pin = FindPin(session->node, pinned);
    }
    if (pin == Pinned && memcmp(pinned, presented, FingerprintLength) != 0) {
        refuseWrongKey(session, presented, pinned);
        return "the node's key is not its pinned one";
    }
    if (pin == PinUnreadable)
        return refuseUnreadablePin(session);
    Frame hello;
    InitFrame(&hello, FrameHello, 0);
    lstrcpyA(hello.name, OwnNodeName);
    ByteBuffer greeting = {};
    greeting.account = &session->budget;
    if (!AppendFrame(&greeting, &hello) ||
        !AppendBytes(&greeting, session->toSend.bytes + session->toSend.start,
                     session->toSend.length - session->toSend.start)) {
        FreeBuffer(&greeting);
        return "out of memory";
    }
    FreeBuffer(&session->toSend);
    session->toSend = greeting;
    return 0;
}

// Runs the handshake on what was fed; once it completes the session greets
// inside the channel. The reason the session ends, or null.
const char *AdvanceHandshake(Session *session)
{
    ChannelState state = AdvanceChannel(session->channel);
    if (state == ChannelFailed)
        return handshakeFailed(session);
    if (state != ChannelOpen)
        return 0;
    ChannelBinding(session->channel, session->binding);
    session->state = SessionGreeting;
    return session->incoming ? 0 : greetNode(session);
}

bool OpenServedChannel(Session *session)
{
    session->channel = OpenChannel(true, &ownIdentity, 0, &session->budget);
    return session->channel != 0;
}

const char *OpenCallingChannel(Session *session)
{
    // The node must show the key pinned for it, if any, in the handshake itself.
    BYTE pinned[FingerprintLength];
    PinLookup pin = FindPin(session->node, pinned);
    if (pin == PinUnreadable)
        return refuseUnreadablePin(session);
    session->channel = OpenChannel(false, &ownIdentity, pin == Pinned ? pinned : 0,
                                   &session->budget);
    return session->channel ? 0 : "out of memory";
}
