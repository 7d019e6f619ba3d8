// ddecmd.exe against ddeserver.exe on one node: every transaction, its exit
// code and what it prints, driven as a user runs them.
#include "ddetooltest.h"

#include <doctest/doctest.h>
#include <stdio.h>

using dt::CommandRun;
using dt::runCommand;
using dt::tempPath;
using dt::fileText;
using dt::writeText;
using dt::Summary;
using dt::summaryOf;
using dt::updateValues;

namespace {

const char Service[] = "TESTSRV";
const char Topic[] = "QUOTES";

// "ddecmd TESTSRV QUOTES <arguments>"
CommandRun ask(const std::string &arguments)
{
    return runCommand(std::string(Service) + " " + Topic + " " + arguments);
}

} // namespace

TEST_CASE("request and poke: text, a registered format and a 4 MB file")
{
    dt::RunningServer server;
    REQUIRE(server.start(Service, Topic, "/rate:0 /item:Greeting=hello"));

    CommandRun greeting = ask("request Greeting");
    CHECK(greeting.exitCode == 0);
    CHECK(greeting.output == "hello\r\n");

    CHECK(ask("poke Greeting \"good morning\"").exitCode == 0);
    CHECK(ask("request greeting").output == "good morning\r\n");

    // Bytes of a registered format come back as hex, and only in that format.
    CHECK(ask("poke Blob AB+ TessaTestBlob").exitCode == 0);
    CommandRun blob = ask("request Blob TessaTestBlob");
    CHECK(blob.exitCode == 0);
    CHECK(blob.output == "41 42 2B\r\n");
    CHECK(ask("request Blob").exitCode == 3);
    CHECK(ask("request Missing").exitCode == 3);

    std::string big(4 * 1024 * 1024, '\0');
    unsigned seed = 12345;
    for (char &byte : big)
        byte = (char)((seed = seed * 1103515245 + 12345) >> 16);
    std::string pokedPath = tempPath("ddetools_poked.bin"), readPath = tempPath("ddetools_read.bin");
    REQUIRE(writeText(pokedPath, big));
    CHECK(ask("poke Big @" + pokedPath + " TessaTestBinary /timeout:20000").exitCode == 0);
    CHECK(ask("request Big TessaTestBinary /timeout:20000 /out:" + readPath).exitCode == 0);
    CHECK(fileText(readPath) == big);
    DeleteFileA(pokedPath.c_str());
    DeleteFileA(readPath.c_str());

    CHECK(server.close());
}

TEST_CASE("execute: recorded, logged, refused, and ending the conversation")
{
    std::string logPath = tempPath("ddetools_executed.log");
    DeleteFileA(logPath.c_str());
    dt::RunningServer server;
    REQUIRE(server.start(Service, Topic, "/rate:0 /log:" + logPath));

    CHECK(ask("execute \"[open(prices)]\"").exitCode == 0);
    CommandRun refused = ask("execute [fail]");
    CHECK(refused.exitCode == 3);
    CHECK(refused.output.find("refused") != std::string::npos);
    CHECK(ask("execute [terminate]").exitCode == 0);

    std::string executed = "[open(prices)]\r\n[fail]\r\n[terminate]\r\n";
    CHECK(ask("request Executed").output == executed);
    CHECK(fileText(logPath) == executed);

    CHECK(server.close());
    DeleteFileA(logPath.c_str());
}

TEST_CASE("no server, a hung server and a wrong command line")
{
    CommandRun nobody = runCommand("NOSUCHSERVER TOPIC request Item");
    CHECK(nobody.exitCode == 2);
    CHECK(nobody.output.find("no DDE server answered") != std::string::npos);

    CHECK(ask("request").exitCode == 1);
    CHECK(ask("advise Counter soon").exitCode == 1);
    CHECK(ask("request Item /timeout:0").exitCode == 1);

    dt::RunningServer server;
    REQUIRE(server.start(Service, Topic, "/rate:0 /item:Greeting=hello"));
    dt::RunningCommand hanging;
    REQUIRE(hanging.start(std::string(Service) + " " + Topic + " execute [sleep:6000] /timeout:1000"));
    CommandRun timedOut = hanging.finish();
    CHECK(timedOut.exitCode == 4);
    CHECK(timedOut.output.find("in time") != std::string::npos);
    // Awake again, the server answers as before.
    CHECK(ask("request Greeting /timeout:20000").output == "hello\r\n");
    CHECK(server.close());
}

TEST_CASE("hot advise: every value in order, pokes reach the link, the server's end ends it")
{
    dt::RunningServer server;
    REQUIRE(server.start(Service, Topic, "/rate:200 /item:Greeting=hello"));

    Summary counted = summaryOf(ask("advise Counter 2 /count").output);
    REQUIRE(counted.read);
    CHECK(counted.count >= 20);
    CHECK(counted.inOrder);
    CHECK(counted.last - counted.first + 1 == counted.count);

    dt::RunningCommand watching;
    REQUIRE(watching.start(std::string(Service) + " " + Topic + " advise Greeting 4"));
    // The link stands once a poke shows up in the watcher's output.
    pt::waitUntil([&] {
        ask("poke Greeting first");
        return watching.process().output().find("first") != std::string::npos;
    }, 3000);
    CHECK(ask("poke Greeting second").exitCode == 0);
    CommandRun watched = watching.finish();
    CHECK(watched.exitCode == 0);
    std::vector<std::string> values = updateValues(watched.output);
    REQUIRE(values.size() >= 2);
    CHECK(values.back() == "second");
    CHECK(values[values.size() - 2] == "first");

    dt::RunningCommand abandoned;
    REQUIRE(abandoned.start(std::string(Service) + " " + Topic + " advise Counter 20"));
    CHECK(pt::waitUntil([&] { return !updateValues(abandoned.process().output()).empty(); }, 10000));
    CHECK(server.close());
    CommandRun ended = abandoned.finish();
    CHECK(ended.exitCode == 5);
    CHECK(ended.output.find("ended the conversation") != std::string::npos);
}

TEST_CASE("warm advise and acknowledged updates")
{
    dt::RunningServer server;
    REQUIRE(server.start(Service, Topic, "/rate:50"));

    std::vector<std::string> warm = updateValues(ask("advise Counter 2 /warm").output);
    CHECK(warm.size() >= 5);
    for (const std::string &value : warm)
        CHECK(value == "changed");

    CommandRun acknowledged = ask("advise Counter 2 /ackreq /count");
    CHECK(acknowledged.exitCode == 0);
    Summary summary = summaryOf(acknowledged.output);
    REQUIRE(summary.read);
    CHECK(summary.count >= 5);
    CHECK(summary.inOrder);
    CHECK(server.close());
}
