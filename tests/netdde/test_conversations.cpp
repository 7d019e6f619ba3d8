// DDE conversations carried by the agent: an unchanged DDE client (ddecmd)
// talks to a DDE server (ddeserver) through \\NODEA\NDDE$ and a share, and
// everything it does reaches the server and comes back as with a local one.
#include "netddetest.h"

#include <doctest/doctest.h>

using namespace nt;
using dt::CommandRun;

TEST_CASE("request, poke and execute reach the share's server and come back")
{
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_PRICES$", Request | Advise | Poke | Execute)},
                       "/rate:0 /item:Price=41.50"));
    pt::RunningAgent &agent = node.agent;

    CommandRun price = onShare("NT_PRICES$", "request Price");
    CHECK(price.exitCode == 0);
    CHECK(price.output == "41.50\r\n");
    CHECK(onShare("nt_prices$", "poke Price 42.00").exitCode == 0);
    CHECK(onShare("NT_PRICES$", "request price").output == "42.00\r\n");
    CHECK(onShare("NT_PRICES$", "request Missing").exitCode == 3);
    CHECK(onShare("NT_PRICES$", "execute \"[buy(10)]\"").exitCode == 0);
    CHECK(onShare("NT_PRICES$", "execute [fail]").exitCode == 3);
    CHECK(onShare("NT_PRICES$", "request Executed").output == "[buy(10)]\r\n[fail]\r\n");

    // The server ends a conversation: the next one opens as before.
    CHECK(onShare("NT_PRICES$", "execute [terminate]").exitCode == 0);
    CHECK(onShare("NT_PRICES$", "request Price").output == "42.00\r\n");

    // The agent's window names the node, its port and what it did.
    std::vector<std::string> lines = agentLines(agent);
    REQUIRE(!lines.empty());
    CHECK(lines[0].find("Node NODEA") != std::string::npos);
    CHECK(lines[0].find("port " + std::to_string(agent.port())) != std::string::npos);
    CHECK(agentShows(agent, "NODEA opened share NT_PRICES$ with access #1"));
    CHECK(node.server.close());
}

TEST_CASE("a registered clipboard format and a 4 MB item travel unchanged")
{
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_DATA$", Request | Poke)}, "/rate:0"));

    CHECK(onShare("NT_DATA$", "poke Blob AB+ TessaNetFormat").exitCode == 0);
    CHECK(onShare("NT_DATA$", "request Blob TessaNetFormat").output == "41 42 2B\r\n");
    CHECK(onShare("NT_DATA$", "request Blob").exitCode == 3);    // stored in the other format

    std::string big(4 * 1024 * 1024, '\0');
    for (size_t i = 0; i < big.size(); i++)
        big[i] = (char)(i * 7 + i / 4096);
    std::string pokedPath = dt::tempPath("netdde-poked.bin"), readPath = dt::tempPath("netdde-read.bin");
    REQUIRE(dt::writeText(pokedPath, big));
    CHECK(onShare("NT_DATA$", "poke Big @" + pokedPath + " TessaNetBinary /timeout:30000").exitCode == 0);
    CHECK(onShare("NT_DATA$", "request Big TessaNetBinary /timeout:30000 /out:" + readPath).exitCode == 0);
    CHECK(dt::fileText(readPath) == big);
    DeleteFileA(pokedPath.c_str());
    DeleteFileA(readPath.c_str());
    CHECK(node.server.close());
}

TEST_CASE("hot and warm links deliver every update in order, then end")
{
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_LINKS$", Request | Advise | Poke)},
                       "/rate:50 /item:Greeting=hello"));

    dt::Summary hot = dt::summaryOf(onShare("NT_LINKS$", "advise Counter 2 /count").output);
    REQUIRE(hot.read);
    CHECK(hot.count >= 20);
    CHECK(hot.inOrder);
    CHECK(hot.last - hot.first + 1 == hot.count);

    dt::Summary acknowledged =
        dt::summaryOf(onShare("NT_LINKS$", "advise Counter 2 /ackreq /count").output);
    CHECK(acknowledged.count >= 20);
    CHECK(acknowledged.inOrder);

    std::vector<std::string> warm = dt::updateValues(onShare("NT_LINKS$", "advise Counter 2 /warm").output);
    CHECK(warm.size() >= 20);
    for (const std::string &value : warm)
        CHECK(value == "changed");

    // A poke of a linked item reaches the link's client through both agents.
    dt::RunningCommand watching;
    REQUIRE(watching.start(shareArguments("NT_LINKS$", "advise Greeting 20")));
    CHECK(pt::waitUntil([&] {
        onShare("NT_LINKS$", "poke Greeting first");
        return watching.process().output().find("first") != std::string::npos;
    }, 10000));
    CHECK(onShare("NT_LINKS$", "poke Greeting second").exitCode == 0);
    CHECK(pt::waitUntil([&] { return watching.process().output().find("second") != std::string::npos; },
                        10000));
    CommandRun watched = watching.finish();
    CHECK(watched.exitCode == 0);     // the link ended with an unadvise the server took
    std::vector<std::string> values = dt::updateValues(watched.output);
    REQUIRE(values.size() >= 2);
    CHECK(values.back() == "second");

    // The server leaves: the remote link's client sees its conversation end.
    dt::RunningCommand abandoned;
    REQUIRE(abandoned.start(shareArguments("NT_LINKS$", "advise Counter 20")));
    CHECK(pt::waitUntil([&] { return !dt::updateValues(abandoned.process().output()).empty(); }, 10000));
    CHECK(node.server.close());
    CHECK(abandoned.finish().exitCode == 5);
}

TEST_CASE("a long feed carries its data to the last update")
{
    // Past 65,536 updates through one agent: a node that kept a block of
    // every update it posted could make no more (a process holds at most
    // that many), and every later update would reach its client without
    // data (read as 0, out of order). Rounds of three links fed at once
    // follow one another until 70,000 updates have passed, however slowly a
    // loaded machine carries them; updates merged on the way are not counted.
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_FEED$", Advise)}, "/rate:2000 /counters:3"));
    const unsigned long PastBlockLimit = 70000;
    const int Links = 3;
    unsigned long total = 0;
    for (int rounds = 0; rounds < 30 && total < PastBlockLimit; rounds++) {
        dt::RunningCommand feeding[Links];
        for (int i = 0; i < Links; i++)
            REQUIRE(feeding[i].start(
                shareArguments("NT_FEED$", "advise Counter" + std::to_string(i + 1) + " 10 /count /timeout:30000")));
        for (dt::RunningCommand &feed : feeding) {
            DWORD exitCode = 0;
            REQUIRE(feed.process().waitForExit(&exitCode, 60000));
            dt::Summary summary = dt::summaryOf(feed.process().output());
            INFO("a feed wrote: " << feed.process().output());
            REQUIRE(summary.read);
            CHECK(summary.inOrder);       // an update without its data reads as 0
            total += summary.count;
        }
    }
    MESSAGE("updates carried: " << total);
    CHECK(total >= PastBlockLimit);
    CHECK(node.server.close());
}

TEST_CASE("the share decides which transactions and items reach the server")
{
    pt::TestShare items = serverShare("NT_ITEMS$", Request | Advise | Poke | Execute);
    items.firstItem = "Price";
    items.items = {{"Volume", Request}};
    std::string logPath = dt::tempPath("netdde-executed.log");
    DeleteFileA(logPath.c_str());
    std::string options = "/rate:0 /item:Price=1 /item:Volume=2 /item:Other=3 /log:" + logPath;
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_NARROW$", Request), serverShare("NT_POKEONLY$", Poke), items},
                       options.c_str()));
    pt::RunningAgent &agent = node.agent;

    // Each bit not granted: a negative acknowledgement, and the server never
    // hears of it. Items listed: the first with the access's bits, the others
    // with their own.
    struct Transaction {
        const char *share, *arguments;
        DWORD exitCode;
    };
    const Transaction transactions[] = {
        {"NT_NARROW$", "request Price", 0},
        {"NT_NARROW$", "poke Price 5", 3},
        {"NT_NARROW$", "execute [refused]", 3},
        {"NT_NARROW$", "advise Price 1", 3},
        {"NT_POKEONLY$", "request Price", 3},
        {"NT_POKEONLY$", "poke Price 1", 0},
        {"NT_ITEMS$", "poke Price 6", 0},
        {"NT_ITEMS$", "request Volume", 0},
        {"NT_ITEMS$", "poke Volume 7", 3},
        {"NT_ITEMS$", "request Other", 3},
        {"NT_ITEMS$", "execute [allowed]", 0},
    };
    for (const Transaction &transaction : transactions) {
        CAPTURE(transaction.share);
        CAPTURE(transaction.arguments);
        CHECK(onShare(transaction.share, transaction.arguments).exitCode == transaction.exitCode);
    }
    CHECK(onShare("NT_ITEMS$", "request Price").output == "6\r\n");
    CHECK(agentShows(agent, "refused: Request \"Other\" on share NT_ITEMS$ for NODEA: permission"));
    CHECK(node.server.close());
    CHECK(dt::fileText(logPath) == "[allowed]\r\n");
    DeleteFileA(logPath.c_str());
}

TEST_CASE("a conversation that cannot stand ends with its reason shown")
{
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_NOSERVER$", Request)}, nullptr));
    pt::RunningAgent &agent = node.agent;

    CHECK(onShare("NT_NOSERVER$", "request Price").exitCode == 3);
    CHECK(agentShows(agent, "share NT_NOSERVER$ on \\\\NODEA: no server"));
    // Ended before or after the request reached the agent: refused or ended.
    DWORD missing = onShare("NT_MISSING$", "request Price").exitCode;
    CHECK((missing == 3 || missing == 5));
    CHECK(agentShows(agent, "share NT_MISSING$ on \\\\NODEA: no such share"));
    DWORD nowhere = dt::runCommand("\\\\NOWHERE-NODE\\NDDE$ NT_NOSERVER$ request Price").exitCode;
    CHECK((nowhere == 3 || nowhere == 5));
    CHECK(agentShows(agent, "node NOWHERE-NODE is unknown"));
    CHECK(agentShows(agent, "share NT_NOSERVER$ on \\\\NOWHERE-NODE: node unknown"));
    // No name a node may have: refused, and said so.
    DWORD unnamed = dt::runCommand("\\\\NODE-NAME-TOO-LONG\\NDDE$ NT_NOSERVER$ request Price").exitCode;
    CHECK(unnamed == 2);
    CHECK(agentShows(agent, "refused: share NT_NOSERVER$ at \\\\NODE-NAME-TOO-LONG\\NDDE$: that is no node name"));
    // Not a Network DDE name: nobody answers.
    CHECK(dt::runCommand("\\\\NODEA\\OTHER NT_NOSERVER$ request Price").exitCode == 2);
}

TEST_CASE("StartApp starts the share's application when no server answers")
{
    const char started[] = "ddeserver ddeserver|*";   // ddeserver.exe started by its name alone
    pt::TestShare share = serverShare("NT_START$", Request | Execute | StartApp);
    share.app = "ddeserver";
    pt::TestShare noStart = serverShare("NT_NOSTART$", Request | Execute);
    noStart.app = "ddeserver";
    ServedNode node;
    REQUIRE(node.start({share, noStart}, nullptr));
    pt::RunningAgent &agent = node.agent;

    CHECK(onShare("NT_NOSTART$", "execute [first]").exitCode == 3);
    CHECK(FindWindowA(dt::ServerWindowClass, started) == nullptr);
    CHECK(onShare("NT_START$", "execute [started] /timeout:20000").exitCode == 0);
    CHECK(agentShows(agent, "started ddeserver for share NT_START$"));
    HWND server = FindWindowA(dt::ServerWindowClass, started);
    REQUIRE(server != nullptr);
    // The server started stays: the next conversation finds it.
    CHECK(onShare("NT_NOSTART$", "request Executed").output == "[started]\r\n");
    PostMessageA(server, WM_CLOSE, 0, 0);
    CHECK(ui::waitForWindowToClose(server));
}

TEST_CASE("a DDEML server is reached as well as a raw one")
{
    pt::TestShare share = serverShare("NT_DDEML$", Request | Poke);
    share.app = "NTDDEML";
    ServedNode node;
    REQUIRE(node.start({share}, nullptr));
    pt::ChildProcess server;
    REQUIRE(server.start("netdde_ddemlserver.exe", "NTDDEML QUOTES"));
    REQUIRE(pt::waitUntil([] { return FindWindowA("NetDdeDdemlServer", "NTDDEML") != nullptr; }));

    CHECK(onShare("NT_DDEML$", "request Price").output == "1\r\n");
    CHECK(onShare("NT_DDEML$", "poke Price 2").exitCode == 0);
    CHECK(onShare("NT_DDEML$", "poke Refused 3").exitCode == 3);
    // One conversation, many requests: every answer is its own request's.
    CommandRun repeated = onShare("NT_DDEML$", "request Price /repeat:20");
    CHECK(repeated.exitCode == 0);
    CHECK(repeated.output.rfind("2\r\nmean_us ", 0) == 0);
    PostMessageA(FindWindowA("NetDdeDdemlServer", "NTDDEML"), WM_CLOSE, 0, 0);
    DWORD exitCode = 1;
    CHECK(server.waitForExit(&exitCode));
    CHECK(exitCode == 0);
}
