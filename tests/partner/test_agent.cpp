// Sessions and connections with the real agent nddeagent.exe and real client
// nodes nddeclient.exe, seen through Tessaflat.dll and the real Tessaseg.dll.
#include "partnertest.h"
#include "agentlink.h"
#include <doctest/doctest.h>

#include <algorithm>
#include <cstring>

using namespace pt;

// One NDdeSessionEnum call with a buffer of `size` bytes.
struct SessionList {
    UINT result;
    DWORD total = 0, entries = 0;
    std::vector<SessionEntry> sessions;
};

static SessionList listSessions(DWORD size)
{
    SessionList list;
    std::vector<BYTE> buffer(size + 1);
    list.result = NDdeSessionEnum(nullptr, 1, size ? buffer.data() : nullptr, size, &list.total,
                                  &list.entries);
    if (list.result == NDDE_NO_ERROR)
        list.sessions.assign((SessionEntry *)buffer.data(),
                             (SessionEntry *)buffer.data() + list.entries);
    return list;
}

static SessionList listSessions()
{
    SessionList list = listSessions(0);
    return list.result == NDDE_BUF_TOO_SMALL ? listSessions(list.total) : list;
}

// One NDdeConnectionEnum call with a buffer of `size` bytes.
struct ConnectionList {
    UINT result;
    DWORD total = 0, entries = 0;
    std::vector<std::string> shares;
    std::vector<std::pair<WORD, WORD>> words;
};

static ConnectionList listConnections(const char *client, DWORD sessionId, DWORD size)
{
    ConnectionList list;
    std::vector<BYTE> buffer(size + 1);
    list.result = NDdeConnectionEnum(nullptr, (LPSTR)client, sessionId, 1,
                                     size ? buffer.data() : nullptr, size, &list.total,
                                     &list.entries);
    if (list.result != NDDE_NO_ERROR)
        return list;
    const ConnectionEntry *entries = (const ConnectionEntry *)buffer.data();
    for (DWORD i = 0; i < list.entries; i++) {
        list.shares.push_back(entries[i].connectedShare);
        list.words.push_back({entries[i].connectionWord1, entries[i].connectionWord2});
    }
    return list;
}

static UINT closeSession(const char *client, DWORD sessionId)
{
    return NDdeSessionClose(nullptr, (LPSTR)client, sessionId);
}

TEST_CASE("without an agent the session functions answer code 18")
{
    closeStrayAgent();
    CHECK(listSessions(100).result == NDDE_NOT_RUNNING);
    CHECK(listConnections("NODE", 1, 100).result == NDDE_NOT_RUNNING);
    CHECK(closeSession("NODE", 1) == NDDE_NOT_RUNNING);
    CHECK(NDdeGetWindow() == nullptr);

    ChildProcess client;
    unsigned short port = freePort();
    REQUIRE(client.start("nddeclient.exe", "/port:" + std::to_string(port) + " NODE"));
    DWORD exitCode = 0;
    REQUIRE(client.waitForExit(&exitCode));
    CHECK(exitCode == 1);
    CHECK(client.outputLines().at(0) ==
          "cannot reach the Network DDE agent on port " + std::to_string(port));
}

TEST_CASE("the agent's window is the one NDdeGetWindow gives, and only one agent runs")
{
    closeStrayAgent();
    RunningAgent agent;
    REQUIRE(agent.start());
    HWND window = NDdeGetWindow();
    REQUIRE(window != nullptr);
    CHECK(IsWindow(window));
    CHECK(HIWORD((UINT_PTR)window) == 0);
    CHECK(window == (HWND)(UINT_PTR)LOWORD((UINT_PTR)agent.window()));
    char text[256];
    GetClassNameA(window, text, sizeof text);
    CHECK(std::string(text) == "NDdeAgent");
    GetWindowTextA(window, text, sizeof text);
    CHECK(std::string(text) == "Network DDE Agent");
    LONG style = GetWindowLongA(window, GWL_STYLE);
    CHECK((style & WS_CAPTION) == WS_CAPTION);
    CHECK(GetParent(window) == nullptr);
    char client[16], task[256];
    REQUIRE(NDdeGetClientInfo(window, client, 16, task, 256) == NDDE_NO_ERROR);
    CHECK(std::string(task) == "NDDEAGENT");

    ChildProcess second;
    REQUIRE(second.start("nddeagent.exe", ""));
    DWORD exitCode = 0;
    REQUIRE(second.waitForExit(&exitCode));
    CHECK(exitCode == 1);
    CHECK(IsWindow(window));

    CHECK(agent.stop());
    CHECK(NDdeGetWindow() == nullptr);
}

// One agent and its clients, followed from their first connections to the
// agent's end, step by step.
TEST_CASE("client nodes hold sessions and connections that the library lists")
{
    closeStrayAgent();
    ShareCleanup cleanup;
    TestShare open(cleanup("PT_OPEN$")), locked(cleanup("PT_LOCKED$"));
    open.permissions1 = Request | Advise;
    open.permissions2 = Poke;
    locked.password1 = "ALPHA";
    locked.permissions1 = Request | Advise | Poke | Execute | StartApp;
    locked.password2 = "BETA";
    locked.permissions2 = Request;
    REQUIRE(addShare(open) == NDDE_NO_ERROR);
    REQUIRE(addShare(locked) == NDDE_NO_ERROR);

    RunningAgent agent;
    REQUIRE(agent.start("/firstsession:FFFFFFFE"));
    ChildProcess nodeA, nodeB, nodeC;
    REQUIRE(agent.startClient(nodeA,
                              "NODEA PT_OPEN$ pt_locked$:beta PT_MISSING$ PT_LOCKED$:wrong A$B"));
    REQUIRE(nodeA.waitForLine("ready"));
    REQUIRE(agent.startClient(nodeB, "nodeb PT_LOCKED$:ALPHA"));
    REQUIRE(nodeB.waitForLine("ready"));

    // What each client was granted or refused, in its own words.
    std::vector<std::string> expectedA = {
        "session FFFFFFFE opened as NODEA",
        "granted PT_OPEN$ by password #1 with permissions 0x0003",
        "granted pt_locked$ by password #2 with permissions 0x0001",
        "refused PT_MISSING$ with code 16",
        "refused PT_LOCKED$ with code 1",
        "refused A$B with code 5",
        "ready",
    };
    CHECK(nodeA.outputLines() == expectedA);
    CHECK(nodeB.outputLines().at(1) == "granted PT_LOCKED$ by password #1 with permissions 0x001F");

    // Sessions: client names, ids with the top bit set, connection counts.
    SessionList list = listSessions();
    REQUIRE(list.result == NDDE_NO_ERROR);
    REQUIRE(list.entries == 2);
    CHECK(std::string(list.sessions[0].clientName) == "NODEA");
    CHECK(list.sessions[0].sessionId == 0xFFFFFFFE);
    CHECK(list.sessions[0].sessionWord == 2);
    CHECK(std::string(list.sessions[1].clientName) == "NODEB");
    CHECK(list.sessions[1].sessionId == 0xFFFFFFFF);
    CHECK(list.sessions[1].sessionWord == 1);

    // Code 2 gives the entry count and byte total of the session list.
    SessionList none = listSessions(0);
    CHECK(none.result == NDDE_BUF_TOO_SMALL);
    CHECK(none.entries == 2);
    CHECK(none.total == 48);
    SessionList short1 = listSessions(47);
    CHECK(short1.result == NDDE_BUF_TOO_SMALL);
    CHECK(short1.total == 48);
    CHECK(listSessions(48).result == NDDE_NO_ERROR);

    // Connections by share name, with the password and permissions granted.
    ConnectionList connections = listConnections("NODEA", 0xFFFFFFFE, 100);
    REQUIRE(connections.result == NDDE_NO_ERROR);
    CHECK(connections.shares == std::vector<std::string>{"PT_OPEN$", "PT_LOCKED$"});
    CHECK(connections.words[0] == std::make_pair<WORD, WORD>(1, Request | Advise));
    CHECK(connections.words[1] == std::make_pair<WORD, WORD>(2, Request));
    CHECK(listConnections("nodea", 0xFFFFFFFE, 100).entries == 2);

    // Code 2: two entries, then "PT_OPEN$" and "PT_LOCKED$" behind them.
    ConnectionList noConnections = listConnections("NODEA", 0xFFFFFFFE, 0);
    CHECK(noConnections.result == NDDE_BUF_TOO_SMALL);
    CHECK(noConnections.entries == 2);
    CHECK(noConnections.total == 16 + 9 + 11);
    CHECK(listConnections("NODEA", 0xFFFFFFFE, 35).result == NDDE_BUF_TOO_SMALL);
    CHECK(listConnections("NODEA", 0xFFFFFFFE, 36).result == NDDE_NO_ERROR);

    // A session is named by its client and its id together.
    CHECK(listConnections("NODEB", 0xFFFFFFFE, 100).result == NDDE_INVALID_SESSION);
    CHECK(listConnections("NODEA", 0x7FFFFFFE, 100).result == NDDE_INVALID_SESSION);
    CHECK(listConnections(nullptr, 0xFFFFFFFE, 100).result == NDDE_INVALID_SESSION);
    CHECK(listConnections(std::string(40, 'N').c_str(), 0xFFFFFFFE, 100).result ==
          NDDE_INVALID_SESSION);
    CHECK(closeSession("NODEB", 0xFFFFFFFE) == NDDE_INVALID_SESSION);
    CHECK(closeSession("NODEA", 0) == NDDE_INVALID_SESSION);
    CHECK(listSessions().entries == 2);

    // The id after the last of the range is 1: 0 is no id.
    REQUIRE(agent.startClient(nodeC, "NODEC"));
    REQUIRE(nodeC.waitForLine("ready"));
    CHECK(nodeC.outputLines().at(0) == "session 00000001 opened as NODEC");
    CHECK(listSessions().entries == 3);

    // A client that leaves ends its session.
    nodeC.terminate();
    CHECK(waitUntil([] { return listSessions().entries == 2; }));

    // A closed session disconnects its client, and only that one.
    REQUIRE(closeSession("NODEA", 0xFFFFFFFE) == NDDE_NO_ERROR);
    DWORD exitCode = 1;
    REQUIRE(nodeA.waitForExit(&exitCode));
    CHECK(exitCode == 0);
    CHECK(nodeA.outputLines().back() == "session closed");
    list = listSessions();
    REQUIRE(list.entries == 1);
    CHECK(std::string(list.sessions[0].clientName) == "NODEB");
    CHECK(closeSession("NODEA", 0xFFFFFFFE) == NDDE_INVALID_SESSION);
    CHECK(nodeB.isRunning());

    // An agent that is gone answers code 18; its clients see their sessions end.
    agent.process().terminate();
    CHECK(listSessions(100).result == NDDE_NOT_RUNNING);
    CHECK(NDdeGetWindow() == nullptr);
    exitCode = 1;
    REQUIRE(nodeB.waitForExit(&exitCode));
    CHECK(exitCode == 0);
    CHECK(nodeB.outputLines().back() == "session closed");
}

TEST_CASE("the agent refuses a client node without a proper name")
{
    closeStrayAgent();
    RunningAgent agent;
    REQUIRE(agent.start());
    ChildProcess client;
    REQUIRE(agent.startClient(client, "\"TWO WORDS\""));
    DWORD exitCode = 0;
    REQUIRE(client.waitForExit(&exitCode));
    CHECK(exitCode == 1);
    CHECK(client.outputLines().at(0) == "session refused with code 6");
    CHECK(listSessions(100).entries == 0);
}

TEST_CASE("an agent that hangs answers code 18 in bounded time")
{
    closeStrayAgent();
    RunningAgent agent;
    REQUIRE(agent.start());
    REQUIRE(listSessions(100).result == NDDE_NO_ERROR);

    REQUIRE(SuspendThread(agent.process().mainThread()) != (DWORD)-1);
    DWORD start = GetTickCount();
    CHECK(listSessions(100).result == NDDE_NOT_RUNNING);
    CHECK(closeSession("NODE", 1) == NDDE_NOT_RUNNING);
    CHECK(GetTickCount() - start < 2 * AgentReplyTimeout + 5000);

    ResumeThread(agent.process().mainThread());
    CHECK(waitUntil([] { return listSessions(100).result == NDDE_NO_ERROR; }));
}

TEST_CASE("the agent listens on the port its command line names")
{
    closeStrayAgent();
    RunningAgent agent;
    REQUIRE(agent.start());
    ChildProcess elsewhere, here;
    REQUIRE(elsewhere.start("nddeclient.exe", "/port:" + std::to_string(freePort()) + " NODE"));
    REQUIRE(agent.startClient(here, "NODE"));
    DWORD exitCode = 0;
    REQUIRE(elsewhere.waitForExit(&exitCode));
    CHECK(exitCode == 1);
    REQUIRE(here.waitForLine("ready"));
    CHECK(listSessions(100).entries == 1);
}

// ---- An agent that answers nonsense ----------------------------------------
// A window of the agent's class in this test program, answering each request
// as the current script says.
struct AgentScript {
    std::vector<BYTE> reply;
    bool sendsReply = true;
    LRESULT result = NDDE_NO_ERROR;
};
static AgentScript script;

static LRESULT CALLBACK scriptedAgentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != WM_COPYDATA)
        return DefWindowProcA(window, message, wParam, lParam);
    if (script.sendsReply) {
        COPYDATASTRUCT reply = {AgentReply, (DWORD)script.reply.size(), script.reply.data()};
        SendMessageA((HWND)wParam, WM_COPYDATA, (WPARAM)window, (LPARAM)&reply);
    }
    return script.result;
}

TEST_CASE("an agent's malformed answer is an internal error and never trusted")
{
    closeStrayAgent();
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = scriptedAgentProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = AgentWindowClass;
    REQUIRE(RegisterClassA(&windowClass));
    HWND fake = CreateWindowA(AgentWindowClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    REQUIRE(fake);

    AgentSession session = {"NODE", 0, 7};
    script.reply.assign((BYTE *)&session, (BYTE *)(&session + 1));
    script.result = NDDE_NO_ERROR;
    SessionList list = listSessions(100);
    REQUIRE(list.result == NDDE_NO_ERROR);    // a sound answer goes through
    CHECK(list.entries == 1);

    SUBCASE("a part of an entry") {
        script.reply.pop_back();
    }
    SUBCASE("a client name without its end") {
        memset(script.reply.data(), 'N', ClientNameSize);
    }
    SUBCASE("more entries than there can be") {
        script.reply.resize(sizeof(AgentSession) * (AgentMaxSessions + 1));
    }
    SUBCASE("no list before the result") {
        script.sendsReply = false;
    }
    SUBCASE("a result beyond 16 bits") {
        script.result = 0x10000;
    }
    std::vector<BYTE> buffer(1000, 0xAA);
    DWORD total = 0xAAAAAAAA, entries = 0xAAAAAAAA;
    CHECK(NDdeSessionEnum(nullptr, 1, buffer.data(), buffer.size(), &total, &entries) ==
          NDDE_INTERNAL_ERROR);
    CHECK(total == 0xAAAAAAAA);
    CHECK(entries == 0xAAAAAAAA);
    CHECK(std::all_of(buffer.begin(), buffer.end(), [](BYTE b) { return b == 0xAA; }));

    script = AgentScript();
    DestroyWindow(fake);
    UnregisterClassA(AgentWindowClass, GetModuleHandleA(nullptr));
}
