// The live-feed benchmark of tools/bench: a raw DDE client with hot links on
// a ddeserver's counters, local or through a node's agent. The server
// counts to STEPS and then stops; the client takes updates until every
// item has its last value (or 60 s have passed), then asks the server when
// it posted its last step (item Finished).
//
//   bench_flow.exe SERVICE TOPIC STEPS ITEMS LABEL
//
// ITEMS 0 links item Counter, N links Counter1 to CounterN. SERVICE is a
// local server's service (its window is found by title) or \\NODE\NDDE$
// (the agent's window is asked). Prints the updates received a second
// while they came and how long after the server's last step the last item
// had its last value.
#include "ddetooltest.h"
#include "rawclient.h"

#include <stdio.h>
#include <stdlib.h>

#include <memory>

namespace {

const DWORD Deadline = 60000;           // ms to wait for every last value
const DWORD Slice = 5;                  // ms of messages handled between looks at the clock

// Milliseconds since midnight of "HH:MM:SS.mmm"; -1 when it is not that.
long millisecondsOfDay(const std::string &text)
{
    unsigned hours, minutes, seconds, milliseconds;
    if (sscanf(text.c_str(), "%u:%u:%u.%u", &hours, &minutes, &seconds, &milliseconds) != 4)
        return -1;
    return ((hours * 60 + minutes) * 60 + seconds) * 1000L + milliseconds;
}

long nowOfDay()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return ((now.wHour * 60 + now.wMinute) * 60 + now.wSecond) * 1000L + now.wMilliseconds;
}

std::string itemName(int index)
{
    return index == 0 ? "Counter" : "Counter" + std::to_string(index);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 6) {
        printf("usage: bench_flow SERVICE TOPIC STEPS ITEMS LABEL\n");
        return 1;
    }
    std::string service = argv[1], topic = argv[2], label = argv[5];
    unsigned long steps = strtoul(argv[3], NULL, 10);
    int items = atoi(argv[4]);
    bool remote = service.compare(0, 2, "\\\\") == 0;
    HWND window = remote ? FindWindowA("NDdeAgent", NULL)
                         : FindWindowA("DdeToolsServer", ("ddeserver " + service + "|" + topic).c_str());
    // Gone before ddecmd runs: its DDEML would wait on a window that handles no messages.
    std::unique_ptr<dt::RawClient> connection(new dt::RawClient);
    dt::RawClient &client = *connection;
    if (!window || !client.connect(window, service.c_str(), topic.c_str())) {
        printf("%s: no server answered\n", label.c_str());
        return 1;
    }
    int first = items == 0 ? 0 : 1, last = items == 0 ? 0 : items;
    for (int i = first; i <= last; i++)
        if (!client.advise(itemName(i).c_str(), false, false)) {
            printf("%s: advise %s refused\n", label.c_str(), itemName(i).c_str());
            return 1;
        }
    std::vector<long> finalArrival(last + 1, -1);
    int finalCount = 0;
    unsigned long received = 0;
    DWORD start = GetTickCount(), firstTick = 0, lastTick = 0;
    while (finalCount < last - first + 1 && GetTickCount() - start < Deadline) {
        std::vector<dt::RawUpdate> updates = client.updatesWithin(Slice);
        long arrival = nowOfDay();
        for (const dt::RawUpdate &update : updates) {
            char name[64] = "";
            GlobalGetAtomNameA(update.item, name, sizeof name);
            // A DDE client acknowledges what asks for it (the ack takes the item's
            // atom); the agent paces a link by these acks.
            if (update.ackRequested)
                client.acknowledge(update);
            else
                GlobalDeleteAtom(update.item);
            int index = items == 0 ? 0 : atoi(name + 7);
            if (index < first || index > last || !update.hasData)
                continue;
            if (!received++)
                firstTick = GetTickCount();
            lastTick = GetTickCount();
            if (update.value == steps && finalArrival[index] < 0) {
                finalArrival[index] = arrival;
                finalCount++;
            }
        }
    }
    client.terminate();
    connection.reset();
    dt::CommandRun finished = dt::runCommand("\"" + service + "\" \"" + topic + "\" request Finished");
    long finishedAt = millisecondsOfDay(finished.output);
    long slowest = 0;
    for (int i = first; i <= last; i++)
        if (finalArrival[i] >= 0 && finalArrival[i] - finishedAt > slowest)
            slowest = finalArrival[i] - finishedAt;
    double seconds = (lastTick - firstTick) / 1000.0;
    printf("%s: %lu updates, %.0f updates/s while they came; ", label.c_str(), received,
           seconds > 0 ? received / seconds : 0.0);
    if (finishedAt < 0)
        printf("the server's last step is unknown: %s", finished.output.c_str());
    else if (finalCount < last - first + 1)
        printf("last values of %d of %d items arrived in time\n", finalCount, last - first + 1);
    else
        printf("every item's last value %ld ms after the server's last step\n", slowest);
    return 0;
}
