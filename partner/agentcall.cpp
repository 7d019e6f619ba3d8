// Requests to the Network DDE agent through WM_COPYDATA.
//
// The request goes out with SendMessageTimeout; while it waits, this thread
// still takes in the messages the agent sends it, so the agent can deliver a
// list reply to a reply window of ours before it returns its result code.
// A call on another node is answered later: this thread then waits for the
// answer, bounded, taking in sent messages as the send does.
#include "agentcall.h"

struct PendingReply {
    WNDPROC staticProc;     // the reply window's own procedure
    AgentList *list;
    DWORD entrySize;
    DWORD maxEntries;
    RemoteBytes *answer;    // a call on another node: its answer, else null
    bool received;
};

// Takes a call's answer; false when it is not one.
static bool takeAnswer(PendingReply *pending, const COPYDATASTRUCT *data)
{
    if (data->cbData < 2 || data->cbData > MaxRemoteAnswer)
        return false;
    RemoteBytes *answer = pending->answer;
    answer->bytes = (BYTE *)HeapAlloc(GetProcessHeap(), 0, data->cbData);
    if (!answer->bytes)
        return false;
    memcpy(answer->bytes, data->lpData, data->cbData);
    answer->length = data->cbData;
    pending->received = true;
    return true;
}

static LRESULT CALLBACK replyWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    PendingReply *pending = (PendingReply *)GetWindowLongA(window, GWL_USERDATA);
    if (message == WM_COPYDATA) {
        const COPYDATASTRUCT *data = (const COPYDATASTRUCT *)lParam;
        if (pending->received || data->dwData != AgentReply)
            return FALSE;
        if (pending->answer)
            return takeAnswer(pending, data);
        // Only the first reply counts, and only one that is whole entries
        // that fit the list.
        if (pending->entrySize == 0 ||
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

// Waits for the answer to a call the agent took, at most RemoteCallTimeout,
// taking in sent messages meanwhile; never a second without a look at the
// queue, so that the agent never finds this thread hung.
static void waitForAnswer(const PendingReply *pending)
{
    DWORD started = GetTickCount();
    for (;;) {
        MSG peeked;
        PeekMessageA(&peeked, 0, 0, 0, PM_NOREMOVE);
        DWORD waited = GetTickCount() - started;
        if (pending->received || waited >= RemoteCallTimeout)
            return;
        DWORD left = RemoteCallTimeout - waited;
        MsgWaitForMultipleObjects(0, 0, FALSE, left < 1000 ? left : 1000, QS_SENDMESSAGE);
    }
}

// Sends one request of `size` bytes; a list reply of at most `maxEntries`
// entries of `entrySize` bytes is expected when entrySize is not 0, a call's
// answer later when `answer` is not null.
static UINT sendRequest(AgentRequestKind kind, const void *request, DWORD size, AgentList *list,
                        DWORD entrySize, DWORD maxEntries, RemoteBytes *answer)
{
    HWND agent = AgentWindow();
    if (!agent)
        return NDDE_NOT_RUNNING;
    // A hidden window of a system class, taught to take the reply.
    HWND replyWindow = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 0, 0, 0, 0,
                                     GetModuleHandleA(0), 0);
    if (!replyWindow)
        return NDDE_OUT_OF_MEMORY;
    PendingReply pending = {(WNDPROC)GetWindowLongA(replyWindow, GWL_WNDPROC), list, entrySize,
                            maxEntries, answer, false};
    SetWindowLongA(replyWindow, GWL_USERDATA, (LONG)&pending);
    SetWindowLongA(replyWindow, GWL_WNDPROC, (LONG)replyWindowProc);

    // The agent hands the list over with SMTO_ABORTIFHUNG. A caller that took
    // no messages for five seconds (a console program, a thread that polled)
    // counts as hung until it waits in the send below, and a quick agent
    // could find it so: a look at the queue first shows it is alive.
    MSG peeked;
    PeekMessageA(&peeked, 0, 0, 0, PM_NOREMOVE);
    COPYDATASTRUCT data = {kind, size, (void *)request};
    DWORD_PTR code = 0;
    UINT result = NDDE_NOT_RUNNING;
    if (SendMessageTimeoutA(agent, WM_COPYDATA, (WPARAM)replyWindow, (LPARAM)&data,
                            SMTO_ABORTIFHUNG, AgentReplyTimeout, &code))
        result = code <= 0xFFFF ? (UINT)code : NDDE_INTERNAL_ERROR;
    if (result == NDDE_NO_ERROR && answer) {
        waitForAnswer(&pending);
        if (!pending.received)
            result = NDDE_CANT_ACCESS_SERVER;
    }
    if (result == NDDE_NO_ERROR && entrySize != 0 && !pending.received)
        result = NDDE_INTERNAL_ERROR;
    SetWindowLongA(replyWindow, GWL_WNDPROC, (LONG)pending.staticProc);
    DestroyWindow(replyWindow);
    return result;
}

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
    return sendRequest(kind, &request, sizeof request, list, entrySize, maxEntries, 0);
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

UINT AgentAdministerNodeOf(const char *node, const RemoteBytes *call, RemoteBytes *answer)
{
    answer->bytes = 0;
    answer->length = 0;
    DWORD size = sizeof(AgentAdministration) + call->length;
    BYTE *request = (BYTE *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
    if (!request)
        return NDDE_OUT_OF_MEMORY;
    lstrcpynA(((AgentAdministration *)request)->node, node, MaxNodeNameLength + 1);
    memcpy(request + sizeof(AgentAdministration), call->bytes, call->length);
    UINT result = sendRequest(AgentAdministerNode, request, size, 0, 0, 0, answer);
    HeapFree(GetProcessHeap(), 0, request);
    if (result != NDDE_NO_ERROR)
        FreeRemoteBytes(answer);
    return result;
}
