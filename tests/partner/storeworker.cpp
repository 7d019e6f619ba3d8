// A second program working on the share store through Tessaflat.dll, so the
// tests can watch shares cross processes and processes meet in the store.
//
//   storeworker add NAME TOPIC     exit code: NDdeShareAdd's result
//   storeworker check NAME TOPIC   exit code: 0 when the share has that
//                                  topic, 1000 when another, else the code
//   storeworker race PREFIX COUNT EVENT
//       writes "waiting", waits for the named event, then for i < COUNT adds PREFIX_i$ and the
//       contested SHARED_i$ (topic PREFIX) and writes "i <result>" for the
//       latter; deletes its own odd-numbered shares; writes "done"
//   storeworker hold               holds the store's lock, writes "holding",
//                                  and sleeps until it is ended
#include "partnertest.h"
#include "sharestore.h"

#include <cstdio>
#include <cstdlib>

using namespace pt;

static int add(const char *name, const char *topic)
{
    TestShare share(name);
    share.topic = topic;
    return addShare(share);
}

static int check(const char *name, const char *topic)
{
    ReadShare read = readShare(name);
    if (read.result != NDDE_NO_ERROR)
        return read.result;
    return std::string(read.info()->topicName) == topic ? 0 : 1000;
}

static int race(const std::string &prefix, int count, const char *eventName)
{
    HANDLE go = OpenEventA(SYNCHRONIZE, FALSE, eventName);
    printf("waiting\n");
    fflush(stdout);
    if (!go || WaitForSingleObject(go, ProcessTimeout) != WAIT_OBJECT_0)
        return 1;
    for (int i = 0; i < count; i++) {
        std::string own = prefix + "_" + std::to_string(i) + "$";
        if (add(own.c_str(), prefix.c_str()) != NDDE_NO_ERROR)
            return 2;
        std::string shared = "PT_SHARED_" + std::to_string(i) + "$";
        printf("%d %d\n", i, add(shared.c_str(), prefix.c_str()));
        fflush(stdout);
    }
    for (int i = 1; i < count; i += 2)
        if (deleteShare(prefix + "_" + std::to_string(i) + "$") != NDDE_NO_ERROR)
            return 3;
    printf("done\n");
    fflush(stdout);
    return 0;
}

static int hold()
{
    HANDLE lock = CreateMutexA(nullptr, FALSE, StoreMutexName);
    if (!lock || WaitForSingleObject(lock, ProcessTimeout) != WAIT_OBJECT_0)
        return 1;
    printf("holding\n");
    fflush(stdout);
    Sleep(ProcessTimeout * 4);
    return 0;
}

int main(int argc, char **argv)
{
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "add" && argc == 4)
        return add(argv[2], argv[3]);
    if (command == "check" && argc == 4)
        return check(argv[2], argv[3]);
    if (command == "race" && argc == 5)
        return race(argv[2], atoi(argv[3]), argv[4]);
    if (command == "hold")
        return hold();
    fprintf(stderr, "usage: storeworker add|check NAME TOPIC | race PREFIX COUNT EVENT | hold\n");
    return 2000;
}
