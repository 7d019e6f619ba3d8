#include "netddetest.h"
#include "agentlink.h"
#include "nodemap.h"

namespace nt {

bool startNode(pt::RunningAgent &agent)
{
    pt::closeStrayAgent();
    return agent.start(std::string("/node:") + Node + " /bind:127.0.0.1");
}

bool ServedNode::start(std::vector<pt::TestShare> shares, const char *serverOptions)
{
    for (pt::TestShare &share : shares) {
        pt::deleteShare(cleanup(share.name));     // one left by a run that did not finish
        if (pt::addShare(share) != NDDE_NO_ERROR)
            return false;
    }
    return startNode(agent) && (!serverOptions || server.start(Server, Topic, serverOptions));
}

pt::TestShare serverShare(const std::string &name, DWORD permissions, const std::string &password)
{
    pt::TestShare share(name);
    share.app = Server;
    share.topic = Topic;
    share.password1 = password;
    share.permissions1 = permissions;
    return share;
}

std::string shareArguments(const std::string &share, const std::string &arguments)
{
    return std::string("\\\\") + Node + "\\NDDE$ " + share + " " + arguments;
}

dt::CommandRun onShare(const std::string &share, const std::string &arguments)
{
    return dt::runCommand(shareArguments(share, arguments));
}

std::string atomText(ATOM atom)
{
    char name[256] = "";
    GlobalGetAtomNameA(atom, name, sizeof name);
    return name;
}

std::vector<std::string> agentLines(pt::RunningAgent &agent)
{
    return ui::listLines(agent.window(), AgentStateListId);
}

bool agentShows(pt::RunningAgent &agent, const std::string &text, const std::string &alsoText)
{
    return ui::waitUntil([&] {
        for (const std::string &line : agentLines(agent))
            if (line.find(text) != std::string::npos && line.find(alsoText) != std::string::npos)
                return true;
        return false;
    });
}

HWND waitForPasswordDialog(pt::RunningAgent &agent)
{
    DWORD process = 0;
    GetWindowThreadProcessId(agent.window(), &process);
    return ui::waitForDialog(process, PasswordCaption);
}

std::vector<SessionEntry> listedSessions()
{
    std::vector<BYTE> buffer(4096);
    DWORD total = 0, entries = 0;
    if (NDdeSessionEnum(nullptr, 1, buffer.data(), (DWORD)buffer.size(), &total, &entries) !=
        NDDE_NO_ERROR)
        return {};
    const SessionEntry *first = (const SessionEntry *)buffer.data();
    return std::vector<SessionEntry>(first, first + entries);
}

std::vector<std::string> listedConnections(const SessionEntry &session)
{
    std::vector<BYTE> buffer(4096);
    DWORD total = 0, entries = 0;
    std::vector<std::string> lines;
    if (NDdeConnectionEnum(nullptr, (LPSTR)session.clientName, session.sessionId, 1,
                           buffer.data(), (DWORD)buffer.size(), &total, &entries) != NDDE_NO_ERROR)
        return lines;
    const ConnectionEntry *list = (const ConnectionEntry *)buffer.data();
    for (DWORD i = 0; i < entries; i++)
        lines.push_back(std::string(list[i].connectedShare) + " " +
                        std::to_string(list[i].connectionWord1) + " " +
                        std::to_string(list[i].connectionWord2));
    return lines;
}

// ---- Relays on the loopback ----------------------------------------------------

static sockaddr_in loopbackAddress(unsigned short port)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

// A socket listening on 127.0.0.1:`port`, or INVALID_SOCKET.
static SOCKET listenOnLoopback(unsigned short port)
{
    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopbackAddress(port);
    if (listener != INVALID_SOCKET &&
        (bind(listener, (sockaddr *)&address, sizeof address) != 0 || listen(listener, 8) != 0)) {
        closesocket(listener);
        listener = INVALID_SOCKET;
    }
    return listener;
}

// A socket connected to 127.0.0.1:`port`, or INVALID_SOCKET; with
// `receiveBuffer`, the system holds no more than that of what arrives.
static SOCKET connectOnLoopback(unsigned short port, int receiveBuffer = 0)
{
    SOCKET connection = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = loopbackAddress(port);
    if (connection != INVALID_SOCKET && receiveBuffer)
        setsockopt(connection, SOL_SOCKET, SO_RCVBUF, (const char *)&receiveBuffer, sizeof receiveBuffer);
    if (connection != INVALID_SOCKET &&
        connect(connection, (sockaddr *)&address, sizeof address) != 0) {
        closesocket(connection);
        connection = INVALID_SOCKET;
    }
    return connection;
}

// ---- The wire tap -------------------------------------------------------------

const DWORD TapLifetime = 120000;

bool WireTap::start(unsigned short toPort, bool terminate)
{
    agentPort = toPort;
    terminating = terminate;
    port = pt::freePort();
    if (!tp::startWinsock())
        return false;
    listener_ = listenOnLoopback(port);
    if (listener_ == INVALID_SOCKET)
        return false;
    thread_ = CreateThread(nullptr, 0, run, this, 0, nullptr);
    return thread_ != nullptr;
}

bool WireTap::finish()
{
    if (!thread_)
        return false;
    InterlockedExchange(&stopping_, 1);
    bool ended = WaitForSingleObject(thread_, 10000) == WAIT_OBJECT_0;
    CloseHandle(thread_);
    thread_ = nullptr;
    closesocket(listener_);
    listener_ = INVALID_SOCKET;
    return ended;
}

WireTap::~WireTap()
{
    if (thread_)
        finish();
}

DWORD WINAPI WireTap::run(void *context)
{
    WireTap *tap = (WireTap *)context;
    DWORD start = GetTickCount();
    while (!tap->stopping_ && GetTickCount() - start < TapLifetime) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(tap->listener_, &readable);
        timeval wait = {0, 200000};
        if (select(0, &readable, nullptr, nullptr, &wait) != 1)
            continue;
        SOCKET client = accept(tap->listener_, nullptr, nullptr);
        if (client == INVALID_SOCKET)
            continue;
        tap->connections++;
        if (tap->terminating)
            tap->terminate(client);
        else
            tap->pass(client);
        closesocket(client);
    }
    return 0;
}

// Waits up to 200 ms for `from` (and `other`, unless INVALID_SOCKET) to have bytes.
static int waitReadable(SOCKET from, SOCKET other, fd_set *readable)
{
    FD_ZERO(readable);
    FD_SET(from, readable);
    if (other != INVALID_SOCKET)
        FD_SET(other, readable);
    timeval wait = {0, 200000};
    return select(0, readable, nullptr, nullptr, &wait);
}

void WireTap::pass(SOCKET client)
{
    SOCKET agent = connectOnLoopback(agentPort);
    bool open = agent != INVALID_SOCKET;
    DWORD start = GetTickCount();
    while (open && !stopping_ && GetTickCount() - start < TapLifetime) {
        fd_set readable;
        if (waitReadable(client, agent, &readable) <= 0)
            continue;
        for (SOCKET from : {client, agent}) {
            if (!FD_ISSET(from, &readable))
                continue;
            char chunk[65536];
            int count = recv(from, chunk, sizeof chunk, 0);
            open = open && count > 0 && send(from == client ? agent : client, chunk, count, 0) == count;
            if (count > 0)
                (from == client ? toAgent : fromAgent).append(chunk, count);
        }
    }
    closesocket(agent);
}

void WireTap::terminate(SOCKET client)
{
    static NodeIdentity identity;
    const char *failure;
    if (!LoadNodeIdentity(RelayIdentityKey, &identity, &failure))
        return;
    Channel *channel = OpenChannel(true, &identity, nullptr, nullptr);
    bool completed = false;
    DWORD start = GetTickCount();
    while (channel && !stopping_ && GetTickCount() - start < TapLifetime) {
        fd_set readable;
        if (waitReadable(client, INVALID_SOCKET, &readable) > 0) {
            char chunk[16384];
            int count = recv(client, chunk, sizeof chunk, 0);
            if (count <= 0 || !FeedChannel(channel, chunk, count))
                break;
        }
        ChannelState state = AdvanceChannel(channel);
        if (state == ChannelOpen && !completed) {
            completed = true;
            handshakesCompleted++;
        }
        BYTE bytes[16384];
        DWORD count;
        while ((count = ReadChannel(channel, bytes, sizeof bytes)) > 0)
            plaintext.append((const char *)bytes, count);
        const BYTE *output;
        while ((output = ChannelOutput(channel, &count)) != nullptr) {
            int sent = send(client, (const char *)output, (int)count, 0);
            if (sent <= 0)
                break;
            ConsumeChannelOutput(channel, sent);
        }
        if (StateOfChannel(channel) == ChannelFailed || StateOfChannel(channel) == ChannelClosed)
            break;
    }
    CloseChannel(channel);
}

bool isTlsRecords(const std::string &bytes)
{
    size_t at = 0;
    while (at < bytes.size()) {
        if (bytes.size() - at < 5)
            return false;
        BYTE type = (BYTE)bytes[at];
        size_t length = (BYTE)bytes[at + 3] << 8 | (BYTE)bytes[at + 4];
        if (type < 20 || type > 23 || bytes[at + 1] != 3 || (BYTE)bytes[at + 2] > 3 ||
            length > 16384 + 2048 || bytes.size() - at - 5 < length)
            return false;
        at += 5 + length;
    }
    return true;
}

bool mapNode(const char *node, const std::string &where)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, NodeMapKey, 0, nullptr, 0,
                        KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    LONG result = where.empty() ? RegDeleteValueA(key, node)
                                : RegSetValueExA(key, node, 0, REG_SZ, (const BYTE *)where.c_str(),
                                                 (DWORD)where.size() + 1);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

void setGracePeriod(const char *node, int seconds)
{
    std::string nodeKey = std::string("Software\\Tessaseg\\Nodes\\") + node;
    HKEY key;
    if (seconds < 0) {
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, nodeKey.c_str(), 0, KEY_ALL_ACCESS, &key) ==
            ERROR_SUCCESS) {
            RegDeleteValueA(key, "GracePeriod");
            RegCloseKey(key);
        }
        return;
    }
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, nodeKey.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                        nullptr, &key, nullptr) == ERROR_SUCCESS) {
        DWORD value = (DWORD)seconds;
        RegSetValueExA(key, "GracePeriod", 0, REG_DWORD, (const BYTE *)&value, sizeof value);
        RegCloseKey(key);
    }
}

Relay::~Relay()
{
    InterlockedExchange(&stop_, 1);
    if (thread_) {
        // It checks every 50 ms; one held up in a send to a peer that reads
        // nothing must not outlive what it uses.
        if (WaitForSingleObject(thread_, 30000) != WAIT_OBJECT_0)
            TerminateThread(thread_, 1);
        CloseHandle(thread_);
    }
    if (listener_ != INVALID_SOCKET)
        closesocket(listener_);
    if (port_)
        WSACleanup();
}

bool Relay::start(unsigned short agentPort)
{
    WSADATA winsock;
    if (WSAStartup(MAKEWORD(1, 1), &winsock) != 0)
        return false;
    agentPort_ = agentPort;
    port_ = pt::freePort();
    listener_ = listenOnLoopback(port_);
    if (listener_ == INVALID_SOCKET)
        return false;
    thread_ = CreateThread(nullptr, 0, run, this, 0, nullptr);
    return thread_ != NULL;
}

DWORD WINAPI Relay::run(void *context)
{
    ((Relay *)context)->carry();
    return 0;
}

// What the relay's system buffers hold of what the agent sends: little, so
// that a hold soon stalls the agent.
const int HeldBuffer = 16 * 1024;

void Relay::carry()
{
    struct Pair {
        SOCKET from, to;
    };
    std::vector<Pair> pairs;          // both directions of each connection: to the agent, from it
    auto closeAll = [&] {
        for (size_t i = 0; i < pairs.size(); i += 2) {
            closesocket(pairs[i].from);
            closesocket(pairs[i].to);
        }
        pairs.clear();
    };
    while (!stop_) {
        if (InterlockedExchange(&cutWanted_, 0))
            closeAll();
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(listener_, &readable);
        for (size_t i = 0; i < pairs.size(); i++)
            if (i % 2 == 0 || !held_)
                FD_SET(pairs[i].from, &readable);
        timeval wait = {0, 50000};
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0)
            continue;
        if (FD_ISSET(listener_, &readable)) {
            SOCKET client = accept(listener_, nullptr, nullptr);
            SOCKET agent = client != INVALID_SOCKET && !down_ && pairs.size() < 2 * 16
                               ? connectOnLoopback(agentPort_, HeldBuffer)
                               : INVALID_SOCKET;
            if (agent == INVALID_SOCKET) {
                closesocket(client);
            } else {
                pairs.push_back({client, agent});
                pairs.push_back({agent, client});
            }
        }
        for (size_t i = 0; i < pairs.size(); i++) {
            if (!FD_ISSET(pairs[i].from, &readable))
                continue;
            char chunk[65536];
            int count = recv(pairs[i].from, chunk, sizeof chunk, 0);
            if (count > 0 && send(pairs[i].to, chunk, count, 0) == count)
                continue;
            // One side closed: the connection goes, both directions.
            size_t first = i - i % 2;
            closesocket(pairs[first].from);
            closesocket(pairs[first].to);
            pairs.erase(pairs.begin() + first, pairs.begin() + first + 2);
            break;
        }
    }
    closeAll();
}

} // namespace nt
