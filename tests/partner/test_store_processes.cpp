// The share store between processes: shares outlive the process that added
// them, two processes working at once lose and corrupt nothing, a damaged
// record is refused without harming the others, and a busy or abandoned
// store lock is handled.
#include "partnertest.h"
#include "sharestore.h"
#include <doctest/doctest.h>

#include <map>

using namespace pt;

static DWORD runWorker(const std::string &arguments)
{
    ChildProcess worker;
    DWORD exitCode = 0xFFFFFFFF;
    REQUIRE(worker.start("storeworker.exe", arguments));
    REQUIRE(worker.waitForExit(&exitCode));
    return exitCode;
}

TEST_CASE("shares are seen at once by other processes and outlive their writer")
{
    ShareCleanup cleanup;
    TestShare mine(cleanup("PT_PERSIST_A$"));
    mine.topic = "FromTest";
    REQUIRE(addShare(mine) == NDDE_NO_ERROR);
    CHECK(runWorker("check PT_PERSIST_A$ FromTest") == 0);
    CHECK(runWorker("check PT_PERSIST_A$ Other") == 1000);
    CHECK(runWorker("add pt_persist_a$ Other") == NDDE_SHARE_ALREADY_EXIST);

    cleanup("PT_PERSIST_B$");
    REQUIRE(runWorker("add PT_PERSIST_B$ FromWorker") == NDDE_NO_ERROR);
    ReadShare read = readShare("PT_PERSIST_B$");
    REQUIRE(read.result == NDDE_NO_ERROR);
    CHECK(std::string(read.info()->topicName) == "FromWorker");

    REQUIRE(deleteShare("PT_PERSIST_B$") == NDDE_NO_ERROR);
    CHECK(runWorker("check PT_PERSIST_B$ FromWorker") == NDDE_SHARE_NOT_EXIST);
}

TEST_CASE("two processes adding and deleting at once lose and corrupt nothing")
{
    const int count = 60;
    const char *prefixes[] = {"PT_RACEA", "PT_RACEB"};
    ShareCleanup cleanup;
    for (int i = 0; i < count; i++) {
        cleanup("PT_SHARED_" + std::to_string(i) + "$");
        for (auto prefix : prefixes)
            cleanup(std::string(prefix) + "_" + std::to_string(i) + "$");
    }
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, "PT.RaceStart");
    REQUIRE(go);
    ChildProcess workers[2];
    for (int w = 0; w < 2; w++)
        REQUIRE(workers[w].start("storeworker.exe", std::string("race ") + prefixes[w] + " " +
                                                        std::to_string(count) + " PT.RaceStart"));
    for (auto &worker : workers)
        REQUIRE(worker.waitForLine("waiting"));
    SetEvent(go);
    for (auto &worker : workers) {
        DWORD exitCode = 0xFFFFFFFF;
        REQUIRE(worker.waitForExit(&exitCode, 4 * ProcessTimeout));
        CHECK(exitCode == 0);
    }
    CloseHandle(go);

    // Each contested name went to exactly one of them, and holds its record.
    std::map<int, std::string> winners;
    for (int w = 0; w < 2; w++) {
        for (auto &line : workers[w].outputLines()) {
            int i, result;
            if (sscanf(line.c_str(), "%d %d", &i, &result) != 2)
                continue;
            CHECK((result == NDDE_NO_ERROR || result == NDDE_SHARE_ALREADY_EXIST));
            if (result == NDDE_NO_ERROR) {
                CHECK(winners.count(i) == 0);
                winners[i] = prefixes[w];
            }
        }
    }
    CHECK(winners.size() == (size_t)count);
    for (auto &winner : winners) {
        ReadShare read = readShare("PT_SHARED_" + std::to_string(winner.first) + "$");
        REQUIRE(read.result == NDDE_NO_ERROR);
        CHECK(std::string(read.info()->topicName) == winner.second);
    }
    // Their own shares: the even ones stayed whole, the odd ones are gone.
    for (auto prefix : prefixes) {
        for (int i = 0; i < count; i++) {
            ReadShare read = readShare(std::string(prefix) + "_" + std::to_string(i) + "$");
            if (i % 2 == 0) {
                REQUIRE(read.result == NDDE_NO_ERROR);
                CHECK(std::string(read.info()->topicName) == prefix);
            } else {
                CHECK(read.result == NDDE_SHARE_NOT_EXIST);
            }
        }
    }
}

// ---- Damaged records -------------------------------------------------------

static HKEY openStoreKey()
{
    HKEY key = nullptr;
    RegCreateKeyExA(HKEY_LOCAL_MACHINE, ShareStoreKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                    &key, nullptr);
    return key;
}

static std::vector<BYTE> storedRecord(const char *valueName)
{
    HKEY key = openStoreKey();
    DWORD size = 0;
    RegQueryValueExA(key, valueName, nullptr, nullptr, nullptr, &size);
    std::vector<BYTE> record(size);
    RegQueryValueExA(key, valueName, nullptr, nullptr, record.data(), &size);
    RegCloseKey(key);
    return record;
}

static void storeRecord(const char *valueName, DWORD type, const std::vector<BYTE> &record)
{
    HKEY key = openStoreKey();
    REQUIRE(RegSetValueExA(key, valueName, 0, type, record.data(), record.size()) ==
            ERROR_SUCCESS);
    RegCloseKey(key);
}

TEST_CASE("a damaged record answers code 22 and harms no other share")
{
    ShareCleanup cleanup;
    TestShare broken(cleanup("PT_BROKEN$")), whole(cleanup("PT_WHOLE$"));
    broken.topic = "Damaged soon";
    whole.topic = "Stays whole";
    whole.items = {{"Item", Advise}};
    REQUIRE(addShare(broken) == NDDE_NO_ERROR);
    REQUIRE(addShare(whole) == NDDE_NO_ERROR);
    std::vector<BYTE> record = storedRecord("PT_BROKEN$");
    REQUIRE(record.size() == 8 + broken.packedSize());

    SUBCASE("a changed byte") {
        record[8 + 112 + broken.app.size() + 3] ^= 0x20;
        storeRecord("PT_BROKEN$", REG_BINARY, record);
    }
    SUBCASE("a record cut short") {
        record.resize(record.size() - 1);
        storeRecord("PT_BROKEN$", REG_BINARY, record);
    }
    SUBCASE("an empty record") {
        storeRecord("PT_BROKEN$", REG_BINARY, {});
    }
    SUBCASE("a record stored as text") {
        storeRecord("PT_BROKEN$", REG_SZ, {'a', 'b', 0});
    }
    SUBCASE("another share's sound record under this name") {
        storeRecord("PT_BROKEN$", REG_BINARY, storedRecord("PT_WHOLE$"));
    }

    CHECK(readShare("PT_BROKEN$").result == NDDE_SHARE_DATA_CORRUPTED);
    ReadShare read = readShare("PT_WHOLE$");
    REQUIRE(read.result == NDDE_NO_ERROR);
    CHECK(std::string(read.info()->topicName) == "Stays whole");
    CHECK(read.itemCount == 1);
    CHECK(hasShare("PT_BROKEN$"));
    CHECK(hasShare("PT_WHOLE$"));
    CHECK(addShare(broken) == NDDE_SHARE_ALREADY_EXIST);

    // The damaged share can be written over or deleted.
    REQUIRE(setShare("PT_BROKEN$", broken) == NDDE_NO_ERROR);
    read = readShare("PT_BROKEN$");
    REQUIRE(read.result == NDDE_NO_ERROR);
    CHECK(std::string(read.info()->topicName) == "Damaged soon");
    storeRecord("PT_BROKEN$", REG_BINARY, {1, 2, 3});
    CHECK(deleteShare("PT_BROKEN$") == NDDE_NO_ERROR);
    CHECK_FALSE(hasShare("PT_BROKEN$"));
}

TEST_CASE("values under the store's key that are not shares are not listed")
{
    ShareCleanup cleanup;
    const char *foreign = "Not a share, = name";
    storeRecord(foreign, REG_BINARY, {1, 2, 3});
    std::vector<std::string> listed = listShares();
    HKEY key = openStoreKey();
    RegDeleteValueA(key, foreign);
    RegCloseKey(key);
    for (auto &name : listed)
        CHECK(name != foreign);
}

TEST_CASE("a busy store answers code 11 in bounded time; an abandoned lock is taken over")
{
    ShareCleanup cleanup;
    TestShare share(cleanup("PT_LOCKED$"));
    ChildProcess holder;
    REQUIRE(holder.start("storeworker.exe", "hold"));
    REQUIRE(holder.waitForLine("holding"));

    DWORD start = GetTickCount();
    CHECK(addShare(share) == NDDE_INTERNAL_ERROR);
    DWORD waited = GetTickCount() - start;
    CHECK(waited >= StoreLockTimeout - 500);
    CHECK(waited < StoreLockTimeout + 10000);

    holder.terminate();    // dies holding the lock
    CHECK(addShare(share) == NDDE_NO_ERROR);
    CHECK(readShare("PT_LOCKED$").result == NDDE_NO_ERROR);
}
