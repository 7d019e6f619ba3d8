// Advise links on the client's node: requests on a linked item answered
// from the link's value, advises acknowledged at once when the node's
// FastAdvise setting is on, and updates posted to the client no faster
// than it takes them.
#include "netddetest.h"
#include "rawclient.h"

#include <dde.h>
#include <doctest/doctest.h>

#include <functional>
#include <map>
#include <stdlib.h>

using namespace nt;

namespace {

const DWORD MaxPostedUpdates = 256;    // a link's updates posted and not yet known to be taken
const DWORD UpdatesPerAck = 32;        // every one of so many asks the client for an ack

std::string networkApplication()
{
    return std::string("\\\\") + Node + "\\NDDE$";
}

// Handles only the messages sent to this thread's windows until
// `condition` holds or `milliseconds` have passed: DDEML clients send their
// initiate to every window, the test's client too, which must answer;
// what the agent posts stays queued.
bool takeSentMessagesUntil(const std::function<bool()> &condition, DWORD milliseconds)
{
    DWORD start = GetTickCount();
    while (!condition() && GetTickCount() - start < milliseconds) {
        MSG message;
        PeekMessageA(&message, NULL, WM_APP + 0x3FFF, WM_APP + 0x3FFF, PM_NOREMOVE);
        MsgWaitForMultipleObjects(0, NULL, FALSE, 20, QS_SENDMESSAGE);
    }
    return condition();
}

// ddecmd on the server itself, on this machine, not through the agent.
dt::CommandRun onServer(const std::string &arguments)
{
    dt::RunningCommand command;
    if (!command.start(std::string(Server) + " " + Topic + " " + arguments))
        return dt::CommandRun();
    takeSentMessagesUntil([&] { return !command.process().isRunning(); }, 60000);
    return command.finish();
}

// The node setting FastAdvise of NODEA, set while it lives.
struct FastAdviseSetting {
    std::string path = std::string("Software\\Tessaseg\\Nodes\\") + Node;
    bool set(DWORD value)
    {
        HKEY key;
        if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                            nullptr, &key, nullptr) != ERROR_SUCCESS)
            return false;
        bool written = RegSetValueExA(key, "FastAdvise", 0, REG_DWORD, (const BYTE *)&value,
                                      sizeof value) == ERROR_SUCCESS;
        RegCloseKey(key);
        return written;
    }
    ~FastAdviseSetting()
    {
        HKEY key;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, KEY_ALL_ACCESS, &key) !=
            ERROR_SUCCESS)
            return;
        RegDeleteValueA(key, "FastAdvise");
        DWORD values = 1, subkeys = 1;
        RegQueryInfoKeyA(key, 0, 0, 0, &subkeys, 0, 0, &values, 0, 0, 0, 0);
        RegCloseKey(key);
        if (!values && !subkeys)
            RegDeleteKeyA(HKEY_LOCAL_MACHINE, path.c_str());
    }
};

// Has the server execute [sleep:MS] (in the background) and waits until it
// sleeps: it answers nothing, on any conversation, until then.
bool putServerToSleep(dt::RunningCommand &sleeper, const std::string &log, DWORD milliseconds)
{
    std::string command = "[sleep:" + std::to_string(milliseconds) + "]";
    return sleeper.start(std::string(Server) + " " + Topic + " execute " + command +
                         " /timeout:" + std::to_string(milliseconds + 10000)) &&
           takeSentMessagesUntil(
               [&] { return dt::fileText(log).find(command) != std::string::npos; }, 15000);
}

std::vector<unsigned long> valuesOf(const std::vector<dt::RawUpdate> &updates, const char *item)
{
    std::vector<unsigned long> values;
    for (const dt::RawUpdate &update : updates)
        if (update.hasData && atomText(update.item) == item)
            values.push_back(update.value);
    return values;
}

// How many notices without data (a warm link's) `updates` hold of `item`.
size_t noticesOf(const std::vector<dt::RawUpdate> &updates, const char *item)
{
    size_t count = 0;
    for (const dt::RawUpdate &update : updates)
        count += !update.hasData && atomText(update.item) == item;
    return count;
}

// A node serving share `share` of netdde_hostileserver /burst:N (for
// Advise): an advise of Done has N updates of Price posted at once.
struct BurstNode : ServedNode {
    std::string share;
    DWORD updates;
    pt::ChildProcess burster;
    // Warm links made first, on items Other1, Other2... in these formats.
    std::vector<UINT> otherWarmFormats;
    BurstNode(const char *shareName, DWORD count) : share(shareName), updates(count) {}
    // Starts the node and its server, and links `client` to Price (asking
    // for acks when `priceAsksAcks`, warm when `priceWarm`), then to Done:
    // the burst follows.
    bool start(dt::RawClient &client, bool priceAsksAcks, bool priceWarm = false)
    {
        auto otherLinks = [&] {
            for (size_t i = 0; i < otherWarmFormats.size(); i++)
                if (!client.advise(("Other" + std::to_string(i + 1)).c_str(), false, true, otherWarmFormats[i]))
                    return false;
            return true;
        };
        pt::TestShare stored(share);
        stored.app = "NTBURST";
        stored.topic = Topic;
        stored.permissions1 = Advise;
        return ServedNode::start({stored}, nullptr) &&
               burster.start("netdde_hostileserver.exe", "NTBURST /burst:" + std::to_string(updates)) &&
               pt::waitUntil([] { return FindWindowA("NetDdeHostileServer", "NTBURST") != nullptr; }) &&
               client.connect(agent.window(), networkApplication().c_str(), share.c_str()) &&
               otherLinks() && client.advise("Price", priceAsksAcks, priceWarm) &&
               client.advise("Done", false, false);
    }
    ~BurstNode()
    {
        PostMessageA(FindWindowA("NetDdeHostileServer", "NTBURST"), WM_CLOSE, 0, 0);
        DWORD exitCode = 0;
        burster.waitForExit(&exitCode);
    }
};

} // namespace

TEST_CASE("a request on a standing hot link is answered from the value the server last sent")
{
    std::string log = dt::tempPath("netdde-links-value.log");
    DeleteFileA(log.c_str());
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_VALUE$", Request | Advise)},
                       ("/rate:0 /item:Price=5 /log:" + log).c_str()));
    dt::RawClient client;
    REQUIRE(client.connect(node.agent.window(), networkApplication().c_str(), "NT_VALUE$"));
    REQUIRE(client.advise("Price", false, false));
    REQUIRE(onServer("poke Price 7").exitCode == 0);
    REQUIRE(client.waitForUpdates(10000, [](const std::vector<dt::RawUpdate> &updates) {
        return !valuesOf(updates, "Price").empty() && valuesOf(updates, "Price").back() == 7;
    }));
    for (const dt::RawUpdate &update : client.takeUpdates())
        if (update.ackRequested)
            client.acknowledge(update);

    // The server answers nothing while it sleeps: the answer is the agent's.
    dt::RunningCommand sleeper;
    REQUIRE(putServerToSleep(sleeper, log, 8000));
    unsigned long value = 0;
    CHECK(client.request("Price", 3000, &value));
    CHECK(value == 7);
    // An item without a link still goes to the server, and waits for it.
    CHECK_FALSE(client.request("Counter", 500, &value));
    CHECK(takeSentMessagesUntil([&] { return !sleeper.process().isRunning(); }, 30000));
    CHECK(sleeper.finish().exitCode == 0);
    CHECK(node.server.close());
    DeleteFileA(log.c_str());
}

TEST_CASE("with FastAdvise an advise is acknowledged at once, and a link its server refuses ends with an event")
{
    std::string log = dt::tempPath("netdde-links-fast.log");
    DeleteFileA(log.c_str());
    FastAdviseSetting setting;
    REQUIRE(setting.set(1));
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_FAST$", Request | Advise)},
                       ("/rate:0 /item:Price=5 /item:Greeting=hello /log:" + log).c_str()));
    dt::RawClient client;
    REQUIRE(client.connect(node.agent.window(), networkApplication().c_str(), "NT_FAST$"));
    REQUIRE(client.advise("Price", false, false));      // the conversation stands

    // The server sleeps: the acks come from the agent.
    dt::RunningCommand sleeper;
    REQUIRE(putServerToSleep(sleeper, log, 5000));
    CHECK(client.advise("NoSuchItem", false, false));
    CHECK(client.advise("Greeting", false, false));
    CHECK(takeSentMessagesUntil([&] { return !sleeper.process().isRunning(); }, 30000));
    CHECK(sleeper.finish().exitCode == 0);
    CHECK(agentShows(node.agent,
                     "link ended: the server of share NT_FAST$ at \\\\NODEA refused \"NoSuchItem\""));

    // The link the server took carries its updates.
    REQUIRE(onServer("poke Price 9").exitCode == 0);
    CHECK(client.waitForUpdates(10000, [](const std::vector<dt::RawUpdate> &updates) {
        return !valuesOf(updates, "Price").empty() && valuesOf(updates, "Price").back() == 9;
    }));
    CHECK(node.server.close());
    DeleteFileA(log.c_str());
}

TEST_CASE("a client that takes no updates has a bounded number posted, then the newest value")
{
    // The server changes Price more often than the agent posts without
    // news from the client, all at once, and Done after the last change.
    const unsigned long changes = MaxPostedUpdates + 4;
    BurstNode node("NT_SLOW$", changes);
    dt::RawClient client;
    REQUIRE(node.start(client, false));
    // The client takes no messages until Done has come.
    REQUIRE(client.waitForUpdates(15000, [](const std::vector<dt::RawUpdate> &updates) {
        return !valuesOf(updates, "Done").empty();
    }));
    std::vector<dt::RawUpdate> first = client.takeUpdates();
    std::vector<unsigned long> posted = valuesOf(first, "Price");
    CHECK(posted.size() == MaxPostedUpdates);
    for (size_t i = 0; i < posted.size(); i++)
        CHECK(posted[i] == i + 1);
    // Every UpdatesPerAck-th asks for an ack, which shows the others taken.
    for (const dt::RawUpdate &update : first)
        if (atomText(update.item) == "Price")
            CHECK(update.ackRequested == (update.value % UpdatesPerAck == 0));

    // Once the client takes them, the newest value follows, merged.
    for (const dt::RawUpdate &update : first)
        if (update.ackRequested)
            client.acknowledge(update);
    CHECK(client.waitForUpdates(10000, [&](const std::vector<dt::RawUpdate> &updates) {
        return !valuesOf(updates, "Price").empty();
    }));
    client.pump(500, [] { return false; });
    CHECK(valuesOf(client.takeUpdates(), "Price") == std::vector<unsigned long>{changes});
    CHECK(agentShows(node.agent, "client NT_SLOW$ at ", "updates merged"));
}

TEST_CASE("a warm link's notices to a client that takes no messages are bounded, the rest merged into one")
{
    const unsigned long changes = MaxPostedUpdates + 4;
    BurstNode node("NT_WARMSLOW$", changes);
    dt::RawClient client;
    REQUIRE(node.start(client, false, true));
    // A notice asks for no ack: until the client shows it takes its
    // messages, no more than a link's bound are posted.
    REQUIRE(client.waitForUpdates(15000, [](const std::vector<dt::RawUpdate> &updates) {
        return !valuesOf(updates, "Done").empty();
    }));
    CHECK(noticesOf(client.takeUpdates(), "Price") == MaxPostedUpdates);
    // Then the notices that waited come as one.
    CHECK(client.waitForUpdates(10000, [&](const std::vector<dt::RawUpdate> &updates) {
        return noticesOf(updates, "Price") > 0;
    }));
    client.pump(500, [] { return false; });
    CHECK(noticesOf(client.takeUpdates(), "Price") == 1);
    CHECK(agentShows(node.agent, "client NT_WARMSLOW$ at ", "3 updates merged"));
}

TEST_CASE("a warm link's notices are bounded whatever formats the conversation's other warm links are in")
{
    // A notice names no format: its link is found by item alone, among
    // warm links in as many formats as the client uses.
    const unsigned long changes = MaxPostedUpdates + 4;
    BurstNode node("NT_WARMFORMATS$", changes);
    node.otherWarmFormats = {CF_SYLK, CF_DIF, CF_OEMTEXT, CF_UNICODETEXT, CF_RIFF};
    dt::RawClient client;
    REQUIRE(node.start(client, false, true));
    REQUIRE(client.waitForUpdates(15000, [](const std::vector<dt::RawUpdate> &updates) {
        return !valuesOf(updates, "Done").empty();
    }));
    CHECK(noticesOf(client.takeUpdates(), "Price") == MaxPostedUpdates);
    CHECK(agentShows(node.agent, "client NT_WARMFORMATS$ at ", "3 updates merged"));
}

TEST_CASE("a client that takes its updates but acknowledges none still gets the newest value")
{
    const unsigned long changes = MaxPostedUpdates + 4;
    BurstNode node("NT_DEAF$", changes);
    dt::RawClient client;
    REQUIRE(node.start(client, false));
    // It handles its messages but never answers the acks asked of it: the
    // agent finds that out and posts the rest as it comes, merged.
    CHECK(client.waitForUpdates(20000, [&](const std::vector<dt::RawUpdate> &updates) {
        std::vector<unsigned long> values = valuesOf(updates, "Price");
        return !values.empty() && values.back() == changes;
    }));
    std::vector<unsigned long> values = valuesOf(client.takeUpdates(), "Price");
    for (size_t i = 1; i < values.size(); i++)
        CHECK(values[i - 1] < values[i]);
}

TEST_CASE("updates that ask for an ack reach the client one at a time, in order, none lost")
{
    // A server that posts five updates asking for acks without waiting for
    // any: the client that asked for acks still gets them one at a time.
    BurstNode node("NT_BURST$", 5);
    dt::RawClient client;
    REQUIRE(node.start(client, true));
    REQUIRE(client.waitForUpdates(15000, [](const std::vector<dt::RawUpdate> &updates) {
        return !valuesOf(updates, "Done").empty();
    }));
    std::vector<dt::RawUpdate> updates = client.takeUpdates();
    std::vector<unsigned long> values = valuesOf(updates, "Price");
    CHECK(values == std::vector<unsigned long>{1});
    for (unsigned long expected = 2; expected <= 5 && !values.empty(); expected++) {
        for (const dt::RawUpdate &update : updates)
            if (atomText(update.item) == "Price")
                client.acknowledge(update);
        CHECK(client.waitForUpdates(10000, [](const std::vector<dt::RawUpdate> &received) {
            return !valuesOf(received, "Price").empty();
        }));
        updates = client.takeUpdates();
        values = valuesOf(updates, "Price");
        CHECK(values == std::vector<unsigned long>{expected});
    }
}

TEST_CASE("a client that posts a thousand advises at once has every one taken")
{
    // More than the server's side queues for one conversation: the client's
    // agent holds the rest until answers come back.
    const int links = 1000;
    std::string options = "/rate:0";
    for (int i = 1; i <= links; i++)
        options += " /item:I" + std::to_string(i) + "=0";
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_MANY$", Advise)}, options.c_str()));
    dt::RawClient client;
    REQUIRE(client.connect(node.agent.window(), networkApplication().c_str(), "NT_MANY$"));
    for (int i = 1; i <= links; i++)
        REQUIRE(client.postAdvise(("I" + std::to_string(i)).c_str(), false, false));
    CHECK(client.waitForAcks(links, 60000));
    // Each link stands: an update of the last reaches the client.
    REQUIRE(onServer("poke I1000 7").exitCode == 0);
    CHECK(client.waitForUpdates(10000, [](const std::vector<dt::RawUpdate> &updates) {
        return !valuesOf(updates, "I1000").empty();
    }));
    CHECK(node.server.close());
}

TEST_CASE("a server's updates of many items each reach the link of their own item")
{
    // More items than the serving agent's first table of item names holds:
    // every name is looked up again after the table grew.
    const int items = 40;
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_ITEMS$", Advise)},
                       ("/rate:5 /counters:" + std::to_string(items)).c_str()));
    dt::RawClient client;
    REQUIRE(client.connect(node.agent.window(), networkApplication().c_str(), "NT_ITEMS$"));
    for (int i = 1; i <= items; i++)
        REQUIRE(client.postAdvise(("Counter" + std::to_string(i)).c_str(), false, false));
    REQUIRE(client.waitForAcks(items, 60000));
    // Each step updates every item with one value: each link sees it rise.
    std::map<std::string, std::vector<unsigned long>> values;
    auto everyItemRose = [&](const std::vector<dt::RawUpdate> &updates) {
        for (const dt::RawUpdate &update : updates)
            if (update.hasData)
                values[atomText(update.item)].push_back(update.value);
        int risen = 0;
        for (int i = 1; i <= items; i++) {
            const std::vector<unsigned long> &seen = values["Counter" + std::to_string(i)];
            risen += seen.size() >= 3 ? 1 : 0;
        }
        return risen == items;
    };
    bool risen = false;
    for (DWORD start = GetTickCount(); !risen && GetTickCount() - start < 20000;)
        risen = everyItemRose(client.takeUpdates(200));
    CHECK(risen);
    for (const auto &entry : values) {
        INFO(entry.first);
        CHECK(entry.first.compare(0, 7, "Counter") == 0);
        int index = atoi(entry.first.c_str() + 7);
        CHECK((index >= 1 && index <= items));
        for (size_t i = 1; i < entry.second.size(); i++)
            CHECK(entry.second[i - 1] < entry.second[i]);
    }
    CHECK(node.server.close());
}
