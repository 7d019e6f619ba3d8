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

// ---- Security (sessionsecurity.cpp) ------------------------------------------

// The channel of a served connection that began with TLS; false when memory runs out.
bool OpenServedChannel(Session *session);
// The channel of a session to a node, bound to the node's pin when it has
// one. The reason the session ends (the pin cannot be read, no memory), or null.
const char *OpenCallingChannel(Session *session);
// Runs the handshake on what was fed; once it completes the session greets
// inside the channel. The reason the session ends, or null.
const char *AdvanceHandshake(Session *session);
// The peer's name in events: its node, or its address before its Hello.
const char *SessionPeerName(const Session *session);

#endif
