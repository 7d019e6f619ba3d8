// What every layer of nddeagent.exe shares: the node it serves and its
// window, which the program sets as it starts, the messages the layers post
// to that window, and the record of events (eventlog.h). The layers, each
// using only those below it, are described in agent/CMakeLists.txt.
#ifndef AGENTWINDOW_H
#define AGENTWINDOW_H

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
    WM_NOTIFY_ICON = WM_APP + 9,       // lParam: the mouse message on the notification icon
    WM_OPEN_WINDOW = WM_APP + 10,      // a second start of the agent asks it to show its window
    WM_ADMINISTRATION = WM_APP + 11,   // administration prompts or served calls wait
    WM_DELIVER_ANSWERS = WM_APP + 12,  // answers of other nodes wait for their programs
    // wParam: a session's socket; lParam: its event. Each session reports
    // with one of SessionSocketMessages messages from here.
    WM_SESSION_SOCKET_FIRST = WM_APP + 0x100,
};
const UINT SessionSocketMessages = 0x2000;

extern HWND AgentWindowHandle;
extern char OwnNodeName[MaxNodeNameLength + 1];
extern unsigned short OwnPort;
extern DWORD OwnAddress;                // network order; INADDR_ANY for every interface

// Sends an answer to a window whose thread is sending to this agent (a DDE
// client's initiate, the library's request). A caller that took no messages
// for five seconds counts as hung for SMTO_ABORTIFHUNG until it waits in its
// own send, and may be found so just before it does: a window told hung is
// given a short second chance, while one that is really hung costs only that.
// False when the answer was not taken within `timeout` ms.
bool SendToWaitingSender(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT timeout,
                         DWORD_PTR *result);

#endif
