// Opening sessions (sessionlayer.h): the listening socket and the served
// connections it accepts, and outgoing sessions to a node found in the node
// map or by its name.
#include "sessionlayer.h"
#include "nodemap.h"
#include <stdlib.h>

#ifndef SO_EXCLUSIVEADDRUSE
#define SO_EXCLUSIVEADDRUSE ((int)(~SO_REUSEADDR))
#endif
#ifndef SD_SEND
#define SD_SEND 1                       // shutdown(): no more sending
#endif

// Connections the system holds for the agent before it takes them: a few
// (the agent takes them as they come), so that a burst of connections is
// refused by the system rather than kept for minutes of handshakes.
const int ListenBacklog = 16;

static SOCKET listenSocket = INVALID_SOCKET;

// Name lookups under way (WSAAsyncGetHostByName). Each writes its answer
// into its entry in the system's own time, so an entry is taken again only
// once its answer has come, whether its session still stands or not.
const int MaxLookups = 16;
struct Lookup {
    HANDLE handle;                 // null when the entry is free
    DWORD sessionSerial;
    char hostEntry[MAXGETHOSTSTRUCT];
};
static Lookup lookups[MaxLookups];

bool OpenListener(DWORD address, unsigned short port)
{
    WSADATA winsock;
    if (WSAStartup(MAKEWORD(1, 1), &winsock) != 0)
        return false;
    listenSocket = socket(AF_INET, SOCK_STREAM, 0);
    if (listenSocket == INVALID_SOCKET)
        return false;
    // No other program may take the port while the agent holds it, where the
    // system can say so; the running-mutex keeps it to one agent.
    BOOL exclusive = TRUE;
    setsockopt(listenSocket, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, (const char *)&exclusive,
               sizeof exclusive);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    local.sin_addr.s_addr = address;
    return bind(listenSocket, (sockaddr *)&local, sizeof local) == 0 &&
           listen(listenSocket, ListenBacklog) == 0;
}

bool WatchListener()
{
    return WSAAsyncSelect(listenSocket, AgentWindowHandle, WM_LISTEN_SOCKET, FD_ACCEPT) == 0;
}

// The served connection that has sent nothing at all and waited longest, or null.
static Session *longestSilent()
{
    Session *oldest = 0;
    DWORD now = GetTickCount();
    for (int i = 0; i < SessionCount(); i++) {
        Session *session = SessionAt(i);
        if (session->incoming && session->state != SessionReady && !session->heardFrom &&
            IsStandingSession(session) &&
            (!oldest || now - session->startedAt > now - oldest->startedAt))
            oldest = session;
    }
    return oldest;
}

static int ungreetedFrom(DWORD address)
{
    int count = 0;
    for (int i = 0; i < SessionCount(); i++) {
        const Session *session = SessionAt(i);
        if (session->incoming && session->state != SessionReady && IsStandingSession(session) &&
            session->peerAddress == address)
            count++;
    }
    return count;
}

// What keeps a new connection from a place, or null when it has one. Served
// sessions and connections greeting share the places: a connection that has
// sent nothing gives its place at once, a session without conversations at
// the new node's greeting. TLS memory for one more handshake is kept free.
static const char *noPlace(char *reason)
{
    if (CountSessions(true, true) + CountSessions(true, false) >= SessionLimit()) {
        Session *silent = longestSilent();
        if (silent)
            EndSessionSoon(silent, "no greeting: its place went to another connection");
        else if (!HasIdleServedSession()) {
            wsprintfA(reason, "it serves %d sessions, its limit", SessionLimit());
            return reason;
        }
    }
    if (TlsMemoryInUse() > TlsMemoryBudget - HandshakeMemory) {
        wsprintfA(reason, "its %lu MB of TLS memory are taken", TlsMemoryBudget >> 20);
        return reason;
    }
    return 0;
}

// Tells a node that may not have a session now that this node is busy, in
// clear and before any TLS work (netdde_wire.h), and closes the connection.
// What the node sent meanwhile is read first, so that the system closes
// the connection in order rather than resetting it before the node reads.
static void refuseAsBusy(SOCKET socket, const char *limit)
{
    Frame refusal;
    InitFrame(&refusal, FrameRefused, 0);
    refusal.word = NodeBusy;
    ByteBuffer bytes = {};
    if (AppendFrame(&bytes, &refusal))
        send(socket, (const char *)bytes.bytes + bytes.start, (int)(bytes.length - bytes.start), 0);
    FreeBuffer(&bytes);
    shutdown(socket, SD_SEND);
    char unread[512];
    for (int reads = 0; reads < 8 && recv(socket, unread, sizeof unread, 0) > 0; reads++)
        continue;
    closesocket(socket);
    NoteBusyRefusal(limit);
}

void AcceptSession()
{
    sockaddr_in peer = {};
    int peerSize = sizeof peer;
    SOCKET socket = accept(listenSocket, (sockaddr *)&peer, &peerSize);
    if (socket == INVALID_SOCKET)
        return;
    // A handful from one address wait to greet; the rest are refused before
    // any TLS work, so that one address never holds the others up.
    if (ungreetedFrom(peer.sin_addr.s_addr) >= MaxUngreetedPerAddress) {
        NoteRefusedConnection(peer.sin_addr.s_addr);
        closesocket(socket);
        return;
    }
    char reason[EventLength];
    const char *busy = noPlace(reason);
    if (busy) {
        refuseAsBusy(socket, busy);
        return;
    }
    Session *session = AddSession(socket, true, SessionSecuring);
    if (session)
        session->peerAddress = peer.sin_addr.s_addr;
    if (!session || WSAAsyncSelect(socket, AgentWindowHandle, session->socketMessage,
                                   FD_READ | FD_WRITE | FD_CLOSE) != 0) {
        if (session)
            EndSessionSoon(session, "cannot watch the connection");
        else
            closesocket(socket);
    }
}

// Where `node` listens: the node map of the registry ("host:port"), this
// node itself, or a host of the node's name on the default port. A port
// comes only from the node map. False when the map's entry is not sound;
// otherwise the address (INADDR_NONE when `host` must be looked up first).
static bool findNode(const char *node, sockaddr_in *address, char *host, int hostSize)
{
    ZeroMemory(address, sizeof *address);
    address->sin_family = AF_INET;
    address->sin_port = htons(AgentDefaultPort);
    if (isSameNodeName(node, OwnNodeName)) {
        address->sin_port = htons(OwnPort);
        address->sin_addr.s_addr = OwnAddress != INADDR_ANY ? OwnAddress : htonl(INADDR_LOOPBACK);
        return true;
    }
    NodeMapAddress(node, host, hostSize);
    if (!host[0]) {
        lstrcpynA(host, node, hostSize);
    } else {
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
    }
    address->sin_addr.s_addr = inet_addr(host);
    return true;
}

static void connectSession(Session *session, const sockaddr_in *address)
{
    session->state = SessionConnecting;
    session->peerAddress = address->sin_addr.s_addr;
    if (connect(session->socket, (const sockaddr *)address, sizeof *address) != 0 &&
        WSAGetLastError() != WSAEWOULDBLOCK) {
        LogEvent("refused: node %s cannot be reached", session->node);
        EndSessionSoon(session, "node unreachable");
    }
}

void HostFound(HANDLE handle, LPARAM result)
{
    Lookup *lookup = 0;
    for (int i = 0; i < MaxLookups && !lookup; i++)
        if (lookups[i].handle == handle)
            lookup = &lookups[i];
    if (!lookup)
        return;
    lookup->handle = 0;
    Session *session = SessionOfSerial(lookup->sessionSerial);
    if (!session || session->state != SessionResolving || session->endReason)
        return;
    const hostent *found = (const hostent *)lookup->hostEntry;
    if (WSAGETASYNCERROR(result) || found->h_length != 4 || !found->h_addr_list[0]) {
        LogEvent("refused: node %s is unknown", session->node);
        EndSessionSoon(session, "node unknown");
        return;
    }
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = session->nodePort;
    CopyMemory(&address.sin_addr, found->h_addr_list[0], 4);
    connectSession(session, &address);
}

// Looks the session's host up without holding the window up; the
// greeting's deadline bounds the lookup too. False when it cannot start.
static bool startLookup(Session *session, const char *host)
{
    for (int i = 0; i < MaxLookups; i++)
        if (!lookups[i].handle) {
            lookups[i].sessionSerial = session->serial;
            lookups[i].handle = WSAAsyncGetHostByName(AgentWindowHandle, WM_HOST_FOUND, host,
                                                      lookups[i].hostEntry,
                                                      sizeof lookups[i].hostEntry);
            return lookups[i].handle != 0;
        }
    return false;
}

Session *SessionToNode(const char *node)
{
    for (int i = 0; i < SessionCount(); i++) {
        Session *standing = SessionAt(i);
        if (!standing->incoming && IsStandingSession(standing) &&
            isSameNodeName(standing->node, node))
            return standing;
    }
    sockaddr_in address;
    char host[256];
    if (!IsValidNodeName(node) || !findNode(node, &address, host, sizeof host)) {
        LogEvent("refused: node %s is unknown", node);
        return 0;
    }
    SOCKET socket = CountSessions(false, true) + CountSessions(false, false) <
                            AgentMaxOutgoingSessions
                        ? ::socket(AF_INET, SOCK_STREAM, 0) : INVALID_SOCKET;
    Session *session = socket != INVALID_SOCKET ? AddSession(socket, false, SessionResolving) : 0;
    if (!session) {
        if (socket != INVALID_SOCKET)
            closesocket(socket);
        LogEvent("refused: no room for a session to %s", node);
        return 0;
    }
    CopyNodeName(session->node, node);
    session->nodePort = address.sin_port;
    if (WSAAsyncSelect(socket, AgentWindowHandle, session->socketMessage,
                       FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) != 0) {
        LogEvent("refused: node %s cannot be reached", session->node);
        EndSessionSoon(session, "node unreachable");
    } else if (address.sin_addr.s_addr != INADDR_NONE) {
        connectSession(session, &address);
    } else if (!startLookup(session, host)) {
        LogEvent("refused: node %s cannot be looked up now", session->node);
        EndSessionSoon(session, "no name lookup");
    }
    ShowAgentState();
    return session;
}

void CloseListener()
{
    if (listenSocket != INVALID_SOCKET)
        closesocket(listenSocket);
    listenSocket = INVALID_SOCKET;
}
