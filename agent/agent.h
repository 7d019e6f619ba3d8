// What the parts of nddeagent.exe share: the node it serves, its window and
// its record of events. The parts: agent.cpp (the window, options and the
// partner's requests), netsessions.cpp (TCP sessions with other nodes),
// conversations.cpp, clientside.cpp and servingside.cpp (the DDE
// conversations carried over them, relay.h), prompt.cpp
// (asking for and remembering passwords) and permissions.cpp (share access).
#ifndef AGENT_H
#define AGENT_H

#include "agentlink.h"

enum AgentMessage {
    WM_LISTEN_SOCKET = WM_APP + 1,     // FD_ACCEPT on the listening socket
    WM_SESSION_SOCKET = WM_APP + 2,    // wParam: a session's socket; lParam: its event
    WM_END_FAILED_SESSIONS = WM_APP + 3, // a session could not send: end it from the top
    WM_ASK_PASSWORD = WM_APP + 4,      // wParam: a conversation's serial
    WM_FLUSH_SESSIONS = WM_APP + 5,    // frames are queued to be sent
};

extern HWND AgentWindowHandle;
extern char OwnNodeName[MaxNodeNameLength + 1];
extern unsigned short OwnPort;
extern DWORD OwnAddress;                // network order; INADDR_ANY for every interface

// Adds a line to the window's last events (a refusal says its reason).
void LogEvent(const char *format, ...);
// Shows the sessions and conversations again.
void ShowAgentState();

#endif
