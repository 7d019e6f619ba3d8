// Requests to the Network DDE agent through WM_COPYDATA.
//
// The request goes out with SendMessageTimeout; while it waits, this thread
// still takes in the messages the agent sends it, so the agent can deliver a
// list reply to a reply window of ours before it returns its result code.
#include "agentcall.h"

struct PendingReply {
    WNDPROC staticProc;     // the reply window's own procedure
    AgentList *list;
    DWORD entrySize;
    DWORD maxEntries;
    bool received;
};

static LRESULT CALLBACK replyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    PendingReply *pending = (PendingReply *)GetWindowLongA(window, GWL_USERDATA);
    if (message == WM_COPYDATA) {
        const COPYDATASTRUCT *data = (const COPYDATASTRUCT *)lParam;
        // Only the first reply counts, and only one that is whole entries
        // that fit the list.
        if (pending->received || data->dwData != AgentReply || pending->entrySize == 0 ||
            data->cbData % pending->entrySize != 0 ||
            data->cbData / pending->entrySize > pending->maxEntries)
            return FALSE;
        if (data->cbData > 0)
            memcpy(pending->list->sessions, data->lpData, data->cbData);
        pending->list->count = data->cbData / pending->entrySize;
        pending->received = true;
        return TRUE;
    }
    return CallWindowProcA(pending->staticProc, window, message, wParam, lParam);
}

HWND AgentWindow()
{
    return FindWindowA(AgentWindowClass, 0);
}

// Sends one request; a list reply of at most `maxEntries` entries of
// `entrySize` bytes is expected when entrySize is not 0.
static UINT askAgent(AgentRequestKind kind, const char *clientName, DWORD sessionId,
                     AgentList *list, DWORD entrySize, DWORD maxEntries)
{
    AgentRequest request = {};
    if (clientName) {
        if (lstrlenA(clientName) >= ClientNameSize)
            return NDDE_INVALID_SESSION;       // no client has such a name
        lstrcpyA(request.clientName, clientName);
    }
    request.sessionId = sessionId;

    HWND agent = AgentWindow();
    if (!agent)
        return NDDE_NOT_RUNNING;
    // A hidden window of a system class, taught to take the reply.
    HWND replyWindow = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 0, 0, 0, 0,
                                     GetModuleHandleA(0), 0);
    if (!replyWindow)
        return NDDE_OUT_OF_MEMORY;
    PendingReply pending = {(WNDPROC)GetWindowLongA(replyWindow, GWL_WNDPROC), list, entrySize,
                            maxEntries, false};
    SetWindowLongA(replyWindow, GWL_USERDATA, (LONG)&pending);
    SetWindowLongA(replyWindow, GWL_WNDPROC, (LONG)replyWindowProc);

    // The agent hands the list over with SMTO_ABORTIFHUNG. A caller that took
    // no messages for five seconds (a console program, a thread that polled)
    // counts as hung until it waits in the send below, and a quick agent
    // could find it so: a look at the queue first shows it is alive.
    MSG peeked;
    PeekMessageA(&peeked, 0, 0, 0, PM_NOREMOVE);
    COPYDATASTRUCT data = {kind, sizeof request, &request};
    DWORD_PTR answer = 0;
    UINT result = NDDE_NOT_RUNNING;
    if (SendMessageTimeoutA(agent, WM_COPYDATA, (WPARAM)replyWindow, (LPARAM)&data,
                            SMTO_ABORTIFHUNG, AgentReplyTimeout, &answer))
        result = answer <= 0xFFFF ? (UINT)answer : NDDE_INTERNAL_ERROR;
    if (result == NDDE_NO_ERROR && entrySize != 0 && !pending.received)
        result = NDDE_INTERNAL_ERROR;
    SetWindowLongA(replyWindow, GWL_WNDPROC, (LONG)pending.staticProc);
    DestroyWindow(replyWindow);
    return result;
}

UINT AgentListSessionsOf(AgentList *list)
{
    UINT result = askAgent(AgentListSessions, 0, 0, list, sizeof(AgentSession),
                           AgentMaxSessions);
    for (DWORD i = 0; result == NDDE_NO_ERROR && i < list->count; i++)
        if (!memchr(list->sessions[i].clientName, 0, ClientNameSize))
            result = NDDE_INTERNAL_ERROR;
    return result;
}

UINT AgentListConnectionsOf(const char *clientName, DWORD sessionId, AgentList *list)
{
    UINT result = askAgent(AgentListConnections, clientName, sessionId, list,
                           sizeof(AgentConnection), AgentMaxConnections);
    for (DWORD i = 0; result == NDDE_NO_ERROR && i < list->count; i++)
        if (!memchr(list->connections[i].shareName, 0, ShareNameSize))
            result = NDDE_INTERNAL_ERROR;
    return result;
}

UINT AgentCloseSessionOf(const char *clientName, DWORD sessionId)
{
    return askAgent(AgentCloseSession, clientName, sessionId, 0, 0, 0);
}
