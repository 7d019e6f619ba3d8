// ddecmd.exe against ddeserver.exe on one node: every transaction, its exit
// code and what it prints, driven as a user runs them.
#include "ddetooltest.h"

#include <ddeml.h>
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

// Runs "advise ... /count" to its end; its summary.
Summary countUpdates(const std::string &arguments)
{
    CommandRun run = ask(arguments + " /count");
    CHECK(run.exitCode == 0);
    return summaryOf(run.output);
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
    // ddecmd gives up at its timeout, long before the server wakes.
    DWORD start = GetTickCount();
    CommandRun timedOut = ask("execute [sleep:10000] /timeout:1000");
    CHECK(timedOut.exitCode == 4);
    CHECK(timedOut.output.find("in time") != std::string::npos);
    CHECK(GetTickCount() - start < 8000);
    // Awake again, the server answers as before.
    CHECK(pt::waitUntil([] { return ask("request Greeting").output == "hello\r\n"; }, 20000));
    CHECK(server.close());
}

TEST_CASE("started by name alone: service ddeserver, every topic asked for by name")
{
    pt::ChildProcess tooMany;
    REQUIRE(tooMany.start("ddeserver.exe", "ONE TWO THREE"));
    DWORD exitCode = 0;
    CHECK((tooMany.waitForExit(&exitCode) && exitCode == 1));

    dt::RunningServer server;
    REQUIRE(server.start("", "", "/rate:0 /item:Greeting=hello"));
    CHECK(runCommand("DDESERVER QUOTES request Greeting").output == "hello\r\n");
    CHECK(runCommand("ddeserver PRICES execute [buy]").exitCode == 0);
    CHECK(runCommand("ELSEWHERE QUOTES request Greeting").exitCode == 2);
    CHECK(server.close());
}

TEST_CASE("hot advise: every value in order, pokes reach the link, the server's end ends it")
{
    dt::RunningServer server;
    REQUIRE(server.start(Service, Topic, "/rate:1000 /item:Greeting=hello"));

    // Updates still arrive while the link is ended.
    Summary counted = countUpdates("advise Counter 2 /timeout:20000");
    REQUIRE(counted.read);
    CHECK(counted.count >= 20);
    CHECK(counted.inOrder);
    CHECK(counted.last - counted.first + 1 == counted.count);

    dt::RunningCommand watching;
    // The link stands once a poke shows up in the watcher's output; a loaded
    // machine starts each poke's program slowly.
    REQUIRE(watching.start(std::string(Service) + " " + Topic + " advise Greeting 15"));
    CHECK(pt::waitUntil([&] {
        ask("poke Greeting first");
        return watching.process().output().find("first") != std::string::npos;
    }, 8000));
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

    CommandRun warmRun = ask("advise Counter 2 /warm");
    CHECK(warmRun.exitCode == 0);
    std::vector<std::string> warm = updateValues(warmRun.output);
    CHECK(warm.size() >= 5);
    for (const std::string &value : warm)
        CHECK(value == "changed");

    Summary summary = countUpdates("advise Counter 2 /ackreq");
    REQUIRE(summary.read);
    CHECK(summary.count >= 5);
    CHECK(summary.inOrder);
    CHECK(server.close());
}

namespace {

// A DDEML server in this test program: DDEMLSRV|TOPIC answers every request
// with "answer".
DWORD ddemlInstance;

HDDEDATA CALLBACK ddemlServer(UINT type, UINT format, HCONV, HSZ, HSZ item, HDDEDATA, ULONG_PTR, ULONG_PTR)
{
    if (type == XTYP_CONNECT)
        return (HDDEDATA)TRUE;
    if (type == XTYP_REQUEST && format == CF_TEXT)
        return DdeCreateDataHandle(ddemlInstance, (LPBYTE) "answer", 7, 0, item, CF_TEXT, 0);
    return NULL;
}

} // namespace

TEST_CASE("repeated requests to a DDEML server")
{
    REQUIRE(DdeInitializeA(&ddemlInstance, ddemlServer, APPCLASS_STANDARD, 0) == DMLERR_NO_ERROR);
    HSZ service = DdeCreateStringHandleA(ddemlInstance, "DDEMLSRV", CP_WINANSI);
    REQUIRE(DdeNameService(ddemlInstance, service, NULL, DNS_REGISTER));

    // The server runs on this thread: its messages are handled while ddecmd runs.
    dt::RunningCommand requests;
    REQUIRE(requests.start("DDEMLSRV TOPIC request Item /repeat:20"));
    DWORD start = GetTickCount();
    while (requests.process().isRunning() && GetTickCount() - start < pt::ProcessTimeout) {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
    }
    CommandRun run = requests.finish();
    CHECK(run.exitCode == 0);
    CHECK(run.output.find("answer\r\nmean_us ") == 0);

    DdeNameService(ddemlInstance, service, NULL, DNS_UNREGISTER);
    DdeFreeStringHandle(ddemlInstance, service);
    DdeUninitialize(ddemlInstance);
}
