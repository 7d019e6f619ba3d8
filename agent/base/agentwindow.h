// What the parts of nddeagent.exe share: the node it serves, its window and
// its record of events. The parts, each using only those below it:
// agent.cpp (the window, options and the partner's requests; it shows what
// eventlog.cpp records); the DDE conversations (relay.h): conversations.cpp,
// the client's side in clientside.cpp, clientlinks.cpp and outage.cpp, the
// serving side in servingside.cpp, serverfinding.cpp and waitingvalues.cpp
// (prompt.cpp asks for and remembers passwords, permissions.cpp decides
// share access); the TCP sessions with other nodes (netsessions.h):
// netsessions.cpp carrying frames.cpp's frames, sessionsecurity.cpp (keys,
// pins, TLS through channel.cpp and identity.cpp) and sessionopening.cpp;
// nodemap.cpp (what is known of other nodes), budget.cpp (the memory
// budget) and deadlines.h (every time limit).
#ifndef AGENT_H
#define AGENT_H

#include "agentlink.h"
#include "eventlog.h"

enum AgentMessage {
    WM_LISTEN_SOCKET = WM_APP + 1,     // FD_ACCEPT on the listening socket
    WM_END_FAILED_SESSIONS = WM_APP + 3, // sessions are marked to end: end them from the top
    WM_ASK_PASSWORD = WM_APP + 4,      // wParam: a conversation's serial
    WM_FLUSH_SESSIONS = WM_APP + 5,    // frames are queued to be sent
    WM_SESSION_CONTINUE = WM_APP + 6,  // wParam: a session's serial: read and handle more
    WM_HOST_FOUND = WM_APP + 7,        // wParam: a lookup's handle; lParam: its result
    WM_POST_DUE_UPDATES = WM_APP + 8,  // links' updates that waited for this node may be posted
    // wParam: a session's socket; lParam: its event. Each session reports
    // with one of SessionSocketMessages messages from here.
    WM_SESSION_SOCKET_FIRST = WM_APP + 0x100,
};
const UINT SessionSocketMessages = 0x2000;

extern HWND AgentWindowHandle;
extern char OwnNodeName[MaxNodeNameLength + 1];
extern unsigned short OwnPort;
extern DWORD OwnAddress;                // network order; INADDR_ANY for every interface

#endif
