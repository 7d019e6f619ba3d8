// The serving node's sessions and connections are the conversations the
// agent carries; Close ends them. Faults of other connections (malformed
// frames, silent connections) never disturb them.
#include "netddetest.h"
#include "agentlink.h"
#include "netdde_wire.h"

#include <doctest/doctest.h>
#include <algorithm>
#include <winsock.h>
#include <ddeml.h>

using namespace nt;

namespace {

// A connection to the agent from `from` (an address of 127.0.0.0/8).
SOCKET connectTo(unsigned short port, const char *from = "127.0.0.1")
{
    SOCKET connection = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in local = {};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = inet_addr(from);
    if (bind(connection, (sockaddr *)&local, sizeof local) != 0) {
        closesocket(connection);
        return INVALID_SOCKET;
    }
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(connection, (sockaddr *)&address, sizeof address) != 0) {
        closesocket(connection);
        return INVALID_SOCKET;
    }
    return connection;
}

bool sendBytes(SOCKET connection, const std::string &bytes)
{
    return send(connection, bytes.data(), (int)bytes.size(), 0) == (int)bytes.size();
}

using tp::frameBytes;

std::string helloFrom(const char *node)
{
    Frame hello;
    InitFrame(&hello, FrameHello, 0);
    lstrcpyA(hello.name, node);
    return frameBytes(hello);
}

// Whether the agent closes the connection within `timeout` ms (what it sends
// before is read and dropped).
bool closedByAgent(SOCKET connection, DWORD timeout)
{
    DWORD start = GetTickCount();
    while (GetTickCount() - start < timeout) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(connection, &readable);
        timeval wait = {0, 200000};
        if (select(0, &readable, nullptr, nullptr, &wait) <= 0)
            continue;
        char ignored[4096];
        if (recv(connection, ignored, sizeof ignored, 0) <= 0)
            return true;
    }
    return false;
}

HDDEDATA CALLBACK ignoreDdeCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR)
{
    return nullptr;
}

// A request in CF_TEXT on a DDEML conversation: the text, empty when refused.
std::string ddeRequest(DWORD instance, HCONV conversation, const char *item)
{
    HSZ name = DdeCreateStringHandleA(instance, item, CP_WINANSI);
    HDDEDATA data = DdeClientTransaction(nullptr, 0, conversation, name, CF_TEXT, XTYP_REQUEST,
                                         5000, nullptr);
    DdeFreeStringHandle(instance, name);
    std::string text;
    if (data) {
        DWORD size = 0;
        const char *bytes = (const char *)DdeAccessData(data, &size);
        if (bytes)
            text.assign(bytes, std::find(bytes, bytes + size, 0));
        DdeUnaccessData(data);
        DdeFreeDataHandle(data);
    }
    return text;
}

struct Winsock {
    Winsock()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(1, 1), &data);
    }
    ~Winsock() { WSACleanup(); }
};

} // namespace

TEST_CASE("the serving node lists the client node's session and shares; Close ends them")
{
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_FIRST$", Request | Advise),
                        serverShare("NT_SECOND$", Request | Advise | Poke)},
                       "/rate:20 /item:Price=3"));
    pt::RunningAgent &agent = node.agent;
    CHECK(listedSessions().empty());

    dt::RunningCommand watchFirst, watchSecond;
    REQUIRE(watchFirst.start(shareArguments("NT_FIRST$", "advise Counter 30")));
    REQUIRE(watchSecond.start(shareArguments("NT_SECOND$", "advise Counter 30")));
    REQUIRE(pt::waitUntil([&] {
        return !dt::updateValues(watchFirst.process().output()).empty() &&
               !dt::updateValues(watchSecond.process().output()).empty();
    }, 2 * pt::ProcessTimeout));

    std::vector<SessionEntry> sessions = listedSessions();
    REQUIRE(sessions.size() == 1);
    CHECK(std::string(sessions[0].clientName) == "NODEA");
    CHECK(sessions[0].sessionId == AgentDefaultFirstSession);
    CHECK(sessions[0].sessionWord == 2);
    std::vector<std::string> connections = listedConnections(sessions[0]);
    std::sort(connections.begin(), connections.end());
    CHECK(connections == std::vector<std::string>{"NT_FIRST$ 1 3", "NT_SECOND$ 1 7"});
    CHECK(agentShows(agent, "from NODEA    session 80000001    2 conversation(s)"));

    DWORD start = GetTickCount();
    REQUIRE(NDdeSessionClose(nullptr, sessions[0].clientName, sessions[0].sessionId) ==
            NDDE_NO_ERROR);
    CHECK(watchFirst.finish().exitCode == 5);
    CHECK(watchSecond.finish().exitCode == 5);
    CHECK(GetTickCount() - start < 15000);
    CHECK(agentShows(agent, "closed on this node"));

    // A new conversation opens a new session.
    CHECK(onShare("NT_FIRST$", "request Price").output == "3\r\n");
    sessions = listedSessions();
    REQUIRE(sessions.size() == 1);
    CHECK(sessions[0].sessionId == AgentDefaultFirstSession + 1);
    CHECK(node.server.close());
}

TEST_CASE("malformed frames and silent connections never disturb other sessions")
{
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_STEADY$", Request | Advise)}, "/rate:50 /item:Price=4"));
    pt::RunningAgent &agent = node.agent;
    Winsock winsock;

    // A link that stands before the faults begin and outlasts them.
    dt::RunningCommand watching;
    REQUIRE(watching.start(shareArguments("NT_STEADY$", "advise Counter 60")));
    auto linkValues = [&] { return dt::updateValues(watching.process().output()); };
    INFO("the link's client wrote: " << watching.process().output());
    REQUIRE(pt::waitUntil([&] { return !linkValues().empty(); }));

    // Silent connections from one address, far more than may wait to greet:
    // a handful wait to greet, the rest are closed at once.
    std::vector<SOCKET> silent;
    for (int i = 0; i < 200; i++) {
        SOCKET connection = connectTo(agent.port(), "127.0.0.2");
        if (connection != INVALID_SOCKET)
            silent.push_back(connection);
    }
    CHECK(silent.size() > (size_t)AgentMaxUngreetedPerAddress);
    CHECK(closedByAgent(silent.back(), 5000));

    // Each malformed frame ends its own session only.
    Frame unknown;
    InitFrame(&unknown, FramePing, 0);
    std::string unknownKind = frameBytes(unknown);
    unknownKind[1] = (char)FrameKindCount;
    std::string tooLong = frameBytes(unknown);
    tooLong[1] = FramePoke;
    tooLong[4] = 1;                                 // conversation 1
    tooLong[8] = CF_TEXT;
    tooLong[11] = 1;                                // a one-byte item
    tooLong[15] = 0x02;                             // 32 MB of data
    std::vector<std::string> faults = {
        std::string(16, '\xFF'),                   // not a frame at all
        helloFrom("EVIL") + unknownKind,
        helloFrom("EVIL") + tooLong,
        helloFrom("EVIL") + helloFrom("EVIL"),     // a second greeting
    };
    for (const std::string &fault : faults) {
        tp::TlsPeer peer;
        REQUIRE(peer.connect(agent.port()));
        CHECK(peer.sendBytes(fault));
        Frame frame;
        DWORD start = GetTickCount();
        while (!peer.closedByAgent() && GetTickCount() - start < 5000)
            peer.readFrame(&frame, 500);
        CHECK(peer.closedByAgent());
    }
    CHECK(agentShows(agent, "malformed frame"));
    // Bytes that are neither TLS nor a frame of protocol 1 end their connection too.
    SOCKET connection = connectTo(agent.port());
    REQUIRE(connection != INVALID_SOCKET);
    CHECK(sendBytes(connection, faults[0]));
    CHECK(closedByAgent(connection, 5000));
    closesocket(connection);

    // A new client is served at once, and the link goes on with every
    // update in order.
    CHECK(onShare("NT_STEADY$", "request Price").output == "4\r\n");
    size_t beforeFaultsEnded = linkValues().size();
    CHECK(pt::waitUntil([&] { return linkValues().size() >= beforeFaultsEnded + 20; }));
    std::vector<std::string> values = linkValues();
    bool everyUpdate = true;
    for (size_t i = 1; i < values.size(); i++)
        everyUpdate = everyUpdate && strtoul(values[i].c_str(), 0, 10) == strtoul(values[i - 1].c_str(), 0, 10) + 1;
    CHECK(everyUpdate);

    // Silent connections end once their greeting is 10 s late.
    CHECK(closedByAgent(silent.front(), 15000));
    for (SOCKET connection : silent)
        closesocket(connection);
    CHECK(node.server.close());
}

TEST_CASE("a hung DDE server holds up only its own conversations")
{
    ServedNode node;
    pt::TestShare other = serverShare("NT_OTHER$", Request | Advise);
    other.app = "NTSRV2";
    REQUIRE(node.start({serverShare("NT_HUNG$", Request | Execute), other}, "/rate:0 /item:Price=5"));
    dt::RunningServer second;
    REQUIRE(second.start("NTSRV2", Topic, "/rate:20"));
    dt::RunningCommand watching;
    REQUIRE(watching.start(shareArguments("NT_OTHER$", "advise Counter 120")));
    auto linkValues = [&] { return dt::updateValues(watching.process().output()).size(); };
    REQUIRE(pt::waitUntil([&] { return linkValues() > 0; }));

    // The first server sleeps for 8 s inside an execute: its client gives up
    // after 2 s, while the agent answers and the other server's link goes on.
    dt::RunningCommand hanging;
    REQUIRE(hanging.start(shareArguments("NT_HUNG$", "execute [sleep:8000] /timeout:2000")));
    CHECK(hanging.finish().exitCode == 4);
    CHECK(listedSessions().size() == 1);
    size_t before = linkValues();
    CHECK(pt::waitUntil([&] { return linkValues() >= before + 20; }, 6000));
    // Awake again, the server serves new conversations.
    CHECK(pt::waitUntil([] { return onShare("NT_HUNG$", "request Price").output == "5\r\n"; }, 20000));

    // A client that waits longer than the agent does gets a busy answer once
    // the server has left its execute unanswered for 10 s and then taken no
    // message for 5 s. (How long the client's DDEML then takes to end its
    // side is not the agent's doing.)
    DWORD start = GetTickCount();
    dt::RunningCommand patient;
    REQUIRE(patient.start(shareArguments("NT_HUNG$", "execute [sleep:25000] /timeout:40000")));
    CHECK(agentShows(node.agent, "no answer in 15 s and takes no messages"));
    CHECK(GetTickCount() - start >= 14000);
    // Refused by the agent, not timed out by the client itself.
    dt::CommandRun answered = patient.finish();
    CHECK(answered.exitCode == 3);
    CHECK(answered.output.find("refused") != std::string::npos);
    CHECK(pt::waitUntil([] { return onShare("NT_HUNG$", "request Price").output == "5\r\n"; }, 20000));
    CHECK(second.close());
    CHECK(node.server.close());
}

TEST_CASE("a transaction that cannot travel fails alone; the node's other conversations go on")
{
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_RULES$", Request | Advise)}, "/rate:20 /item:Price=4"));
    dt::RunningCommand watching;
    REQUIRE(watching.start(shareArguments("NT_RULES$", "advise Counter 120")));
    REQUIRE(pt::waitUntil([&] { return !dt::updateValues(watching.process().output()).empty(); }));

    // A conversation of this test's own, standing: then a request for an
    // item with a tab, which breaks a rule of the frames. That request
    // fails; the session that carries the link stands.
    DWORD instance = 0;
    REQUIRE(DdeInitializeA(&instance, ignoreDdeCallback, APPCMD_CLIENTONLY, 0) == DMLERR_NO_ERROR);
    HSZ service = DdeCreateStringHandleA(instance, "\\\\NODEA\\NDDE$", CP_WINANSI);
    HSZ topic = DdeCreateStringHandleA(instance, "NT_RULES$", CP_WINANSI);
    HCONV conversation = DdeConnect(instance, service, topic, nullptr);
    REQUIRE(conversation);
    CHECK(ddeRequest(instance, conversation, "Price") == "4");
    CHECK(ddeRequest(instance, conversation, "Pr\tice").empty());
    DdeDisconnect(conversation);
    DdeFreeStringHandle(instance, service);
    DdeFreeStringHandle(instance, topic);
    DdeUninitialize(instance);
    CHECK(onShare("NT_RULES$", "request Price").output == "4\r\n");
    size_t before = dt::updateValues(watching.process().output()).size();
    CHECK(pt::waitUntil([&] { return dt::updateValues(watching.process().output()).size() >= before + 20; }));
    CHECK(watching.process().isRunning());
    CHECK(node.server.close());
}

TEST_CASE("a DDE client cannot make the agent connect to a host and port of its choosing")
{
    Winsock winsock;
    SOCKET listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    REQUIRE(bind(listener, (sockaddr *)&address, sizeof address) == 0);
    REQUIRE(listen(listener, 5) == 0);
    REQUIRE(getsockname(listener, (sockaddr *)&address, &size) == 0);

    pt::RunningAgent agent;
    REQUIRE(startNode(agent));
    std::string node = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    CHECK(dt::runCommand("\\\\" + node + "\\NDDE$ NT_ANY$ request Price /timeout:3000").exitCode != 0);
    // The client has given up: a connection the agent made would be waiting by now.
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(listener, &readable);
    timeval wait = {2, 0};
    CHECK(select(0, &readable, nullptr, nullptr, &wait) == 0);
    closesocket(listener);
}

namespace {

// Opens a session from `from` as node `node`: true once welcomed within
// `timeout` ms.
bool opensSession(unsigned short port, const char *from, const char *node, DWORD timeout = 10000)
{
    tp::TlsPeer peer;
    Frame answer;
    return peer.connect(port, from) && peer.secure(timeout) && peer.sendBytes(helloFrom(node)) &&
           peer.readFrame(&answer, timeout) && answer.kind == FrameWelcome;
}

// Opens `count` connections from `from` at once, each sending `bytes` as
// soon as it is made and closing at once; those not made within `wait` ms
// are given up. The number that sent their bytes.
int replayOnce(unsigned short port, const char *from, const std::string &bytes, int count, DWORD wait)
{
    std::vector<SOCKET> pending;
    for (int i = 0; i < count; i++) {
        SOCKET connection = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in local = {}, agent = {};
        local.sin_family = agent.sin_family = AF_INET;
        local.sin_addr.s_addr = inet_addr(from);
        agent.sin_port = htons(port);
        agent.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        u_long nonBlocking = 1;
        if (bind(connection, (sockaddr *)&local, sizeof local) != 0 ||
            ioctlsocket(connection, FIONBIO, &nonBlocking) != 0 ||
            (connect(connection, (sockaddr *)&agent, sizeof agent) != 0 &&
             WSAGetLastError() != WSAEWOULDBLOCK)) {
            closesocket(connection);
            continue;
        }
        pending.push_back(connection);
    }
    int sent = 0;
    DWORD start = GetTickCount();
    while (!pending.empty() && GetTickCount() - start < wait) {
        fd_set writable;
        FD_ZERO(&writable);
        for (size_t i = 0; i < pending.size() && i < FD_SETSIZE; i++)
            FD_SET(pending[i], &writable);
        timeval step = {0, 100000};
        if (select(0, nullptr, &writable, nullptr, &step) <= 0)
            continue;
        for (size_t i = pending.size(); i-- > 0;)
            if (FD_ISSET(pending[i], &writable)) {
                sent += send(pending[i], bytes.data(), (int)bytes.size(), 0) == (int)bytes.size();
                closesocket(pending[i]);
                pending.erase(pending.begin() + i);
            }
    }
    for (SOCKET connection : pending)
        closesocket(connection);
    return sent;
}

} // namespace

TEST_CASE("a burst of replayed handshakes from one address holds up neither other addresses nor that one for long")
{
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_BURST$", Request)}, nullptr));
    unsigned short port = node.agent.port();
    Winsock winsock;
    std::string firstBytes = tp::clientFirstBytes();
    REQUIRE(!firstBytes.empty());

    // Rounds of connections from 127.0.0.2 that each replay a client's first
    // bytes and leave; between them, nodes at other addresses open sessions.
    const int rounds = 8, perRound = 30;
    int replayed = 0, opened = 0;
    for (int round = 0; round < rounds; round++) {
        replayed += replayOnce(port, "127.0.0.2", firstBytes, perRound, 2000);
        std::string from = "127.0.0." + std::to_string(10 + round);
        opened += opensSession(port, from.c_str(), "BYSTANDER");
    }
    DWORD burstEnded = GetTickCount();
    CHECK(replayed > rounds * AgentMaxUngreetedPerAddress);
    CHECK(opened == rounds);

    // A node at the burst's address opens its session within a few seconds
    // of the burst's end (refused while the burst's connections still wait
    // to be seen closed, it tries again).
    bool openedAfter = false;
    while (!openedAfter && GetTickCount() - burstEnded < 5000)
        openedAfter = opensSession(port, "127.0.0.2", "LATECOMER", 5000 - (GetTickCount() - burstEnded));
    CHECK(openedAfter);
    CHECK(GetTickCount() - burstEnded < 5000);
    CHECK(agentShows(node.agent, "refused: connections from 127.0.0.2: more than 4 wait to greet"));
    CHECK(node.server.close());
}
