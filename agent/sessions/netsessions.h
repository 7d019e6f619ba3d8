// TCP sessions between agents: one per pair of nodes, carrying the frames of
// netdde_wire.h inside a TLS channel (channel.h). Sockets are non-blocking
// and report to the agent's window (WSAAsyncSelect). An incoming session is
// served for a client node; an outgoing one is opened to reach a node's
// shares, once the node has shown the key pinned for it.
//
// Sessions carry frames; the conversations they carry are the session
// user's (SetSessionUser), reached only through its table of entry points.
// Nothing is freed below a call that can dispatch sent messages: a session
// that must end is marked, and ended from the window's loop (EndSessionSoon).
#ifndef NETSESSIONS_H
#define NETSESSIONS_H

#include "agentwindow.h"
#include "channel.h"
#include "deadlines.h"
#include "netdde_wire.h"
#include <winsock.h>

// Securing: the TLS handshake; Greeting: Hello and Welcome inside the channel.
enum SessionState { SessionResolving, SessionConnecting, SessionSecuring, SessionGreeting, SessionReady };

struct Session {
    DWORD serial;                  // unique while the agent runs
    SOCKET socket;
    UINT socketMessage;            // the window message its socket reports with
    bool incoming;
    SessionState state;
    char node[MaxNodeNameLength + 1];  // the other node
    DWORD id;                      // the session id (given by the serving node)
    DWORD peerAddress;             // the other end's IPv4 address, network order
    // Served: the client's key (its certificate's fingerprint), known once
    // the handshake is over. A client node is this key: the per-node limits
    // count by it, and a name once met with one key is refused with another.
    BYTE peerKey[FingerprintLength];
    // Served, while securing: the handshake has begun (it took its
    // address's turn), or waits for a turn (it is not read meanwhile).
    bool handshakeStarted;
    bool awaitingTurn;
    // Its buffers, and the queues of its conversations (which free them
    // before sessionEnds returns). `received` holds plaintext from the
    // channel, `toSend` frames not yet handed to the channel, which encrypts
    // them only as the socket takes its output.
    BudgetAccount budget;
    ByteBuffer received, toSend;
    Channel *channel;              // null before the connection, and for a protocol-1 peer
    BYTE binding[ChannelBindingLength];  // the channel's, once it is open (share proofs)
    bool heardFrom;                // a byte came from the peer
    DWORD startedAt, lastReceived, lastSent, idleSince;
    DWORD bytesIn, bytesOut;       // through its socket, as the window shows them
    DWORD nextConversation;        // outgoing: the next conversation id
    // Ending: set once, the session ends from the window's loop (once what
    // is queued has been sent, when endAfterSending).
    const char *endReason;
    bool endAfterSending;
    // The node refused the session (its greeting, or an identity other than
    // the one pinned): what waits for the node does not try it again.
    bool refusedByNode;
    DWORD endingSince;
    // Receiving.
    bool headJudged;               // the frame at the start of `received` is wanted
    bool unwantedPending;          // an unwanted frame's data is being dropped
    DWORD unwantedData;            // how many bytes of it are still to come
    Frame unwantedHead;
    bool readPaused;               // over its memory share: not read until it drains
    bool behind;                   // SessionIsBehind
    bool continuePosted;           // WM_SESSION_CONTINUE is on its way
    unsigned short nodePort;       // outgoing: the node's port (network order)
    bool holdsLittle;              // HoldLittleInSystem was called
};

// ---- The session user's entry points ---------------------------------------

enum FrameVerdict {
    FrameWanted,        // its data is read and the whole frame handled
    FrameUnwanted,      // its data is read and dropped; then unwantedFrame
    FrameBreaksRules,   // the session ends
};

struct SessionUser {
    // The head of a conversation frame (conversation != 0, data not yet read;
    // head->dataLength as declared): whether it is wanted.
    FrameVerdict (*judgeFrame)(Session *session, const Frame *head);
    // A whole wanted frame; false when it breaks the protocol.
    bool (*handleFrame)(Session *session, const Frame *frame);
    // An unwanted frame once its data has been dropped: its head, with no data.
    void (*unwantedFrame)(Session *session, const Frame *head);
    // An outgoing session is welcomed by its node.
    void (*sessionReady)(Session *session);
    // The session ends (not inside any call of its user).
    void (*sessionEnds)(Session *session, const char *reason);
    int (*conversationCount)(const Session *session);
    // After a send, the session's unsent bytes are below SessionRoomMark:
    // what waits for room may be queued now.
    void (*sessionHasRoom)(Session *session);
};

void SetSessionUser(const SessionUser *user);

// ---- Opening, serving and ending --------------------------------------------

void SetFirstSessionId(DWORD id);
// Work on the session that is no conversation (an administration call): the
// session idles only from then on, as it would after its last conversation.
void NoteSessionWork(Session *session);
// Sessions served at once (1..AgentMaxSessions; agentlink.h), before any.
void SetSessionLimit(int limit);
int SessionLimit();
// This node's identity (identity.h), made at the first start; false, with the
// reason, when it cannot be loaded. Before any session.
bool LoadOwnIdentity(const char **failure);
const BYTE *OwnFingerprint();
// Listens on the port (before the window exists, so that clients that find
// the window find the port open); the window is told of clients once watched.
bool OpenListener(DWORD address, unsigned short port);
bool WatchListener();
void AcceptSession();
// A socket's event, reported with `message` (a session's socketMessage).
void HandleSessionSocket(UINT message, SOCKET socket, LPARAM event);
bool IsSessionSocketMessage(UINT message);
// WM_SESSION_CONTINUE: frames left over from a socket event, or reading
// resumed once the session is within its memory share again.
void ContinueSession(DWORD serial);
// WM_HOST_FOUND: the answer of a node name's lookup.
void HostFound(HANDLE lookup, LPARAM result);
// Deadlines, pings, sessions to end, reading to resume. Run at least once a
// second, from the timer and wherever the window does socket work.
void CheckSessions();
// Ends the sessions marked to end (WM_END_FAILED_SESSIONS).
void EndEndingSessions();
// WM_FLUSH_SESSIONS: sends what every session has queued.
void FlushSessions();
void EndAllSessions();
// Stops listening (the agent closes, once its sessions have ended).
void CloseListener();

// The outgoing session to `node`, opened when there is none; null (with the
// reason logged) when none can be opened.
Session *SessionToNode(const char *node);
// Queues `frame`; it is sent once the window has handled the messages
// waiting now. False when it is not queued: either the frame breaks a rule
// of netdde_wire.h (the session is untouched) or the session cannot take it
// (it is ending, or its peer leaves more unread than the budget allows: the
// session is then marked to end, never inside this call). Either way the
// caller refuses that one transaction in its turn.
bool SendFrame(Session *session, const Frame *frame);
// Bytes queued for the node and not yet handed to the socket. Below
// SessionRoomMark the session has room: data that may wait (a link's
// updates) is queued only then, so that what is queued never grows with a
// node slower than its servers, and a request's answer queued after it
// waits for little.
const DWORD SessionRoomMark = 8 * 1024;
DWORD SessionUnsentBytes(const Session *session);
// Whether this node has fallen behind what the session's node sends: it
// held BehindMark bytes it had not handled yet, and has not caught up
// since. Its links' updates then wait to be posted, so that the rest of
// what the node sends is handled as it comes.
bool SessionIsBehind(const Session *session);
// The sessions behind that hold no whole frame still to handle have caught
// up (this node has posted what waited).
void SessionsCaughtUp();
// From now on the system's buffer holds little of what the session sends
// (a session carrying live feeds): the rest waits in toSend, where it is
// seen and a link's updates merge, instead of a backlog in the system.
void HoldLittleInSystem(Session *session);
// Marks the session to end from the window's loop; never frees it here.
void EndSessionSoon(Session *session, const char *reason);
// The same, once what is queued for it has been sent (at most
// SessionClosingTimeout from now).
void EndSessionAfterSending(Session *session, const char *reason);

// Whether DDE initiates to `node` are refused: its last session was
// refused for presenting another key than its pin, within RefusedNodeMemory,
// and the pin is still the same. Past that, the memory is forgotten and the
// next session attempt checks the node's key again.
bool IsNodeRefused(const char *node);
// The milliseconds until `node` is checked again (0: it is not refused now).
DWORD NodeRefusedFor(const char *node);

int SessionCount();
Session *SessionAt(int index);
Session *SessionOfSerial(DWORD serial);
// A served session by its client's node name and id.
Session *FindServedSession(const char *node, DWORD id);

#endif
