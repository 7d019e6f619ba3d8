// nddeagent.exe: the Network DDE agent of the local machine.
//
//   nddeagent.exe [/port:N] [/firstsession:HEX]
//
// One thread and one window. Client nodes open sessions over TCP on
// 127.0.0.1 (port N, AgentDefaultPort by default); the sockets report to the
// window through WSAAsyncSelect. The partner library asks for the sessions,
// a session's connections, or the end of a session with WM_COPYDATA
// (agentlink.h). The window lists the open sessions. At most one agent runs.
//
// Exit codes: 0 after the window is closed, 1 when another agent runs,
// 2 when the port cannot be opened, 3 when the window cannot be made.
#include "agentlink.h"
#include "sharestore.h"
#include <winsock.h>

enum AgentMessage {
    WM_LISTEN_SOCKET = WM_APP + 1,     // FD_ACCEPT on the listening socket
    WM_SESSION_SOCKET = WM_APP + 2,    // FD_READ / FD_CLOSE; wParam: the socket
};

const UINT_PTR GreetingTimer = 1;      // looks for connections that did not greet
const UINT GreetingCheckInterval = 500; // ms

struct Connection {
    char shareName[ShareNameSize];
    WORD passwordNumber;               // connectionWord1
    WORD permissions;                  // connectionWord2
};

struct Session {
    SOCKET socket;
    bool named;                        // HELLO received: listed from then on
    DWORD connectedAt;                 // GetTickCount when the connection was made
    DWORD id;
    char clientName[MaxNodeNameLength + 1];
    char line[MaxLineLength + 1];      // the request being received
    int lineLength;
    Connection connections[AgentMaxConnections];
    int connectionCount;
};

// The agent's program-wide state.
static Session sessions[AgentMaxSessions];
static int sessionCount;
static DWORD nextSessionId = AgentDefaultFirstSession;
static SOCKET listenSocket = INVALID_SOCKET;
static HWND agentWindow, sessionList;

// ---- The window's list of sessions -----------------------------------------

static void showSessions()
{
    SendMessageA(sessionList, LB_RESETCONTENT, 0, 0);
    for (int i = 0; i < sessionCount; i++) {
        const Session &session = sessions[i];
        if (!session.named)
            continue;
        char line[128];
        wsprintfA(line, "%s    session %08lX    %d connection(s)", session.clientName,
                  session.id, session.connectionCount);
        SendMessageA(sessionList, LB_ADDSTRING, 0, (LPARAM)line);
    }
}

// ---- Sessions --------------------------------------------------------------

static Session *sessionOfSocket(SOCKET socket)
{
    for (int i = 0; i < sessionCount; i++)
        if (sessions[i].socket == socket)
            return &sessions[i];
    return 0;
}

static Session *findSession(const char *clientName, DWORD id)
{
    for (int i = 0; i < sessionCount; i++)
        if (sessions[i].named && sessions[i].id == id &&
            isSameNodeName(sessions[i].clientName, clientName))
            return &sessions[i];
    return 0;
}

static bool isSessionIdInUse(DWORD id)
{
    for (int i = 0; i < sessionCount; i++)
        if (sessions[i].named && sessions[i].id == id)
            return true;
    return false;
}

// The next free session id; 0 is never one.
static DWORD newSessionId()
{
    while (nextSessionId == 0 || isSessionIdInUse(nextSessionId))
        nextSessionId++;
    return nextSessionId++;
}

// Closes the client's connection: the client sees its session end.
static void endSession(Session *session)
{
    closesocket(session->socket);
    *session = sessions[--sessionCount];
    showSessions();
}

static void sendLine(Session *session, const char *format, ...)
{
    char line[MaxLineLength + 2];
    va_list arguments;
    va_start(arguments, format);
    int length = wvsprintfA(line, format, arguments);
    va_end(arguments);
    line[length++] = '\n';
    send(session->socket, line, length, 0);
}

// A node name: 1 to MaxNodeNameLength visible characters.
static bool isValidNodeName(const char *name)
{
    int length = lstrlenA(name);
    for (int i = 0; i < length; i++)
        if ((BYTE)name[i] <= ' ' || (BYTE)name[i] == 0x7F)
            return false;
    return length >= 1 && length <= MaxNodeNameLength;
}

static void greetClient(Session *session, const char *nodeName)
{
    if (session->named || !isValidNodeName(nodeName)) {
        sendLine(session, "REFUSED\t%u", NDDE_INVALID_PARAMETER);
        return;
    }
    for (int i = 0; i <= lstrlenA(nodeName); i++)
        session->clientName[i] = asciiUpper(nodeName[i]);
    session->id = newSessionId();
    session->named = true;
    sendLine(session, "SESSION\t%08lX", session->id);
    showSessions();
}

// Grants a connection to `shareName` when `password` is one of its passwords.
static UINT grantConnection(const char *shareName, const char *password, Connection *connection)
{
    if (!IsValidShareName(shareName))
        return NDDE_INVALID_SHARE;
    if (!IsValidPassword(password))
        return NDDE_INVALID_PASSWORD;
    StoredShare share;
    UINT result = StoreReadShare(shareName, &share);
    if (result != NDDE_NO_ERROR)
        return result;
    const ShareView &view = share.view;
    lstrcpyA(connection->shareName, view.shareName);
    if (IsSameText(password, view.password1)) {
        connection->passwordNumber = 1;
        connection->permissions = (WORD)view.permissions1;
    } else if (IsSameText(password, view.password2)) {
        connection->passwordNumber = 2;
        connection->permissions = (WORD)view.permissions2;
    } else {
        result = NDDE_ACCESS_DENIED;
    }
    ReleaseStoredShare(&share);
    return result;
}

static void connectClient(Session *session, const char *shareName, const char *password)
{
    Connection connection;
    UINT result = session->named ? grantConnection(shareName, password, &connection)
                                 : NDDE_INVALID_SESSION;
    // A share the session holds already keeps its place.
    int slot = 0;
    while (result == NDDE_NO_ERROR && slot < session->connectionCount &&
           !IsSameText(session->connections[slot].shareName, connection.shareName))
        slot++;
    if (result == NDDE_NO_ERROR && slot == AgentMaxConnections)
        result = NDDE_OUT_OF_MEMORY;
    if (result != NDDE_NO_ERROR) {
        sendLine(session, "REFUSED\t%u", result);
        return;
    }
    session->connections[slot] = connection;
    if (slot == session->connectionCount)
        session->connectionCount++;
    sendLine(session, "GRANTED\t%u\t%u", connection.passwordNumber, connection.permissions);
    showSessions();
}

// One request line: its fields are separated by tabs.
static void handleRequest(Session *session, char *line)
{
    static char none[] = "";
    char *fields[3] = {line, none, none};
    for (int i = 1; i < 3; i++) {
        char *tab = fields[i - 1];
        while (*tab && *tab != '\t')
            tab++;
        if (!*tab)
            break;
        *tab = 0;
        fields[i] = tab + 1;
    }
    if (IsSameText(fields[0], "HELLO"))
        greetClient(session, fields[1]);
    else if (IsSameText(fields[0], "CONNECT"))
        connectClient(session, fields[1], fields[2]);
    else
        sendLine(session, "REFUSED\t%u", NDDE_INVALID_PARAMETER);
}

// Reads what the client sent and handles each complete line. A line longer
// than any request ends the session, and so does the client's close. True
// when it read something and the session goes on.
static bool receiveFromClient(Session *session)
{
    char received[512];
    int count = recv(session->socket, received, sizeof received, 0);
    if (count <= 0) {
        if (count == 0 || WSAGetLastError() != WSAEWOULDBLOCK)
            endSession(session);
        return false;
    }
    for (int i = 0; i < count; i++) {
        char c = received[i];
        if (c == '\n') {
            session->line[session->lineLength] = 0;
            if (session->lineLength > 0 && session->line[session->lineLength - 1] == '\r')
                session->line[session->lineLength - 1] = 0;
            session->lineLength = 0;
            handleRequest(session, session->line);
        } else if (session->lineLength == MaxLineLength) {
            endSession(session);
            return false;
        } else {
            session->line[session->lineLength++] = c;
        }
    }
    return true;
}

// The connection without a session that has waited longest, or null.
static Session *longestUngreeted()
{
    Session *oldest = 0;
    DWORD now = GetTickCount();
    for (int i = 0; i < sessionCount; i++)
        if (!sessions[i].named &&
            (!oldest || now - sessions[i].connectedAt > now - oldest->connectedAt))
            oldest = &sessions[i];
    return oldest;
}

// Closes the connections that did not open a session in time, so that
// silent ones cannot hold the places of clients.
static void closeUngreeted()
{
    DWORD now = GetTickCount();
    // endSession moves the last session into the place it frees.
    for (int i = sessionCount - 1; i >= 0; i--)
        if (!sessions[i].named && now - sessions[i].connectedAt >= AgentGreetingTimeout)
            endSession(&sessions[i]);
}

static void acceptClient()
{
    SOCKET socket = accept(listenSocket, 0, 0);
    if (socket == INVALID_SOCKET)
        return;
    Session *oldest = sessionCount == AgentMaxSessions ? longestUngreeted() : 0;
    if (oldest)
        endSession(oldest);
    if (sessionCount == AgentMaxSessions ||
        WSAAsyncSelect(socket, agentWindow, WM_SESSION_SOCKET, FD_READ | FD_CLOSE) != 0) {
        closesocket(socket);
        return;
    }
    Session &session = sessions[sessionCount++];
    ZeroMemory(&session, sizeof session);
    session.socket = socket;
    session.connectedAt = GetTickCount();
}

// ---- Requests of the partner library ---------------------------------------
// While the agent waits for a reply window to take a list, another request
// may come in; each answer is built in its own stack frame.

static UINT sendReply(HWND replyWindow, const void *entries, DWORD size)
{
    COPYDATASTRUCT data = {AgentReply, size, (void *)entries};
    DWORD_PTR answer = 0;
    if (!IsWindow(replyWindow) ||
        !SendMessageTimeoutA(replyWindow, WM_COPYDATA, (WPARAM)agentWindow, (LPARAM)&data,
                             SMTO_ABORTIFHUNG, AgentReplyTimeout, &answer) || !answer)
        return NDDE_INTERNAL_ERROR;
    return NDDE_NO_ERROR;
}

static UINT listSessions(HWND replyWindow)
{
    AgentSession list[AgentMaxSessions];
    DWORD count = 0;
    for (int i = 0; i < sessionCount; i++) {
        if (!sessions[i].named)
            continue;
        AgentSession &entry = list[count++];
        ZeroMemory(&entry, sizeof entry);
        lstrcpyA(entry.clientName, sessions[i].clientName);
        entry.sessionWord = (WORD)sessions[i].connectionCount;
        entry.sessionId = sessions[i].id;
    }
    return sendReply(replyWindow, list, count * sizeof(AgentSession));
}

static UINT listConnections(HWND replyWindow, const Session *session)
{
    AgentConnection list[AgentMaxConnections];
    for (int i = 0; i < session->connectionCount; i++) {
        const Connection &connection = session->connections[i];
        ZeroMemory(&list[i], sizeof list[i]);
        lstrcpyA(list[i].shareName, connection.shareName);
        list[i].connectionWord1 = connection.passwordNumber;
        list[i].connectionWord2 = connection.permissions;
    }
    return sendReply(replyWindow, list, session->connectionCount * sizeof(AgentConnection));
}

static LRESULT answerPartner(HWND replyWindow, const COPYDATASTRUCT *data)
{
    if (data->cbData != sizeof(AgentRequest))
        return NDDE_INVALID_PARAMETER;
    AgentRequest request;
    memcpy(&request, data->lpData, sizeof request);
    request.clientName[ClientNameSize - 1] = 0;
    if (data->dwData == AgentListSessions)
        return listSessions(replyWindow);
    if (data->dwData != AgentListConnections && data->dwData != AgentCloseSession)
        return NDDE_INVALID_PARAMETER;
    Session *session = findSession(request.clientName, request.sessionId);
    if (!session)
        return NDDE_INVALID_SESSION;
    if (data->dwData == AgentListConnections)
        return listConnections(replyWindow, session);
    endSession(session);
    return NDDE_NO_ERROR;
}

// ---- The window ------------------------------------------------------------

static LRESULT CALLBACK agentWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        sessionList = CreateWindowA("LISTBOX", "", WS_CHILD | WS_VISIBLE | WS_VSCROLL |
                                    LBS_NOINTEGRALHEIGHT, 0, 0, 0, 0, window, 0,
                                    ((CREATESTRUCTA *)lParam)->hInstance, 0);
        SendMessageA(sessionList, WM_SETFONT, (WPARAM)GetStockObject(ANSI_FIXED_FONT), 0);
        return sessionList && SetTimer(window, GreetingTimer, GreetingCheckInterval, 0) ? 0 : -1;
    case WM_TIMER:
        closeUngreeted();
        return 0;
    case WM_SIZE:
        MoveWindow(sessionList, 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
        return 0;
    case WM_COPYDATA:
        return answerPartner((HWND)wParam, (const COPYDATASTRUCT *)lParam);
    case WM_LISTEN_SOCKET:
        acceptClient();
        return 0;
    case WM_SESSION_SOCKET: {
        // A report may be older than its socket: the agent may have closed
        // it and given its handle to a new client. Reading tells whether the
        // connection has data or has really ended; a closing client's last
        // requests are read to the end.
        Session *session = sessionOfSocket((SOCKET)wParam);
        if (session && WSAGETSELECTEVENT(lParam) == FD_CLOSE)
            while (receiveFromClient(session)) {
            }
        else if (session)
            receiveFromClient(session);
        return 0;
    }
    case WM_DESTROY:
        while (sessionCount > 0)
            endSession(&sessions[0]);
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// ---- Start-up --------------------------------------------------------------

// Reads "/port:N" and "/firstsession:HEX" from the command line.
static void readOptions(const char *commandLine, unsigned short *port)
{
    for (const char *c = commandLine; *c; c++) {
        if (*c != '/')
            continue;
        char option[64];
        int length = 0;
        while (c[1 + length] && c[1 + length] != ' ' && length < 63)
            length++;
        lstrcpynA(option, c + 1, length + 1);
        if (startsWith(option, "port:"))
            *port = (unsigned short)strtoul(option + 5, 0, 10);
        else if (startsWith(option, "firstsession:"))
            nextSessionId = strtoul(option + 13, 0, 16);
    }
}

// Listens on 127.0.0.1:port; the window is told of clients once it exists.
static bool openPort(unsigned short port)
{
    WSADATA winsock;
    if (WSAStartup(MAKEWORD(1, 1), &winsock) != 0)
        return false;
    listenSocket = socket(AF_INET, SOCK_STREAM, 0);
    if (listenSocket == INVALID_SOCKET)
        return false;
    // Sessions this agent ended may linger in the system for a while; a new
    // agent must still be able to take the port. The running-mutex keeps it
    // to one agent.
    BOOL reuse = TRUE;
    setsockopt(listenSocket, SOL_SOCKET, SO_REUSEADDR, (const char *)&reuse, sizeof reuse);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Room for a burst of connections while the agent takes them one by one:
    // with a short queue the system drops connection attempts, and a client
    // waits seconds before it tries again.
    return bind(listenSocket, (sockaddr *)&address, sizeof address) == 0 &&
           listen(listenSocket, AgentMaxSessions) == 0;
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR commandLine, int show)
{
    HANDLE running = CreateMutexA(0, FALSE, AgentRunningMutex);
    if (!running || GetLastError() == ERROR_ALREADY_EXISTS)
        return 1;
    unsigned short port = AgentDefaultPort;
    readOptions(commandLine, &port);
    if (!openPort(port))
        return 2;

    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = agentWindowProc;
    windowClass.hInstance = instance;
    windowClass.hCursor = LoadCursorA(0, (LPCSTR)IDC_ARROW);
    windowClass.hIcon = LoadIconA(0, (LPCSTR)IDI_APPLICATION);
    windowClass.hbrBackground = (HBRUSH)(COLOR_WINDOW + 1);
    windowClass.lpszClassName = AgentWindowClass;
    if (!RegisterClassA(&windowClass))
        return 3;
    agentWindow = CreateWindowA(AgentWindowClass, AgentWindowTitle, WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, 420, 200, 0, 0, instance, 0);
    if (!agentWindow ||
        WSAAsyncSelect(listenSocket, agentWindow, WM_LISTEN_SOCKET, FD_ACCEPT) != 0)
        return 3;
    ShowWindow(agentWindow, show);

    MSG message;
    while (GetMessageA(&message, 0, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    closesocket(listenSocket);
    WSACleanup();
    CloseHandle(running);
    return (int)message.wParam;
}
