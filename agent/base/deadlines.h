// Every time limit of the Network DDE agent, in one place (milliseconds).
// Each wait the agent does has a deadline here; each is checked where the
// agent's work is done as well as on its timer, so that a busy socket never
// holds a deadline off.
#ifndef DEADLINES_H
#define DEADLINES_H

#include <windows.h>

// ---- Checks ------------------------------------------------------------------
const UINT CheckInterval = 1000;            // between checks of sessions and conversations
const UINT RedrawInterval = 250;            // the window is drawn at most this often

// ---- Sessions (netsessions.cpp) ----------------------------------------------
// A connection that has no session yet is closed once its node has kept this
// agent waiting AgentGreetingTimeout (since the agent last sent to it or
// heard from it), and so is an outgoing session whose node has not welcomed
// it. A node is answerable only for its own turns: a loaded machine may take
// longer over its half of the handshake. However it trickles, a greeting
// ends GreetingLimit after the connection was made (the name lookup and the
// connection included).
const DWORD AgentGreetingTimeout = 10000;
const DWORD GreetingLimit = 60000;
const DWORD SilenceTimeout = 10000;         // without a byte from the serving node
const DWORD ServedSilenceTimeout = 60000;   // without a byte from a client node with conversations
const DWORD PingInterval = 3000;            // without sending before a Ping
const DWORD IdleSessionTimeout = 60000;     // an outgoing session without conversations
// A served session that holds no conversation (Pings do not count).
const DWORD ServedIdleTimeout = 60000;
// A node refused for presenting another key than its pin: DDE initiates to
// it go unanswered this long after.
const DWORD RefusedNodeMemory = 60000;
// A session that ends once its last frames are sent (a refused greeting)
// waits no longer than this for its node to take them.
const DWORD SessionClosingTimeout = 5000;

// ---- Conversations (conversations.cpp) -------------------------------------
// An ended conversation's window waits this long for its partner's
// WM_DDE_TERMINATE.
const DWORD ClosingTimeout = 5000;

// ---- Serving (servingside.cpp, serverfinding.cpp) --------------------------
const DWORD StartAppTimeout = 10000;        // a started application has to answer

// ---- The partner library (agentlink.h) -------------------------------------
const DWORD AgentReplyTimeout = 2000;       // each direction of a partner's request
// A call of an NDde function on another node, from the partner's request to
// the answer: the session opened, the password proved, the call run there.
const DWORD RemoteCallTimeout = 15000;

#endif
