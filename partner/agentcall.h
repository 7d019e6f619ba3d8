// The partner's requests to the Network DDE agent (see agentlink.h). Each
// request is bounded in time: an agent that is missing, hung or gone answers
// NDDE_NOT_RUNNING.
#ifndef AGENTCALL_H
#define AGENTCALL_H

#include "agentlink.h"
#include "remotecall.h"

// The entries of one list reply; count is checked against what arrived.
struct AgentList {
    DWORD count;
    union {
        AgentSession sessions[AgentMaxSessions];
        AgentConnection connections[AgentMaxConnections];
    };
};

// The agent's window, or null when no agent runs.
HWND AgentWindow();

UINT AgentListSessionsOf(AgentList *list);
UINT AgentListConnectionsOf(const char *clientName, DWORD sessionId, AgentList *list);
UINT AgentCloseSessionOf(const char *clientName, DWORD sessionId);
// Runs `call` on `node` through the agent; the node's answer in `answer`
// (freed by the caller) when the result is NDDE_NO_ERROR.
UINT AgentAdministerNodeOf(const char *node, const RemoteBytes *call, RemoteBytes *answer);

#endif
