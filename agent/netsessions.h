// TCP sessions between agents: one per pair of nodes, carrying the frames of
// netdde_wire.h. Sockets are non-blocking and report to the agent's window
// (WSAAsyncSelect). An incoming session is served for a client node; an
// outgoing one is opened to reach a node's shares.
#ifndef NETSESSIONS_H
#define NETSESSIONS_H

#include "agent.h"
#include "netdde_wire.h"
#include <winsock.h>

const DWORD SilenceTimeout = 10000;      // ms without a byte from the serving node
const DWORD ServedSilenceTimeout = 60000; // ms without a byte from a client node with conversations
const DWORD PingInterval = 3000;         // ms without sending before a Ping
const DWORD IdleSessionTimeout = 60000;  // an outgoing session without conversations
const DWORD MaxQueuedBytes = 64 * 1024 * 1024; // unsent bytes before the session fails

enum SessionState { SessionConnecting, SessionGreeting, SessionReady };

struct Session {
    SOCKET socket;
    bool incoming;
    bool failed;                   // could not send: ended from the window's loop
    SessionState state;
    char node[MaxNodeNameLength + 1];  // the other node
    DWORD id;                      // the session id (given by the serving node)
    ByteBuffer received, toSend;
    DWORD startedAt, lastReceived, lastSent, idleSince;
    DWORD nextConversation;        // outgoing: the next conversation id
};

void SetFirstSessionId(DWORD id);
// Listens on the port (before the window exists, so that clients that find
// the window find the port open); the window is told of clients once watched.
bool OpenListener(DWORD address, unsigned short port);
bool WatchListener();
void AcceptSession();
void HandleSessionSocket(SOCKET socket, LPARAM event);
// Once a second: greetings, silence, pings and idle sessions.
void CheckSessions();
void EndFailedSessions();
// WM_FLUSH_SESSIONS: sends what every session has queued.
void FlushSessions();
void EndAllSessions();

// The outgoing session to `node`, opened when there is none; null (with the
// reason logged) when the node cannot be found.
Session *SessionToNode(const char *node);
// Queues `frame`; it is sent once the window has handled the messages
// waiting now. False when it cannot be: the session is then marked failed
// and ends soon, never inside this call.
bool SendFrame(Session *session, const Frame *frame);
void EndSession(Session *session, const char *reason);

int SessionCount();
Session *SessionAt(int index);
// A served session by its client's node name and id.
Session *FindServedSession(const char *node, DWORD id);

// Node names: 1 to 15 visible characters, kept with ASCII letters upper-cased.
bool IsValidNodeName(const char *name);
void CopyNodeName(char *to, const char *name);

#endif
