// TCP sessions between agents (netsessions.h).
#include "netsessions.h"
#include "conversations.h"
#include <stdlib.h>

const int MaxSessionSlots = AgentMaxSessions * 2;  // served ones, then outgoing
const char NodeMapKey[] = "Software\\Tessaseg\\Nodes";
const DWORD ReceiveChunk = 64 * 1024;

static Session *sessions[MaxSessionSlots];
static int sessionCount;
static SOCKET listenSocket = INVALID_SOCKET;
static DWORD nextSessionId;
static bool flushPosted;                // WM_FLUSH_SESSIONS is on its way

// ---- Node names ------------------------------------------------------------

bool IsValidNodeName(const char *name)
{
    int length = lstrlenA(name);
    for (int i = 0; i < length; i++)
        if ((BYTE)name[i] <= ' ' || (BYTE)name[i] == 0x7F)
            return false;
    return length >= 1 && length <= MaxNodeNameLength;
}

void CopyNodeName(char *to, const char *name)
{
    int i = 0;
    for (; name[i] && i < MaxNodeNameLength; i++)
        to[i] = asciiUpper(name[i]);
    to[i] = 0;
}

// ---- The list of sessions --------------------------------------------------

int SessionCount()
{
    return sessionCount;
}

Session *SessionAt(int index)
{
    return sessions[index];
}

static int countSessions(bool incoming, bool ready)
{
    int count = 0;
    for (int i = 0; i < sessionCount; i++)
        if (sessions[i]->incoming == incoming && (!ready || sessions[i]->state == SessionReady))
            count++;
    return count;
}

Session *FindServedSession(const char *node, DWORD id)
{
    for (int i = 0; i < sessionCount; i++)
        if (sessions[i]->incoming && sessions[i]->state == SessionReady &&
            sessions[i]->id == id && isSameNodeName(sessions[i]->node, node))
            return sessions[i];
    return 0;
}

static Session *sessionOfSocket(SOCKET socket)
{
    for (int i = 0; i < sessionCount; i++)
        if (sessions[i]->socket == socket)
            return sessions[i];
    return 0;
}

static Session *addSession(SOCKET socket, bool incoming, SessionState state)
{
    if (sessionCount == MaxSessionSlots)
        return 0;
    // Frames go out as soon as they are flushed: a request's answer never
    // waits for the acknowledgement of the one before.
    BOOL noDelay = TRUE;
    setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, (const char *)&noDelay, sizeof noDelay);
    Session *session = (Session *)HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(Session));
    if (!session)
        return 0;
    session->socket = socket;
    session->incoming = incoming;
    session->state = state;
    session->startedAt = session->lastReceived = session->lastSent = GetTickCount();
    session->nextConversation = 1;
    sessions[sessionCount++] = session;
    return session;
}

void EndSession(Session *session, const char *reason)
{
    int index = 0;
    while (index < sessionCount && sessions[index] != session)
        index++;
    if (index == sessionCount)
        return;
    if (session->state == SessionReady || !session->incoming)
        LogEvent("session %s %s ended: %s", session->incoming ? "from" : "to",
                 session->node[0] ? session->node : "?", reason);
    EndConversationsOf(session, reason);
    closesocket(session->socket);
    FreeBuffer(&session->received);
    FreeBuffer(&session->toSend);
    sessions[index] = sessions[--sessionCount];
    HeapFree(GetProcessHeap(), 0, session);
    ShowAgentState();
}

void EndFailedSessions()
{
    for (int i = sessionCount - 1; i >= 0; i--)
        if (i < sessionCount && sessions[i]->failed)
            EndSession(sessions[i], "the connection failed");
}

void EndAllSessions()
{
    while (sessionCount > 0)
        EndSession(sessions[0], "the agent closes");
    if (listenSocket != INVALID_SOCKET)
        closesocket(listenSocket);
    listenSocket = INVALID_SOCKET;
}

// ---- Sending ---------------------------------------------------------------

static void markFailed(Session *session)
{
    if (!session->failed)
        PostMessageA(AgentWindowHandle, WM_END_FAILED_SESSIONS, 0, 0);
    session->failed = true;
}

// Sends what the socket takes now; the rest waits for FD_WRITE.
static void sendQueued(Session *session)
{
    ByteBuffer &queue = session->toSend;
    while (!session->failed && queue.length > queue.start) {
        int count = send(session->socket, (const char *)queue.bytes + queue.start,
                         queue.length - queue.start, 0);
        if (count == SOCKET_ERROR) {
            if (WSAGetLastError() != WSAEWOULDBLOCK)
                markFailed(session);
            return;
        }
        ConsumeBytes(&queue, count);
        session->lastSent = GetTickCount();
    }
}

bool SendFrame(Session *session, const Frame *frame)
{
    if (session->failed)
        return false;
    if (session->toSend.length - session->toSend.start + frame->dataLength > MaxQueuedBytes ||
        !AppendFrame(&session->toSend, frame)) {
        markFailed(session);
        return false;
    }
    // Frames queued while the window handles the messages waiting now go
    // out together, once those are done: fewer, fuller sends.
    if (!flushPosted)
        flushPosted = PostMessageA(AgentWindowHandle, WM_FLUSH_SESSIONS, 0, 0) != 0;
    return true;
}

void FlushSessions()
{
    flushPosted = false;
    for (int i = 0; i < sessionCount; i++)
        if (sessions[i]->state != SessionConnecting)
            sendQueued(sessions[i]);
}

// ---- Session frames --------------------------------------------------------

// Kinds a client node sends, and those a serving node sends; Terminate and
// Ping go both ways.
static bool isKindFromClient(BYTE kind)
{
    switch (kind) {
    case FrameHello: case FrameOpen: case FrameProof: case FrameRequest: case FramePoke:
    case FrameExecute: case FrameAdvise: case FrameUnadvise: case FrameDataAck:
    case FrameTerminate: case FramePing:
        return true;
    }
    return false;
}

static bool isKindFromServer(BYTE kind)
{
    return kind == FrameTerminate || kind == FramePing || !isKindFromClient(kind);
}

static bool isSessionIdInUse(DWORD id)
{
    for (int i = 0; i < sessionCount; i++)
        if (sessions[i]->incoming && sessions[i]->state == SessionReady && sessions[i]->id == id)
            return true;
    return false;
}

void SetFirstSessionId(DWORD id)
{
    nextSessionId = id;
}

static DWORD newSessionId()
{
    while (nextSessionId == 0 || isSessionIdInUse(nextSessionId))
        nextSessionId++;
    return nextSessionId++;
}

static void refuseSession(Session *session, UINT code)
{
    Frame refusal;
    InitFrame(&refusal, FrameRefused, 0);
    refusal.word = (WORD)code;
    SendFrame(session, &refusal);
}

static void greetClient(Session *session, const Frame *hello)
{
    if (!IsValidNodeName(hello->name)) {
        refuseSession(session, NDDE_INVALID_PARAMETER);
        return;
    }
    if (countSessions(true, true) >= AgentMaxSessions) {
        refuseSession(session, NDDE_OUT_OF_MEMORY);
        return;
    }
    CopyNodeName(session->node, hello->name);
    session->id = newSessionId();
    session->state = SessionReady;
    Frame welcome;
    InitFrame(&welcome, FrameWelcome, 0);
    BYTE id[4] = {(BYTE)session->id, (BYTE)(session->id >> 8), (BYTE)(session->id >> 16),
                  (BYTE)(session->id >> 24)};
    welcome.data = id;
    welcome.dataLength = sizeof id;
    SendFrame(session, &welcome);
    LogEvent("session %08lX from %s", session->id, session->node);
    ShowAgentState();
}

// Handles one frame; false when it breaks the protocol. The session never
// ends inside: a session that must end is marked failed.
static bool handleFrame(Session *session, const Frame *frame)
{
    if (session->incoming ? !isKindFromClient(frame->kind) : !isKindFromServer(frame->kind))
        return false;
    bool greeting = session->state != SessionReady;
    switch (frame->kind) {
    case FramePing:
        return !greeting;
    case FrameHello:
        if (!greeting)
            return false;
        greetClient(session, frame);
        return true;
    case FrameWelcome:
        if (!greeting)
            return false;
        session->id = frame->data[0] | frame->data[1] << 8 | frame->data[2] << 16 |
                      (DWORD)frame->data[3] << 24;
        session->state = SessionReady;
        ShowAgentState();
        SessionReadyForConversations(session);
        return true;
    case FrameRefused:
        if (frame->conversation == 0) {
            LogEvent("refused: %s would not open a session (code %u)", session->node, frame->word);
            markFailed(session);
            return true;
        }
        break;
    }
    return !greeting && HandleConversationFrame(session, frame);
}

// Reads what arrived and handles each complete frame, until the socket has
// nothing more or the session ends.
static void receiveFrames(Session *session)
{
    static BYTE chunk[ReceiveChunk];
    const char *closing = 0;
    for (int reads = 0; reads < 16 && !closing; reads++) {
        int count = recv(session->socket, (char *)chunk, ReceiveChunk, 0);
        if (count == 0 || (count == SOCKET_ERROR && WSAGetLastError() != WSAEWOULDBLOCK))
            closing = "the other node closed the connection";
        else if (count == SOCKET_ERROR)
            break;
        else if (!AppendBytes(&session->received, chunk, count))
            closing = "out of memory";
        else
            session->lastReceived = GetTickCount();
        if (count != SOCKET_ERROR && count < (int)ReceiveChunk)
            break;
    }
    ByteBuffer &buffer = session->received;
    while (!session->failed) {
        Frame frame;
        DWORD size;
        FrameRead read = ReadFrame(buffer.bytes + buffer.start, buffer.length - buffer.start,
                                   &frame, &size);
        if (read == FrameIncomplete)
            break;
        if (read == FrameMalformed || !handleFrame(session, &frame)) {
            LogEvent("refused: malformed frame from %s", session->node[0] ? session->node : "a new connection");
            EndSession(session, "malformed frame");
            return;
        }
        ConsumeBytes(&buffer, size);
    }
    if (closing)
        EndSession(session, closing);
}

void HandleSessionSocket(SOCKET socket, LPARAM event)
{
    // A report may be older than its socket: the handle may have been closed
    // and given to a new connection since. Reading tells what really stands.
    Session *session = sessionOfSocket(socket);
    if (!session)
        return;
    if (WSAGETSELECTEVENT(event) == FD_CONNECT) {
        if (WSAGETSELECTERROR(event)) {
            LogEvent("refused: node %s cannot be reached", session->node);
            EndSession(session, "node unreachable");
            return;
        }
        Frame hello;
        InitFrame(&hello, FrameHello, 0);
        lstrcpyA(hello.name, OwnNodeName);
        session->state = SessionGreeting;
        // The Hello goes before the frames queued while connecting.
        ByteBuffer queued = session->toSend;
        ZeroMemory(&session->toSend, sizeof session->toSend);
        if (AppendFrame(&session->toSend, &hello) &&
            AppendBytes(&session->toSend, queued.bytes + queued.start, queued.length - queued.start))
            sendQueued(session);
        else
            markFailed(session);
        FreeBuffer(&queued);
        return;
    }
    if (WSAGETSELECTEVENT(event) == FD_WRITE) {
        sendQueued(session);
        return;
    }
    receiveFrames(session);
}

// ---- Opening sessions ------------------------------------------------------

bool OpenListener(DWORD address, unsigned short port)
{
    WSADATA winsock;
    if (WSAStartup(MAKEWORD(1, 1), &winsock) != 0)
        return false;
    listenSocket = socket(AF_INET, SOCK_STREAM, 0);
    if (listenSocket == INVALID_SOCKET)
        return false;
    // Sessions an earlier agent ended may linger in the system for a while;
    // a new agent must still be able to take the port. The running-mutex
    // keeps it to one agent.
    BOOL reuse = TRUE;
    setsockopt(listenSocket, SOL_SOCKET, SO_REUSEADDR, (const char *)&reuse, sizeof reuse);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = address;
    return bind(listenSocket, (sockaddr *)&local, sizeof local) == 0 &&
           listen(listenSocket, SOMAXCONN) == 0;
}

bool WatchListener()
{
    return WSAAsyncSelect(listenSocket, AgentWindowHandle, WM_LISTEN_SOCKET, FD_ACCEPT) == 0;
}

// The served connection that has waited longest without a greeting, or null.
static Session *longestUngreeted()
{
    Session *oldest = 0;
    DWORD now = GetTickCount();
    for (int i = 0; i < sessionCount; i++)
        if (sessions[i]->incoming && sessions[i]->state != SessionReady &&
            (!oldest || now - sessions[i]->startedAt > now - oldest->startedAt))
            oldest = sessions[i];
    return oldest;
}

void AcceptSession()
{
    SOCKET socket = accept(listenSocket, 0, 0);
    if (socket == INVALID_SOCKET)
        return;
    // Silent connections never keep a client node out: the oldest one makes room.
    if (countSessions(true, false) >= AgentMaxSessions) {
        Session *oldest = longestUngreeted();
        if (oldest)
            EndSession(oldest, "no greeting");
    }
    Session *session = countSessions(true, false) < AgentMaxSessions
                           ? addSession(socket, true, SessionGreeting) : 0;
    if (!session || WSAAsyncSelect(socket, AgentWindowHandle, WM_SESSION_SOCKET,
                                   FD_READ | FD_WRITE | FD_CLOSE) != 0) {
        if (session)
            EndSession(session, "cannot watch the connection");
        else
            closesocket(socket);
    }
}

// Where `node` listens: the node map of the registry ("host:port"), this
// node itself, or the system's name lookup with the default port.
static bool findNode(const char *node, sockaddr_in *address)
{
    ZeroMemory(address, sizeof *address);
    address->sin_family = AF_INET;
    address->sin_port = htons(AgentDefaultPort);
    if (isSameNodeName(node, OwnNodeName)) {
        address->sin_port = htons(OwnPort);
        address->sin_addr.s_addr = OwnAddress != INADDR_ANY ? OwnAddress : htonl(INADDR_LOOPBACK);
        return true;
    }
    char host[256] = "";
    DWORD size = sizeof host - 1, type = 0;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, NodeMapKey, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        if (RegQueryValueExA(key, node, 0, &type, (BYTE *)host, &size) != ERROR_SUCCESS ||
            type != REG_SZ)
            host[0] = 0;
        host[size < sizeof host ? size : sizeof host - 1] = 0;
        RegCloseKey(key);
    }
    if (!host[0])
        lstrcpynA(host, node, sizeof host);
    char *colon = host;
    while (*colon && *colon != ':')
        colon++;
    if (*colon) {
        *colon = 0;
        DWORD port = strtoul(colon + 1, 0, 10);
        if (port == 0 || port > 65535)
            return false;
        address->sin_port = htons((unsigned short)port);
    }
    address->sin_addr.s_addr = inet_addr(host);
    if (address->sin_addr.s_addr != INADDR_NONE)
        return true;
    hostent *found = gethostbyname(host);
    if (!found || found->h_length != 4)
        return false;
    CopyMemory(&address->sin_addr, found->h_addr_list[0], 4);
    return true;
}

Session *SessionToNode(const char *node)
{
    for (int i = 0; i < sessionCount; i++)
        if (!sessions[i]->incoming && !sessions[i]->failed && isSameNodeName(sessions[i]->node, node))
            return sessions[i];
    sockaddr_in address;
    if (!IsValidNodeName(node) || !findNode(node, &address)) {
        LogEvent("refused: node %s is unknown", node);
        return 0;
    }
    SOCKET socket = ::socket(AF_INET, SOCK_STREAM, 0);
    Session *session = socket != INVALID_SOCKET ? addSession(socket, false, SessionConnecting) : 0;
    if (!session) {
        if (socket != INVALID_SOCKET)
            closesocket(socket);
        LogEvent("refused: no room for a session to %s", node);
        return 0;
    }
    CopyNodeName(session->node, node);
    if (WSAAsyncSelect(socket, AgentWindowHandle, WM_SESSION_SOCKET,
                       FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0 ||
        (connect(socket, (sockaddr *)&address, sizeof address) != 0 &&
         WSAGetLastError() != WSAEWOULDBLOCK)) {
        LogEvent("refused: node %s cannot be reached", session->node);
        markFailed(session);
    }
    ShowAgentState();
    return session;
}

// ---- Time ------------------------------------------------------------------

void CheckSessions()
{
    DWORD now = GetTickCount();
    for (int i = sessionCount - 1; i >= 0; i--) {
        if (i >= sessionCount)
            continue;
        Session *session = sessions[i];
        if (session->state != SessionReady) {
            if (now - session->startedAt >= AgentGreetingTimeout)
                EndSession(session, session->incoming ? "no greeting within 10 s"
                                                      : "the node did not answer within 10 s");
            continue;
        }
        // A node that stops answering ends the conversations through it in
        // bounded time; a served node gets longer, and only while it holds
        // conversations, since a client node need not send anything else.
        DWORD silence = now - session->lastReceived;
        if (session->incoming ? silence >= ServedSilenceTimeout && ConversationCountOn(session) > 0
                              : silence >= SilenceTimeout) {
            EndSession(session, "nothing heard from the node");
            continue;
        }
        if (!session->incoming) {
            if (ConversationCountOn(session) > 0)
                session->idleSince = 0;
            else if (!session->idleSince)
                session->idleSince = now;
            else if (now - session->idleSince >= IdleSessionTimeout) {
                EndSession(session, "no conversation for 60 s");
                continue;
            }
        }
        if (now - session->lastSent >= PingInterval && session->toSend.length == session->toSend.start) {
            Frame ping;
            InitFrame(&ping, FramePing, 0);
            SendFrame(session, &ping);
        }
    }
}
