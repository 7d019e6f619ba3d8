// Client conversations through an outage of their session: node NODEP of
// the node map is the agent itself, reached through a relay that the tests
// break (every connection cut, new ones closed at once) and mend. The DDE
// client must see a pause, busy answers meanwhile, and its links back with
// their options and their items' current values; a node that refuses the
// conversation, or stays away past the grace period, ends it. A network
// that stalls without breaking merges the links' values on the serving
// side, and on the client's side once what it held comes at once; a request
// made meanwhile is answered ahead of the links' backlog. Links whose server
// is busy feeding them come back too.
#include "netddetest.h"
#include "rawclient.h"

#include <dde.h>
#include <doctest/doctest.h>

#include <algorithm>
#include <functional>
#include <stdlib.h>

using namespace nt;

namespace {

const char RelayedNode[] = "NODEP";
const char RelayedApplication[] = "\\\\NODEP\\NDDE$";
const DWORD RecoveryWait = 20000;          // ms, generous for a loaded machine

// A served node whose own shares are also reached as NODEP through a relay.
struct RelayedNodeFixture {
    ServedNode node;
    Relay relay;

    bool start(std::vector<pt::TestShare> shares, const char *serverOptions, int gracePeriod = -1)
    {
        setGracePeriod(RelayedNode, gracePeriod);
        return node.start(shares, serverOptions) && relay.start(node.agent.port()) &&
               mapNode(RelayedNode, "127.0.0.1:" + std::to_string(relay.port()));
    }
    ~RelayedNodeFixture()
    {
        mapNode(RelayedNode, "");
        setGracePeriod(RelayedNode, -1);
    }

    // The session drops and the node stays unreachable until mend().
    void breakOff()
    {
        relay.setDown(true);
        relay.cut();
    }
    void mend() { relay.setDown(false); }
    bool shows(const std::string &text, const std::string &alsoText = "")
    {
        return agentShows(node.agent, text, alsoText);
    }
};

// Runs ddecmd on ddeserver straight, not through the agent, while `client`
// takes its messages (ddecmd asks every window to initiate, the client's too).
dt::CommandRun onServer(dt::RawClient &client, const std::string &arguments)
{
    dt::RunningCommand command;
    if (!command.start(std::string(Server) + " " + Topic + " " + arguments))
        return dt::CommandRun();
    client.pump(pt::ProcessTimeout, [&] { return !command.process().isRunning(); });
    return command.finish();
}

bool setOnServer(dt::RawClient &client, const char *item, const char *value)
{
    return onServer(client, std::string("poke ") + item + " " + value).exitCode == 0;
}

// The updates that come within `milliseconds`, each that asks for an ack
// acknowledged, as DDE clients do.
std::vector<dt::RawUpdate> takeAcknowledging(dt::RawClient &client, DWORD milliseconds = 0)
{
    std::vector<dt::RawUpdate> taken = client.takeUpdates(milliseconds);
    for (const dt::RawUpdate &update : taken)
        if (update.ackRequested)
            client.acknowledge(update);
    return taken;
}

// Waits for the next update and gives it; false when there was not exactly one.
bool nextUpdate(dt::RawClient &client, dt::RawUpdate *update)
{
    std::vector<dt::RawUpdate> seen = client.takeUpdates(RecoveryWait);
    if (seen.size() != 1)
        return false;
    *update = seen.back();
    return true;
}

} // namespace

TEST_CASE("a link pauses through an outage and resumes with its item's current value")
{
    RelayedNodeFixture fixture;
    REQUIRE(fixture.start({serverShare("NT_PAUSE$", Request | Advise | Poke)},
                          "/rate:0 /item:Price=5"));
    dt::RawClient client;
    REQUIRE(client.connect(fixture.node.agent.window(), RelayedApplication, "NT_PAUSE$"));
    REQUIRE(client.advise("Price", false, false));

    fixture.breakOff();
    // The default grace period, and the node shown reconnecting with its countdown.
    CHECK(fixture.shows("reconnecting: share NT_PAUSE$ at \\\\NODEP for up to 30 s"));
    CHECK(fixture.shows("to NODEP    reconnecting, "));
    CHECK(fixture.shows("client NT_PAUSE$ at \\\\NODEP: reconnecting, "));
    // The item changes while the node is away.
    REQUIRE(setOnServer(client, "Price", "7"));
    fixture.mend();

    dt::RawUpdate update;
    REQUIRE(nextUpdate(client, &update));
    CHECK(update.hasData);
    CHECK(update.value == 7);
    CHECK(fixture.shows("recovered: share NT_PAUSE$ at \\\\NODEP after "));
    // The link stands again: a later change arrives too.
    REQUIRE(setOnServer(client, "Price", "8"));
    REQUIRE(nextUpdate(client, &update));
    CHECK(update.value == 8);
    CHECK_FALSE(client.waitForServerTerminate(0));
    CHECK(client.terminate());
}

TEST_CASE("a transaction in flight when the session drops, and one made during the outage, are answered busy")
{
    RelayedNodeFixture fixture;
    REQUIRE(fixture.start({serverShare("NT_BUSY$", Request | Advise | Execute)},
                          "/rate:0 /item:Price=5"));
    dt::RawClient client;
    REQUIRE(client.connect(fixture.node.agent.window(), RelayedApplication, "NT_BUSY$"));
    REQUIRE(client.advise("Price", false, false));

    // The server holds the execute for 3 s: its answer cannot come before the cut.
    REQUIRE(client.postExecute("[sleep:3000]"));
    fixture.breakOff();
    WORD status = 0;
    REQUIRE(client.waitForAnswer(RecoveryWait, &status));
    CHECK(status == AckBusy);
    REQUIRE(fixture.shows("client NT_BUSY$ at \\\\NODEP: reconnecting, "));
    REQUIRE(client.postRequest("Price"));
    REQUIRE(client.waitForAnswer(RecoveryWait, &status));
    CHECK(status == AckBusy);

    // The server takes conversations again once its sleep is over.
    REQUIRE(onServer(client, "request Price /timeout:10000").exitCode == 0);
    fixture.mend();
    REQUIRE(fixture.shows("recovered: share NT_BUSY$ at \\\\NODEP"));
    // Once recovered, the link's current value comes first, then the answer.
    REQUIRE(client.postRequest("Price"));
    REQUIRE(client.waitForAnswer(RecoveryWait, &status));
    CHECK(status == AckPositive);
    CHECK(client.terminate());
}

TEST_CASE("more conversations than the node proves at once, opened over a stalled network, all stand")
{
    // Six clients while the network carries nothing back: their Opens go
    // as earlier ones are answered, never so many at once that the node
    // refuses some for want of room.
    RelayedNodeFixture fixture;
    REQUIRE(fixture.start({serverShare("NT_MANY$", Request)}, "/rate:0 /item:Price=6"));
    fixture.relay.hold(true);
    dt::RawClient clients[6];
    for (dt::RawClient &client : clients) {
        REQUIRE(client.connect(fixture.node.agent.window(), RelayedApplication, "NT_MANY$"));
        REQUIRE(client.postRequest("Price"));
    }
    fixture.relay.hold(false);
    for (dt::RawClient &client : clients) {
        WORD status = 0;
        CHECK(client.waitForAnswer(RecoveryWait, &status));
        CHECK(status == AckPositive);
        CHECK(client.terminate());
    }
}

TEST_CASE("links are made again with their options: acks asked for, updates deferred")
{
    RelayedNodeFixture fixture;
    REQUIRE(fixture.start({serverShare("NT_OPTIONS$", Request | Advise | Poke)},
                          "/rate:0 /item:Price=5 /item:Volume=50"));
    dt::RawUpdate update;
    {
        dt::RawClient client;
        REQUIRE(client.connect(fixture.node.agent.window(), RelayedApplication, "NT_OPTIONS$"));
        REQUIRE(client.advise("Price", true, false));
        fixture.breakOff();
        REQUIRE(fixture.shows("client NT_OPTIONS$ at \\\\NODEP: reconnecting, "));
        fixture.mend();
        // The current value, then the server's updates asking for acks, as
        // the link made again asked it to.
        REQUIRE(nextUpdate(client, &update));
        CHECK(update.hasData);
        CHECK(update.value == 5);
        if (update.ackRequested)
            client.acknowledge(update);
        REQUIRE(setOnServer(client, "Price", "6"));
        REQUIRE(nextUpdate(client, &update));
        CHECK(update.ackRequested);
        CHECK(update.value == 6);
        client.acknowledge(update);
        REQUIRE(setOnServer(client, "Price", "7"));
        REQUIRE(nextUpdate(client, &update));
        CHECK(update.ackRequested);
        CHECK(update.value == 7);
        client.acknowledge(update);
        CHECK(client.terminate());
    }
    {
        dt::RawClient client;
        REQUIRE(client.connect(fixture.node.agent.window(), RelayedApplication, "NT_OPTIONS$"));
        REQUIRE(client.advise("Volume", false, true));
        fixture.breakOff();
        REQUIRE(fixture.shows("client NT_OPTIONS$ at \\\\NODEP: reconnecting, "));
        fixture.mend();
        // A warm link hears that its item may have changed, then each change, without data.
        REQUIRE(nextUpdate(client, &update));
        CHECK_FALSE(update.hasData);
        REQUIRE(setOnServer(client, "Volume", "51"));
        REQUIRE(nextUpdate(client, &update));
        CHECK_FALSE(update.hasData);
        CHECK(client.terminate());
    }
}

TEST_CASE("a node that refuses to open the conversation again ends it with an event")
{
    RelayedNodeFixture fixture;
    REQUIRE(fixture.start({serverShare("NT_GONE$", Request | Advise)}, "/rate:0 /item:Price=5"));
    dt::RawClient client;
    REQUIRE(client.connect(fixture.node.agent.window(), RelayedApplication, "NT_GONE$"));
    REQUIRE(client.advise("Price", false, false));
    fixture.breakOff();
    REQUIRE(fixture.shows("client NT_GONE$ at \\\\NODEP: reconnecting, "));
    REQUIRE(pt::deleteShare("NT_GONE$") == NDDE_NO_ERROR);
    fixture.mend();
    CHECK(client.waitForServerTerminate(RecoveryWait));
    CHECK(fixture.shows("refused: share NT_GONE$ on \\\\NODEP: no such share"));
}

TEST_CASE("a node that stays away ends the conversation when its grace period is over, and at once without one")
{
    {
        RelayedNodeFixture fixture;
        REQUIRE(fixture.start({serverShare("NT_AWAY$", Request | Advise)},
                              "/rate:0 /item:Price=5", 3));
        dt::RawClient client;
        REQUIRE(client.connect(fixture.node.agent.window(), RelayedApplication, "NT_AWAY$"));
        REQUIRE(client.advise("Price", false, false));
        DWORD start = GetTickCount();
        fixture.breakOff();
        CHECK(fixture.shows("reconnecting: share NT_AWAY$ at \\\\NODEP for up to 3 s"));
        CHECK(client.waitForServerTerminate(RecoveryWait));
        // Never before the grace period is over.
        CHECK(GetTickCount() - start >= 3000);
        CHECK(fixture.shows("ended: share NT_AWAY$ at \\\\NODEP was not reached again within 3 s"));
    }
    {
        RelayedNodeFixture fixture;
        REQUIRE(fixture.start({serverShare("NT_NOGRACE$", Request | Advise)},
                              "/rate:0 /item:Price=5", 0));
        dt::RawClient client;
        REQUIRE(client.connect(fixture.node.agent.window(), RelayedApplication, "NT_NOGRACE$"));
        REQUIRE(client.advise("Price", false, false));
        fixture.breakOff();
        CHECK(client.waitForServerTerminate(RecoveryWait));
        for (const std::string &line : agentLines(fixture.node.agent))
            CHECK(line.find("reconnecting") == std::string::npos);
    }
}

TEST_CASE("an agent that closes ends its clients' conversations rather than keep them through an outage")
{
    RelayedNodeFixture fixture;
    REQUIRE(fixture.start({serverShare("NT_CLOSING$", Request | Advise)}, "/rate:0 /item:Price=5"));
    dt::RawClient client;
    REQUIRE(client.connect(fixture.node.agent.window(), RelayedApplication, "NT_CLOSING$"));
    REQUIRE(client.advise("Price", false, false));
    HWND agentWindow = fixture.node.agent.window();
    REQUIRE(PostMessageA(agentWindow, WM_CLOSE, 0, 0));
    CHECK(client.waitForServerTerminate(RecoveryWait));
}

TEST_CASE("a conversation with more links than the serving node queues at once has each made again")
{
    const int LinkCount = 300;
    std::string items = "/rate:0";
    for (int i = 0; i < LinkCount; i++)
        items += " /item:I" + std::to_string(i) + "=" + std::to_string(i);
    RelayedNodeFixture fixture;
    REQUIRE(fixture.start({serverShare("NT_MANY$", Request | Advise)}, items.c_str()));
    dt::RawClient client;
    REQUIRE(client.connect(fixture.node.agent.window(), RelayedApplication, "NT_MANY$"));
    for (int i = 0; i < LinkCount; i++)
        REQUIRE(client.advise(("I" + std::to_string(i)).c_str(), false, false));
    fixture.breakOff();
    REQUIRE(fixture.shows("client NT_MANY$ at \\\\NODEP: reconnecting, "));
    fixture.mend();
    // Each item's current value, once.
    std::vector<int> seen(LinkCount);
    int updates = 0;
    DWORD start = GetTickCount();
    while (updates < LinkCount && GetTickCount() - start < 60000) {
        for (const dt::RawUpdate &update : client.takeUpdates(1000)) {
            updates++;
            if (update.value < (unsigned long)LinkCount)
                seen[update.value]++;
        }
    }
    CHECK(updates == LinkCount);
    CHECK(std::count(seen.begin(), seen.end(), 1) == LinkCount);
    CHECK_FALSE(client.waitForServerTerminate(0));
    CHECK(client.terminate());
}

TEST_CASE("links over a network that stalls merge their values, and each item's last one arrives once it flows")
{
    // The server counts two items up to Steps, a thousand steps a second at
    // most: while the relay carries nothing, far more than its small
    // buffers and the agent's hold. One conversation links Counter1 hot,
    // another Counter2 warm, so that each shows its own merges.
    // The stall's notices alone (the hot link may be paced at the server)
    // are more than the system's buffers hold.
    const unsigned long Steps = 9000, StalledSteps = 4000;
    const DWORD LongestStall = 7000;    // ms, within a client node's patience with a silent node
    RelayedNodeFixture fixture;
    REQUIRE(fixture.start({serverShare("NT_STALL$", Advise), serverShare("NT_STALLW$", Advise)},
                          ("/rate:1000 /counters:2 /steps:" + std::to_string(Steps)).c_str()));
    dt::RawClient hot, warm;
    REQUIRE(hot.connect(fixture.node.agent.window(), RelayedApplication, "NT_STALL$"));
    REQUIRE(warm.connect(fixture.node.agent.window(), RelayedApplication, "NT_STALLW$"));
    REQUIRE(hot.advise("Counter1", false, false));
    REQUIRE(warm.advise("Counter2", false, true));    // notices without data
    // Clients that acknowledge what asks for it, as DDE clients do.
    std::vector<unsigned long> values;     // Counter1's
    size_t notices = 0;                    // Counter2's
    auto take = [&](DWORD milliseconds) {
        for (const dt::RawUpdate &update : takeAcknowledging(hot, milliseconds))
            if (update.hasData)
                values.push_back(update.value);
        for (const dt::RawUpdate &update : warm.takeUpdates())
            notices += !update.hasData;
    };
    for (DWORD start = GetTickCount(); values.empty() && GetTickCount() - start < RecoveryWait;)
        take(200);
    REQUIRE_FALSE(values.empty());

    // Nothing from the serving side crosses while the server makes StalledSteps.
    unsigned long lastBeforeStall = values.back(), atServer = 0;
    fixture.relay.hold(true);
    for (DWORD start = GetTickCount();
         atServer < lastBeforeStall + StalledSteps && GetTickCount() - start < LongestStall;) {
        atServer = strtoul(onServer(hot, "request Counter1 /timeout:10000").output.c_str(), nullptr, 10);
        take(0);
    }
    size_t noticesBeforeFlowing = notices;
    fixture.relay.hold(false);
    REQUIRE(atServer >= lastBeforeStall + StalledSteps);
    for (DWORD start = GetTickCount(); values.back() != Steps && GetTickCount() - start < 60000;)
        take(200);
    // The last notice may follow the last value.
    for (DWORD start = GetTickCount(); GetTickCount() - start < 1000;)
        take(200);

    // The hot link: rising values up to the last, some merged on the way
    // (by the serving side, or by a server it paces on a loaded machine).
    CHECK(values.back() == Steps);
    CHECK(std::adjacent_find(values.begin(), values.end(), std::greater_equal<unsigned long>()) ==
          values.end());
    CHECK(values.size() < values.back() - values.front() + 1);
    // What the network held came at once when it flowed again: the client's
    // node, behind, merged the updates it could not post as they came.
    CHECK(fixture.shows("client NT_STALL$ at ", "updates merged"));
    // The warm link: its notices merged the same way, and the stall's last one came.
    CHECK(notices < Steps - values.front());
    CHECK(notices > noticesBeforeFlowing);
    // The serving side merged them, unless on a loaded machine it had the
    // server pace the link, which then merged them itself.
    CHECK(ui::waitUntil([&] {
        for (const std::string &line : agentLines(fixture.node.agent))
            if ((line.find("served NT_STALLW$ for ") != std::string::npos &&
                 line.find("updates merged") != std::string::npos) ||
                line.find("the server of share NT_STALLW$ feeds faster") != std::string::npos)
                return true;
        return false;
    }));
    CHECK(hot.terminate());
    CHECK(warm.terminate());
}

TEST_CASE("a request made while the network stalls is answered ahead of the links' backlog")
{
    // While the relay carries nothing back, a hot link's updates fill what
    // the network holds and then merge on the serving side; a request of
    // another conversation crosses to the server meanwhile. Once the network
    // flows, its answer comes after what the network held, never after the
    // updates that merged: it does not wait behind another link's backlog.
    const unsigned long Steps = 8000, StalledSteps = 3000;
    const DWORD LongestStall = 8000;    // ms, well within a client node's patience with a silent node
    RelayedNodeFixture fixture;
    REQUIRE(fixture.start({serverShare("NT_AHEAD$", Advise | Request)},
                          ("/rate:1000 /counters:2 /steps:" + std::to_string(Steps)).c_str()));
    dt::RawClient hot, asker;
    REQUIRE(hot.connect(fixture.node.agent.window(), RelayedApplication, "NT_AHEAD$"));
    REQUIRE(asker.connect(fixture.node.agent.window(), RelayedApplication, "NT_AHEAD$"));
    REQUIRE(hot.advise("Counter1", false, false));
    unsigned long lastBeforeStall = 0;
    for (DWORD start = GetTickCount(); !lastBeforeStall && GetTickCount() - start < RecoveryWait;)
        for (const dt::RawUpdate &update : takeAcknowledging(hot, 200))
            lastBeforeStall = update.value;
    REQUIRE(lastBeforeStall != 0);

    // The request goes two thirds into the stall, long after the network is
    // full and the serving side merges; the stall goes on after it.
    fixture.relay.hold(true);
    unsigned long atServer = 0;
    bool asked = false;
    for (DWORD start = GetTickCount();
         atServer < lastBeforeStall + StalledSteps && GetTickCount() - start < LongestStall;) {
        atServer = strtoul(onServer(hot, "request Counter1 /timeout:10000").output.c_str(), nullptr, 10);
        if (!asked && atServer >= lastBeforeStall + 2 * StalledSteps / 3)
            asked = asker.postRequest("Counter2");
    }
    REQUIRE(asked);
    REQUIRE(atServer >= lastBeforeStall + StalledSteps);
    fixture.relay.hold(false);

    // The messages in the order they come: the hot link's updates before the answer.
    unsigned long updatesBeforeAnswer = 0, answer = 0;
    bool answered = false;
    for (DWORD start = GetTickCount(); !answered && GetTickCount() - start < RecoveryWait;) {
        MSG message;
        if (!PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
            MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
            continue;
        }
        DispatchMessageA(&message);
        if (message.message != WM_DDE_DATA)
            continue;
        if (message.hwnd == asker.window()) {
            std::vector<dt::RawUpdate> taken = asker.takeUpdates();
            answered = !taken.empty() && taken.back().response;
            answer = answered ? taken.back().value : 0;
        } else if (message.hwnd == hot.window()) {
            takeAcknowledging(hot);
            updatesBeforeAnswer++;
        }
    }
    REQUIRE(answered);
    INFO("stalled steps: " << atServer - lastBeforeStall << ", answer " << answer);
    CHECK(answer > lastBeforeStall);
    // What the network held came first; the rest, merged on the way, did not.
    CHECK(updatesBeforeAnswer < StalledSteps / 3);
    CHECK(hot.terminate());
    CHECK(asker.terminate());
}

TEST_CASE("links whose server feeds them fast come back after the node went silent")
{
    // The server counts ten linked items up, 1,000 updates a second, more
    // than a loaded slow machine carries: the serving side paces its links.
    // The relay then carries nothing back, not even the serving side's pings:
    // the client's side notices the silence while the feed goes on. Once the
    // network flows, the conversation is opened again on the server, busy
    // with its feed all the while (it answers an initiate only between its
    // posts), and the links carry on.
    RelayedNodeFixture fixture;
    REQUIRE(fixture.start({serverShare("NT_SILENT$", Advise | Request)}, "/rate:100 /counters:10"));
    dt::RawClient client;
    REQUIRE(client.connect(fixture.node.agent.window(), RelayedApplication, "NT_SILENT$"));
    for (int i = 1; i <= 10; i++)
        REQUIRE(client.postAdvise(("Counter" + std::to_string(i)).c_str(), false, false));
    // A feed this fast fills a slow machine: each advise waits its turn.
    REQUIRE(client.waitForAcks(10, 3 * RecoveryWait));
    unsigned long beforeStall = 0;
    for (const dt::RawUpdate &update : client.takeUpdates(RecoveryWait))
        beforeStall = std::max(beforeStall, update.value);
    REQUIRE(beforeStall != 0);

    fixture.relay.hold(true);
    const DWORD NoticeWait = 30000;     // ms: the silence allowed, and a loaded machine's slack
    bool noticed = false;
    for (DWORD start = GetTickCount(); !noticed && GetTickCount() - start < NoticeWait;)
        noticed = fixture.shows("reconnecting: share NT_SILENT$", "nothing heard from the node");
    CHECK(noticed);
    fixture.relay.hold(false);
    CHECK(fixture.shows("recovered: share NT_SILENT$"));
    // Values counted since: five seconds of them at least.
    CHECK(client.waitForUpdates(RecoveryWait, [&](const std::vector<dt::RawUpdate> &seen) {
        return std::any_of(seen.begin(), seen.end(), [&](const dt::RawUpdate &update) {
            return update.value > beforeStall + 500;
        });
    }));
    CHECK_FALSE(client.waitForServerTerminate(0));
    CHECK(client.terminate());
}
