// Conversations with a DDEML server through the agent: a DDEML client in
// this test talks to netdde_ddemlserver.exe through \\NODEA\NDDE$, several
// transactions on one conversation, as DDEML programs do. That server
// refuses some transactions, answers a registered format, sends Wine's
// stray acknowledgements and ends conversations from its side.
#include "netddetest.h"
#include "agentlink.h"

#include <doctest/doctest.h>
#include <ddeml.h>
#include <functional>

using namespace nt;

namespace {

const char DdemlService[] = "NTDDEML";

HDDEDATA CALLBACK ignoreCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR)
{
    return NULL;
}

// A DDEML client instance of this test.
struct DdemlClient {
    DWORD instance = 0;
    DdemlClient() { DdeInitializeA(&instance, ignoreCallback, APPCMD_CLIENTONLY, 0); }
    ~DdemlClient() { DdeUninitialize(instance); }
};

// One conversation on a share of node NODEA.
struct ShareConversation {
    DWORD instance;
    HCONV conversation = NULL;

    ShareConversation(DdemlClient &client, const char *share, const char *through = nullptr)
        : instance(client.instance)
    {
        std::string application = through ? through : std::string("\\\\") + Node + "\\NDDE$";
        HSZ service = DdeCreateStringHandleA(instance, application.c_str(), CP_WINANSI);
        HSZ topic = DdeCreateStringHandleA(instance, share, CP_WINANSI);
        conversation = DdeConnect(instance, service, topic, NULL);
        DdeFreeStringHandle(instance, service);
        DdeFreeStringHandle(instance, topic);
    }
    ~ShareConversation()
    {
        if (conversation)
            DdeDisconnect(conversation);
    }

    // The answer to a request of `item` in `format`; `answered` false on a refusal.
    std::string request(const char *item, UINT format, bool *answered)
    {
        HSZ name = DdeCreateStringHandleA(instance, item, CP_WINANSI);
        HDDEDATA data = DdeClientTransaction(NULL, 0, conversation, name, format, XTYP_REQUEST,
                                             20000, NULL);
        DdeFreeStringHandle(instance, name);
        *answered = data != NULL;
        if (!data)
            return "";
        std::string bytes(DdeGetData(data, NULL, 0, 0), '\0');
        DdeGetData(data, (LPBYTE)&bytes[0], (DWORD)bytes.size(), 0);
        DdeFreeDataHandle(data);
        return bytes;
    }
    std::string requestText(const char *item)
    {
        bool answered;
        std::string text = request(item, CF_TEXT, &answered);
        return answered ? std::string(text.c_str()) : "(refused)";
    }

    // Whether the server acknowledged a poke or an execute positively.
    bool transact(UINT type, const char *item, const std::string &bytes)
    {
        HSZ name = item ? DdeCreateStringHandleA(instance, item, CP_WINANSI) : NULL;
        DWORD status = 0;
        HDDEDATA result = DdeClientTransaction((LPBYTE)bytes.c_str(), (DWORD)bytes.size() + 1,
                                               conversation, name, CF_TEXT, type, 20000, &status);
        if (name)
            DdeFreeStringHandle(instance, name);
        return result != NULL && (status & DDE_FACK) != 0;
    }
    bool poke(const char *item, const std::string &value) { return transact(XTYP_POKE, item, value); }
    // Starts a hot link (XTYP_ADVSTART) or a warm one (with XTYPF_NODATA), or ends it.
    bool link(const char *item, UINT type) { return linkTransaction(item, type); }
    bool unlink(const char *item) { return linkTransaction(item, XTYP_ADVSTOP); }
    bool linkTransaction(const char *item, UINT type)
    {
        HSZ name = DdeCreateStringHandleA(instance, item, CP_WINANSI);
        DWORD status = 0;
        HDDEDATA result = DdeClientTransaction(NULL, 0, conversation, name, CF_TEXT, type,
                                               20000, &status);
        DdeFreeStringHandle(instance, name);
        return result != NULL;
    }
    bool execute(const std::string &command) { return transact(XTYP_EXECUTE, nullptr, command); }

    bool isConnected()
    {
        CONVINFO info = {};
        info.cb = sizeof info;
        return DdeQueryConvInfo(conversation, QID_SYNC, &info) &&
               (info.wStatus & ST_CONNECTED) != 0;
    }
};

// The DDEML server serving `topics`, logging to `logPath`; closed when destroyed.
struct DdemlServer {
    pt::ChildProcess process;
    bool start(const std::string &topics, const std::string &logPath)
    {
        return process.start("netdde_ddemlserver.exe",
                             std::string(DdemlService) + " " + topics + " /log:" + logPath) &&
               pt::waitUntil([] { return FindWindowA("NetDdeDdemlServer", DdemlService) != nullptr; });
    }
    bool close()
    {
        PostMessageA(FindWindowA("NetDdeDdemlServer", DdemlService), WM_CLOSE, 0, 0);
        DWORD exitCode = 1;
        return process.waitForExit(&exitCode) && exitCode == 0;
    }
};

pt::TestShare ddemlShare(const char *name, const char *topic)
{
    pt::TestShare share = serverShare(name, Request | Poke | Execute | Advise);
    share.app = DdemlService;
    share.topic = topic;
    return share;
}

} // namespace

TEST_CASE("every answer of a DDEML server reaches its own transaction")
{
    std::string logPath = dt::tempPath("netdde-ddeml.log");
    DeleteFileA(logPath.c_str());
    ServedNode node;
    REQUIRE(node.start({ddemlShare("NT_DDEML$", "QUOTES")}, nullptr));
    DdemlServer server;
    REQUIRE(server.start("QUOTES", logPath));
    DdemlClient client;

    ShareConversation conversation(client, "NT_DDEML$");
    REQUIRE(conversation.conversation != NULL);
    CHECK(conversation.requestText("Refused") == "(refused)");
    UINT blobFormat = RegisterClipboardFormatA("TessaDdemlFormat");
    bool answered = false;
    CHECK(conversation.request("Blob", blobFormat, &answered) == "\xB1\xB2");
    CHECK(answered);
    CHECK(conversation.poke("Value", "poked"));
    CHECK(conversation.requestText("Value") == "poked");
    CHECK(!conversation.poke("Refused", "no"));
    CHECK(conversation.requestText("Price") == "1");
    CHECK(conversation.execute("[first]"));
    CHECK(conversation.poke("Value", "again"));
    CHECK(conversation.requestText("Value") == "again");
    CHECK(dt::fileText(logPath) == "poke VALUE=poked\r\nexecute [first]\r\npoke VALUE=again\r\n");
    CHECK(server.close());
    DeleteFileA(logPath.c_str());
}

TEST_CASE("a share's conversations open again after the server or the node ended one")
{
    std::string logPath = dt::tempPath("netdde-ddeml-end.log");
    ServedNode node;
    REQUIRE(node.start({ddemlShare("NT_DDEML$", "QUOTES"), ddemlShare("NT_DDEMLB$", "OTHER")},
                       nullptr));
    DdemlServer server;
    REQUIRE(server.start("QUOTES OTHER", logPath));
    HWND serverWindow = FindWindowA("NetDdeDdemlServer", DdemlService);

    // Ended by the server: once after an execute, once under a link.
    CHECK(onShare("NT_DDEML$", "execute [terminate]").exitCode == 0);
    CHECK(onShare("NT_DDEML$", "request Price").output == "1\r\n");
    dt::RunningCommand linked;
    REQUIRE(linked.start(shareArguments("NT_DDEML$", "advise Price 30")));
    REQUIRE(pt::waitUntil([&] { return linked.process().output().find("1") != std::string::npos; }, 15000));
    PostMessageA(serverWindow, WM_APP + 2, 0, 0);
    CHECK(linked.finish().exitCode == 5);
    for (int round = 0; round < 2; round++) {
        CAPTURE(round);
        CHECK(onShare("NT_DDEML$", "request Price").output == "1\r\n");
        CHECK(onShare("NT_DDEMLB$", "poke Other 2").exitCode == 0);
        CHECK(onShare("NT_DDEMLB$", "request Other").output == "2\r\n");
    }

    // Ended by the serving node: its session closed under a link.
    REQUIRE(linked.start(shareArguments("NT_DDEML$", "advise Price 30")));
    REQUIRE(pt::waitUntil([&] { return linked.process().output().find("1") != std::string::npos; }, 15000));
    std::vector<SessionEntry> sessions;
    REQUIRE(pt::waitUntil([&] { return (sessions = listedSessions()).size() == 1; }));
    REQUIRE(NDdeSessionClose(nullptr, sessions[0].clientName, sessions[0].sessionId) ==
            NDDE_NO_ERROR);
    CHECK(linked.finish().exitCode == 5);
    for (int round = 0; round < 2; round++) {
        CAPTURE(round);
        CHECK(onShare("NT_DDEML$", "request Price").output == "1\r\n");
    }
    CHECK(server.close());
    CHECK(dt::fileText(logPath) == "execute [terminate]\r\npoke OTHER=2\r\npoke OTHER=2\r\n");
    DeleteFileA(logPath.c_str());
}

TEST_CASE("after a run of ordinary use a new conversation on an open share is answered at once")
{
    pt::TestShare items = serverShare("NT_RUNITEMS$", Request | Poke);
    items.firstItem = "Price";
    items.items = {{"Volume", Request}};
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_RUN$", Request | Advise | Poke | Execute),
                        serverShare("NT_RUNNARROW$", Request), items,
                        ddemlShare("NT_RUNDDEML$", "QUOTES")},
                       "/rate:50 /item:Price=1 /item:Volume=2 /item:Other=3"));
    DdemlServer server;
    REQUIRE(server.start("QUOTES", dt::tempPath("netdde-ddeml-run.log")));
    // One DDEML client for the whole run, as a program that uses the node all day.
    DdemlClient client;
    auto answered = [&](const ShareConversation &conversation) {
        if (!conversation.conversation)
            for (const std::string &line : agentLines(node.agent))
                MESSAGE(line);
        return conversation.conversation != NULL;
    };

    // Hot and warm links, then a server that ends its conversation under a link.
    for (UINT type : {(UINT)XTYP_ADVSTART, (UINT)(XTYP_ADVSTART | XTYPF_NODATA)}) {
        ShareConversation linked(client, "NT_RUN$");
        REQUIRE(answered(linked));
        CHECK(linked.link("Counter", type));
        linked.unlink("Counter");
    }
    {
        ShareConversation linked(client, "NT_RUNDDEML$");
        REQUIRE(answered(linked));
        CHECK(linked.link("Price", XTYP_ADVSTART));
        PostMessageA(FindWindowA("NetDdeDdemlServer", DdemlService), WM_APP + 2, 0, 0);

    }
    {
        ShareConversation ended(client, "NT_RUNDDEML$");
        REQUIRE(answered(ended));
        CHECK(ended.execute("[terminate]"));
    }
    // Initiates in either case; transactions the shares refuse, item lists among them.
    for (const char *share : {"nt_runnarrow$", "NT_RUNNARROW$"}) {
        ShareConversation narrow(client, share, "\\\\nodea\\ndde$");
        REQUIRE(answered(narrow));
        CHECK(narrow.requestText("Price") == "1");
        CHECK(!narrow.poke("Price", "5"));
        CHECK(!narrow.execute("[refused]"));
        CHECK(!narrow.link("Price", XTYP_ADVSTART));
    }
    {
        ShareConversation listed(client, "NT_RUNITEMS$");
        REQUIRE(answered(listed));
        CHECK(!listed.poke("Volume", "7"));
        CHECK(listed.requestText("Other") == "(refused)");
        CHECK(listed.requestText("Volume") == "2");
    }
    {
        ShareConversation refused(client, "NT_RUNDDEML$");
        REQUIRE(answered(refused));
        CHECK(!refused.poke("Refused", "no"));
        CHECK(refused.requestText("Price") == "1");
    }

    // At once: a new conversation on a share that answered before.
    ShareConversation conversation(client, "NT_RUN$");
    REQUIRE(answered(conversation));
    CHECK(conversation.requestText("Price") == "1");
    CHECK(server.close());
}
