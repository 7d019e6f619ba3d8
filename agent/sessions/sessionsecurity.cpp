// The security of sessions (sessionlayer.h): the node's own key, the pins
// of the nodes it calls and of the client nodes it serves, the TLS
// handshake, the nodes refused for presenting another key than their pin,
// and the bounds of handshakes per address.
//
// One pin per node name serves both sides (Nodes\NODE, identity.h): a node
// is the same key whether it calls this node or is called, and
// nddeagent /forget:NODE forgets it for both.
#include "sessionlayer.h"

static NodeIdentity ownIdentity;

// Security events that repeat (the same key refused again, a limit reached
// again) are security events once a minute, so that one peer cannot push
// the others out: a key refused again within the minute is an ordinary
// event, a limit reached again is not logged.
const DWORD SecurityRepeatMemory = 60000;
const int MaxRepeatKinds = 32;
struct SecurityRepeat {
    DWORD kind;                         // a hash of what the event is about; 0 when free
    DWORD loggedAt;
};
static SecurityRepeat repeats[MaxRepeatKinds];

// Addresses that connected lately and their turns of handshakes, in
// thousandths of a handshake (a token bucket per address).
const int MaxTrackedAddresses = 64;
const DWORD TurnUnit = 1000;
struct AddressTurns {
    DWORD address;
    DWORD turns;                        // at most HandshakeBurst * TurnUnit
    DWORD countedAt;                    // when turns were last brought up to date
    bool used;
};
static AddressTurns addresses[MaxTrackedAddresses];

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

// ---- Security events ---------------------------------------------------------

// A hash of the text (FNV-1a), never 0.
static DWORD kindOf(const char *text)
{
    DWORD hash = 2166136261u;
    for (const char *c = text; *c; c++)
        hash = (hash ^ (BYTE)*c) * 16777619u;
    return hash ? hash : 1;
}

// What a security event is: news, a refusal that calls for the user, or a
// limit reached (not repeated at all within the minute).
enum SecurityNote { SecurityNotice, SecurityAlarm, SecurityLimit };

// Logs `text` as a security event, unless the same one was within the
// minute: then as an ordinary event, or not at all for a limit.
static void logSecurity(const char *text, SecurityNote note)
{
    DWORD kind = kindOf(text), now = GetTickCount();
    SecurityRepeat *entry = 0, *longestAgo = 0;
    for (int i = 0; i < MaxRepeatKinds && !entry; i++) {
        if (repeats[i].kind == kind)
            entry = &repeats[i];
        else if (!longestAgo || now - repeats[i].loggedAt > now - longestAgo->loggedAt)
            longestAgo = &repeats[i];
    }
    if (entry && now - entry->loggedAt < SecurityRepeatMemory) {
        if (note != SecurityLimit)
            LogEvent("%s", text);
        return;
    }
    if (!entry)
        entry = longestAgo;
    entry->kind = kind;
    entry->loggedAt = now;
    if (note == SecurityAlarm)
        LogAlarm("%s", text);
    else
        LogSecurityEvent("%s", text);
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
    char key[FingerprintTextSize], event[EventLength * 2];
    FormatFingerprint(presented, key);
    wsprintfA(event, "refused: node %s presents key %s", node, key);
    logSecurity(event, SecurityAlarm);
    FormatFingerprint(pinned, key);
    wsprintfA(event, "refused: node %s is pinned to key %s", node, key);
    logSecurity(event, SecurityAlarm);
    rememberRefusedNode(node, pinned);
}

// A node whose pin is there but cannot be read, or is no fingerprint,
// cannot be verified: the event, and the reason the session ends.
static const char *refuseUnreadablePin(const char *node)
{
    char event[EventLength * 2];
    wsprintfA(event, "refused: the key pinned for node %s cannot be read", node);
    logSecurity(event, SecurityAlarm);
    return "its pin cannot be read";
}

// Pins `node` to `presented` at first contact, with the event; false (with
// the event) when the pin cannot be kept: the session then ends, since the
// node would take any key on its next sessions.
static bool pinAtFirstContact(const char *node, const char *from, const BYTE presented[FingerprintLength])
{
    char key[FingerprintTextSize], event[EventLength * 2];
    FormatFingerprint(presented, key);
    bool pinned = PinNode(node, presented);
    if (pinned)
        wsprintfA(event, "node %s%s pinned at first contact: %s", node, from, key);
    else
        wsprintfA(event, "refused: node %s%s could not be pinned to key %s", node, from, key);
    logSecurity(event, SecurityNotice);
    return pinned;
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
    if (!PeerFingerprint(session->channel, presented))
        return "no key presented";
    PinLookup pin = FindPin(session->node, pinned);
    if (pin == PinUnreadable)
        return refuseUnreadablePin(session->node);
    if (pin == NoPin && !pinAtFirstContact(session->node, "", presented))
        return "its key could not be pinned";
    if (pin == Pinned && memcmp(pinned, presented, FingerprintLength) != 0) {
        refuseWrongKey(session, presented, pinned);
        return "the node's key is not its pinned one";
    }
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
    ChannelState state = StepChannel(session->channel);
    if (state == ChannelFailed)
        return handshakeFailed(session);
    if (state != ChannelOpen)
        return 0;
    ChannelBinding(session->channel, session->binding);
    session->state = SessionGreeting;
    if (!session->incoming)
        return greetNode(session);
    return PeerFingerprint(session->channel, session->peerKey) ? 0 : "no key presented";
}

const char *CheckClientKey(Session *session, const char *node)
{
    BYTE pinned[FingerprintLength];
    char from[32], key[FingerprintTextSize], event[EventLength * 2];
    in_addr address;
    address.s_addr = session->peerAddress;
    wsprintfA(from, " from %s", inet_ntoa(address));
    PinLookup pin = FindPin(node, pinned);
    if (pin == PinUnreadable)
        return refuseUnreadablePin(node);
    if (pin == NoPin)
        return pinAtFirstContact(node, from, session->peerKey) ? 0 : "its key could not be pinned";
    if (memcmp(pinned, session->peerKey, FingerprintLength) == 0)
        return 0;
    FormatFingerprint(session->peerKey, key);
    wsprintfA(event, "refused: node %s%s presents key %s", node, from, key);
    logSecurity(event, SecurityAlarm);
    FormatFingerprint(pinned, key);
    wsprintfA(event, "refused: node %s is pinned to key %s", node, key);
    logSecurity(event, SecurityAlarm);
    return "the node's key is not its pinned one";
}

// ---- Handshakes per address ----------------------------------------------------

// The address's entry, brought up to date; a new one (taking the place of
// the one least lately used) when it has none.
static AddressTurns *turnsOf(DWORD address)
{
    DWORD now = GetTickCount();
    AddressTurns *entry = 0, *longestAgo = 0;
    for (int i = 0; i < MaxTrackedAddresses && !entry; i++) {
        if (addresses[i].used && addresses[i].address == address)
            entry = &addresses[i];
        else if (!longestAgo || !addresses[i].used ||
                 (longestAgo->used && now - addresses[i].countedAt > now - longestAgo->countedAt))
            longestAgo = &addresses[i];
    }
    if (!entry) {
        entry = longestAgo;
        entry->used = true;
        entry->address = address;
        entry->turns = HandshakeBurst * TurnUnit;
        entry->countedAt = now;
    }
    DWORD elapsed = now - entry->countedAt;
    DWORD gained = elapsed < 60000 ? elapsed * HandshakesPerSecond * TurnUnit / 1000
                                   : HandshakeBurst * TurnUnit;
    entry->turns = entry->turns + gained < HandshakeBurst * TurnUnit ? entry->turns + gained
                                                                     : HandshakeBurst * TurnUnit;
    entry->countedAt = now;
    return entry;
}

static const char *addressText(DWORD address)
{
    in_addr written;
    written.s_addr = address;
    return inet_ntoa(written);
}

bool TakeHandshakeTurn(Session *session)
{
    if (session->handshakeStarted)
        return true;
    AddressTurns *turns = turnsOf(session->peerAddress);
    if (turns->turns < TurnUnit) {
        if (!session->awaitingTurn) {
            char event[EventLength];
            wsprintfA(event, "connections from %s wait their turn: more than %d handshakes a second",
                      addressText(session->peerAddress), HandshakesPerSecond);
            logSecurity(event, SecurityLimit);
        }
        session->awaitingTurn = true;
        return false;
    }
    turns->turns -= TurnUnit;
    session->awaitingTurn = false;
    session->handshakeStarted = true;
    return true;
}

void NoteRefusedConnection(DWORD address)
{
    char event[EventLength];
    wsprintfA(event, "refused: connections from %s: more than %d wait to greet",
              addressText(address), MaxUngreetedPerAddress);
    logSecurity(event, SecurityLimit);
}

void NoteBusyRefusal(const char *limit)
{
    char event[EventLength];
    wsprintfA(event, "refused: sessions for other nodes: this node is busy: %s", limit);
    logSecurity(event, SecurityLimit);
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
        return refuseUnreadablePin(session->node);
    session->channel = OpenChannel(false, &ownIdentity, pin == Pinned ? pinned : 0,
                                   &session->budget);
    return session->channel ? 0 : "out of memory";
}
