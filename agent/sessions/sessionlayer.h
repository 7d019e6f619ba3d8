// What the files of the sessions layer share among themselves, beside
// netsessions.h: netsessions.cpp keeps the list of sessions and carries
// their frames, sessionsecurity.cpp secures them (keys, pins, TLS) and
// sessionopening.cpp opens them (listening, accepting, calling a node).
// The calls go one way: sessionopening.cpp uses the list, netsessions.cpp
// uses sessionsecurity.cpp, and sessionsecurity.cpp uses neither.
#ifndef SESSIONLAYER_H
#define SESSIONLAYER_H

#include "netsessions.h"
#include "channel.h"

// ---- The list (netsessions.cpp) ----------------------------------------------

// A new session on `socket`, listed; null when there is no room.
Session *AddSession(SOCKET socket, bool incoming, SessionState state);
// Whether the session is not marked to end.
bool IsStandingSession(const Session *session);
// Standing sessions served (`incoming`) or outgoing, greeted (`ready`) or not.
int CountSessions(bool incoming, bool ready);
// Whether a served session holds no conversation: it gives its place to
// another node's greeting while every place is taken.
bool HasIdleServedSession();

// ---- Security (sessionsecurity.cpp) ------------------------------------------

// The channel of a served connection that began with TLS; false when memory runs out.
bool OpenServedChannel(Session *session);
// The channel of a session to a node, bound to the node's pin when it has
// one. The reason the session ends (the pin cannot be read, no memory), or null.
const char *OpenCallingChannel(Session *session);
// Takes the handshake a step on what was fed (ChannelCanStep tells whether
// another may follow at once); once it completes the session greets inside
// the channel. The reason the session ends, or null.
const char *AdvanceHandshake(Session *session);
// The peer's name in events: its node, or its address before its Hello.
const char *SessionPeerName(const Session *session);
// A served session's client greets as `node`: its key must be the one the
// node was first met with (which is remembered now when it is the first
// contact). The reason it is refused, or null.
const char *CheckClientKey(Session *session, const char *node);

// ---- Handshakes per address (sessionsecurity.cpp) ---------------------------
// The bounds of agentlink.h: AgentMaxUngreetedPerAddress,
// AgentHandshakeBurst and AgentHandshakesPerSecond.
const int MaxUngreetedPerAddress = AgentMaxUngreetedPerAddress;
const int HandshakeBurst = AgentHandshakeBurst;
const int HandshakesPerSecond = AgentHandshakesPerSecond;
// Whether the served session may start its handshake now (taking its
// address's turn); false when it must wait (it is then awaitingTurn).
bool TakeHandshakeTurn(Session *session);
// A connection from `address` refused: more than MaxUngreetedPerAddress wait
// to greet. Logged once a minute per address.
void NoteRefusedConnection(DWORD address);
// A node told this node is busy, before any TLS work: `limit` says which
// limit. Logged once a minute per limit.
void NoteBusyRefusal(const char *limit);

#endif
