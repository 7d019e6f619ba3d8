// The session list (dialog 13) and the connection list of one session
// (dialog 14): the Network DDE sessions of this machine, the shares a
// session's client is connected to, and closing a session.
#include "quorvstat.h"

// Buttons that follow the session list's selection; "Clients..." is the one
// a double-click presses.
static const int SessionButtons[] = {IDC_CLIENTS_BUTTON, IDC_CLOSE_SESSION_BUTTON};

// A client name as the session list holds it (an 18-byte name fits).
const int ClientNameTextSize = 20;

// The client name and session id of the session list's selected line.
// False without a selection.
static BOOL readSelectedSession(HWND sessionList, LPSTR clientName, DWORD *sessionId)
{
    return readSelectedLine(sessionList, IDC_SESSION_LIST, clientName, ClientNameTextSize,
                            sessionId);
}

static INT_PTR CALLBACK connectionListDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM);

// ---- Session list ---------------------------------------------------------------

static UINT enumerateSessions(EnumerationBuffer *buffer, const void *)
{
    return NDdeSessionEnum(managedServer(), 1, buffer->data, buffer->size, &buffer->totalAvailable,
                           &buffer->entriesRead);
}

// Lists every session: the client's name as the line, its session id as the
// line's data.
static BOOL fillSessionList(HWND dialog)
{
    EnumerationBuffer sessions = {};
    if (!readWithGrowingBuffer(&sessions, SessionListSize, enumerateSessions, NULL))
        return FALSE;

    HWND list = GetDlgItem(dialog, IDC_SESSION_LIST);
    DWORD count = entriesInBuffer(&sessions, sizeof(SessionEntry));
    const SessionEntry *entries = (const SessionEntry *)sessions.data;
    for (DWORD i = 0; i < count; i++) {
        // The name field is 18 bytes: copy it out so an unterminated name
        // cannot run into the next entry.
        char clientName[ClientNameSize + 1];
        lstrcpynA(clientName, entries[i].clientName, sizeof clientName);
        LRESULT line = SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)clientName);
        if (line >= 0)
            SendMessageA(list, LB_SETITEMDATA, line, (LPARAM)entries[i].sessionId);
    }
    if (count > 0)
        fitListWidth(dialog, IDC_SESSION_LIST);
    releaseEnumerationBuffer(&sessions);
    return TRUE;
}

// Asks whether to close the selected session and closes it. True when the
// session has ended and its line is gone.
static BOOL closeSelectedSession(HWND dialog)
{
    char clientName[ClientNameTextSize];
    DWORD sessionId;
    if (!readSelectedSession(dialog, clientName, &sessionId))
        return FALSE;
    if (!askDialogQuestion(dialog, IDS_CLOSE_SESSION_QUESTION, clientName))
        return FALSE;
    UINT result = NDdeSessionClose(managedServer(), clientName, (LONG)sessionId);
    if (result != NDDE_NO_ERROR) {
        reportApiError(result);
        return FALSE;
    }
    HWND list = GetDlgItem(dialog, IDC_SESSION_LIST);
    SendMessageA(list, LB_DELETESTRING, SendMessageA(list, LB_GETCURSEL, 0, 0), 0);
    fitListWidth(dialog, IDC_SESSION_LIST);
    return TRUE;
}

static void closeSessionCommand(HWND dialog)
{
    beginWaitCursor();
    if (closeSelectedSession(dialog)) {
        enableDialogButton(dialog, IDC_CLIENTS_BUTTON, FALSE);
        enableDialogButton(dialog, IDC_CLOSE_SESSION_BUTTON, FALSE);
    }
    endWaitCursor();
}

INT_PTR CALLBACK sessionListDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        captionFromTitle(dialog);
        if (!fillSessionList(dialog))
            EndDialog(dialog, IDCANCEL);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_CLIENTS_BUTTON:
            runNestedDialog(dialog, IDC_CLIENTS_BUTTON, IDD_CONNECTION_LIST, connectionListDialog);
            return TRUE;
        case IDCANCEL: EndDialog(dialog, IDCANCEL); return TRUE;
        case IDC_CLOSE_SESSION_BUTTON: closeSessionCommand(dialog); return TRUE;
        case IDC_SESSION_LIST:
            return handleListNotification(dialog, wParam, SessionButtons, 2, IDC_CLIENTS_BUTTON);
        }
        break;
    }
    return FALSE;
}

// ---- Connection list --------------------------------------------------------------

// What one connection enumeration asks for: the session of one client.
struct ConnectionRequest {
    LPSTR clientName;
    DWORD sessionId;
};

static UINT enumerateConnections(EnumerationBuffer *buffer, const void *request)
{
    const ConnectionRequest *session = (const ConnectionRequest *)request;
    return NDdeConnectionEnum(managedServer(), session->clientName, (LONG)session->sessionId, 1, buffer->data,
                              buffer->size, &buffer->totalAvailable, &buffer->entriesRead);
}

// The share name a connection entry points to, when it lies inside the
// buffer and ends there; null otherwise.
static LPCSTR connectedShareName(const EnumerationBuffer *connections, const ConnectionEntry *entry)
{
    LPCSTR name = entry->connectedShare;
    LPCSTR end = (LPCSTR)connections->data + connections->size;
    if (name < (LPCSTR)connections->data || name >= end)
        return NULL;
    for (LPCSTR c = name; c < end; c++)
        if (*c == '\0')
            return name;
    return NULL;
}

// Captions the dialog "Session <client>" (through the title slot) and lists
// the shares that client is connected to in the selected session.
static BOOL fillConnectionList(HWND dialog)
{
    ConnectionRequest session;
    char clientName[ClientNameTextSize];
    if (!readSelectedSession(GetParent(dialog), clientName, &session.sessionId))
        return FALSE;
    session.clientName = clientName;

    char title[FormattedTextSize];
    formatResourceString(title, IDS_SESSION_TITLE, clientName);
    title[TitleBufferSize - 1] = '\0';
    setTitleText(title);
    captionFromTitle(dialog);

    EnumerationBuffer connections = {};
    if (!readWithGrowingBuffer(&connections, ConnectionListSize, enumerateConnections, &session))
        return FALSE;

    HWND list = GetDlgItem(dialog, IDC_CONNECTION_LIST);
    DWORD count = entriesInBuffer(&connections, sizeof(ConnectionEntry));
    const ConnectionEntry *entries = (const ConnectionEntry *)connections.data;
    for (DWORD i = 0; i < count; i++) {
        LPCSTR share = connectedShareName(&connections, &entries[i]);
        if (share)
            SendMessageA(list, LB_ADDSTRING, 0, (LPARAM)share);
    }
    if (count > 0)
        fitListWidth(dialog, IDC_CONNECTION_LIST);
    releaseEnumerationBuffer(&connections);
    return TRUE;
}

static INT_PTR CALLBACK connectionListDialog(HWND dialog, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        captionFromTitle(dialog);
        if (!fillConnectionList(dialog))
            EndDialog(dialog, IDCANCEL);
        return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, LOWORD(wParam));
            return TRUE;
        }
        break;
    }
    return FALSE;
}
