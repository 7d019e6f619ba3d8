// The link set-up benchmark of tools/bench: a raw DDE client makes one
// advise link on each of the items I1..I1000 of a running server, either
// waiting for each ack (as DDEML clients and spreadsheets do) or posting
// every advise at once.
//
//   bench_links.exe APP TOPIC PATH [/memory]
//
// APP \\NODE\NDDE$ reaches the server through this node's agent, any other
// APP a ddeserver.exe of this node. /memory: then ten conversations of
// 1,000 links each stand at once, and the agent's memory of sessions (its
// window's figure) is read before, with 1,000 and with 10,000 links.
#include "netddetest.h"
#include "rawclient.h"
#include "agentlink.h"

#include <stdio.h>
#include <stdlib.h>

#include <memory>

namespace {

const int LinkCount = 1000;
const DWORD AllAcksTimeout = 120000;      // ms for every ack of one run

HWND serverWindow(const std::string &app)
{
    return app.compare(0, 2, "\\\\") == 0 ? FindWindowA(AgentWindowClass, nullptr)
                                          : FindWindowA(dt::ServerWindowClass, nullptr);
}

std::string itemName(int index)
{
    return "I" + std::to_string(index + 1);
}

// Makes the links on one new conversation; their set-up time in ms, or -1.
long makeLinks(dt::RawClient &client, const std::string &app, const std::string &topic,
               bool waitForEach)
{
    HWND server = serverWindow(app);
    if (!server || !client.connect(server, app.c_str(), topic.c_str()))
        return -1;
    DWORD start = GetTickCount();
    for (int i = 0; i < LinkCount; i++) {
        bool made = waitForEach ? client.advise(itemName(i).c_str(), false, false)
                                : client.postAdvise(itemName(i).c_str(), false, false);
        if (!made)
            return -1;
    }
    if (!waitForEach && !client.waitForAcks(LinkCount, AllAcksTimeout))
        return -1;
    return (long)(GetTickCount() - start);
}

bool measureSetUp(const std::string &app, const std::string &topic, const char *path)
{
    for (bool waitForEach : {true, false}) {
        dt::RawClient client;
        long milliseconds = makeLinks(client, app, topic, waitForEach);
        if (milliseconds < 0) {
            printf("%d links (%s): not all were taken\n", LinkCount, path);
            return false;
        }
        printf("%d links set up (%s, client %s): %ld ms\n", LinkCount, path,
               waitForEach ? "waits for each ack" : "posts all at once", milliseconds);
        client.terminate();
    }
    return true;
}

// The agent's "Memory of sessions: N KB" once its window has shown it again.
long agentMemoryKb(dt::RawClient &pumping)
{
    pumping.pump(1500, [] { return false; });
    HWND agent = FindWindowA(AgentWindowClass, nullptr);
    for (const std::string &line : ui::listLines(agent, AgentStateListId))
        if (line.compare(0, 20, "Memory of sessions: ") == 0)
            return atol(line.c_str() + 20);
    return -1;
}

bool measureMemory(const std::string &app, const std::string &topic, const char *path)
{
    const int conversations = 10;
    std::vector<std::unique_ptr<dt::RawClient>> clients;
    dt::RawClient idle;
    long before = agentMemoryKb(idle), withThousand = 0;
    for (int i = 0; i < conversations; i++) {
        clients.emplace_back(new dt::RawClient);
        if (makeLinks(*clients.back(), app, topic, false) < 0) {
            printf("link memory (%s): not all links were taken\n", path);
            return false;
        }
        if (i == 0)
            withThousand = agentMemoryKb(*clients.back());
    }
    long withAll = agentMemoryKb(*clients.back());
    printf("client agent's memory of sessions (%s): %ld KB idle, %ld KB with %d links, %ld KB "
           "with %d links: %ld and %ld bytes a link\n",
           path, before, withThousand, LinkCount, withAll, LinkCount * conversations,
           (withThousand - before) * 1024 / LinkCount,
           (withAll - before) * 1024 / (LinkCount * conversations));
    for (auto &client : clients)
        client->terminate();
    return before >= 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        printf("usage: bench_links APP TOPIC PATH [/memory]\n");
        return 1;
    }
    bool measured = measureSetUp(argv[1], argv[2], argv[3]);
    if (measured && argc > 4 && lstrcmpiA(argv[4], "/memory") == 0)
        measured = measureMemory(argv[1], argv[2], argv[3]);
    return measured ? 0 : 1;
}
