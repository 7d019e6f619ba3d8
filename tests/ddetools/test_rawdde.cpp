// ddeserver.exe's advise links as the DDE protocol has them, seen by a client
// speaking raw DDE messages: fAckReq holds the next update back until the
// last one is acknowledged, fDeferUpd sends notices without data.
#include "ddetooltest.h"
#include "rawclient.h"

#include <doctest/doctest.h>

namespace {

const char Service[] = "RAWSRV";
const char Topic[] = "RAWTOPIC";

} // namespace

TEST_CASE("advise links: acknowledged updates wait, warm links notify, unadvise stops them")
{
    dt::RunningServer server;
    REQUIRE(server.start(Service, Topic, "/rate:200"));
    dt::RawClient client;
    REQUIRE(client.connect(server.window(), Service, Topic));

    // One update, then nothing more until it is acknowledged.
    REQUIRE(client.advise("Counter", true, false));
    std::vector<dt::RawUpdate> held = client.takeUpdates(5000);
    REQUIRE(held.size() == 1);
    CHECK(held[0].hasData);
    CHECK(held[0].ackRequested);
    CHECK(client.updatesWithin(300).empty());
    client.acknowledge(held[0]);
    std::vector<dt::RawUpdate> next = client.takeUpdates(5000);
    REQUIRE(next.size() == 1);
    // The counter went on meanwhile: the update after the ack is its latest value.
    CHECK(next[0].value > held[0].value + 1);
    client.acknowledge(next[0]);

    // A warm link: notices without data, none waiting for an ack.
    REQUIRE(client.advise("Counter", false, true));
    client.takeUpdates(0);              // any the hot link sent before the advise
    CHECK(client.waitForUpdates(5000, [](const std::vector<dt::RawUpdate> &seen) { return seen.size() >= 5; }));
    for (const dt::RawUpdate &notice : client.takeUpdates(0))
        CHECK_FALSE(notice.hasData);

    REQUIRE(client.unadvise("Counter"));
    client.updatesWithin(100);          // any sent before the unadvise
    CHECK(client.updatesWithin(300).empty());
    CHECK(client.terminate());
    CHECK(server.close());
}
