// Shares added, read, changed, listed and deleted through Tessaflat.dll and
// the real Tessaseg.dll, and every refusal the store gives for them.
#include "partnertest.h"
#include "partnerlink.h"
#include <doctest/doctest.h>

#include <algorithm>
#include <cstring>

using namespace pt;

// The share read back holds what was written, field by field.
static void checkSameShare(const ReadShare &read, TestShare &written)
{
    REQUIRE(read.result == NDDE_NO_ERROR);
    const ShareInfo *info = read.info();
    std::string upperName = written.name;
    CharUpperBuffA(&upperName[0], upperName.size());
    CHECK(std::string(info->shareName) == upperName);
    CHECK(std::string(info->appName) == written.app);
    CHECK(std::string(info->topicName) == written.topic);
    CHECK(info->password1Length == written.password1.size());
    CHECK(std::string((const char *)info->password1) == written.password1);
    CHECK(info->permissions1 == written.permissions1);
    CHECK(info->password2Length == written.password2.size());
    CHECK(std::string((const char *)info->password2) == written.password2);
    CHECK(info->permissions2 == written.permissions2);
    CHECK(std::string(info->firstItem) == written.firstItem);
    REQUIRE(read.itemCount == written.items.size());
    REQUIRE(info->addItemCount == (LONG)written.items.size());
    for (size_t i = 0; i < written.items.size(); i++) {
        CHECK(std::string(info->addItems[i].itemName) == written.items[i].first);
        CHECK(info->addItems[i].permissions == written.items[i].second);
    }
    // The partner lays the share out exactly as the library packs it.
    CHECK(read.total == written.packedSize());
}

static TestShare fullShare(const std::string &name)
{
    TestShare share(name);
    share.app = "Excel";
    share.topic = "Budget 1997.xls";
    share.password1 = "ALPHA";
    share.permissions1 = Request | Advise | Poke | Execute | StartApp;
    share.password2 = "BETA2";
    share.permissions2 = Request;
    share.firstItem = "R1C1";
    share.items = {{"R1C2", Request}, {"R2C1:R9C9", Advise | Poke}, {"Totals", Poke}};
    return share;
}

TEST_CASE("a share with passwords and items reads back as it was added")
{
    ShareCleanup cleanup;
    TestShare share = fullShare(cleanup("PT_ROUND$"));
    REQUIRE(addShare(share) == NDDE_NO_ERROR);
    checkSameShare(readShare(share.name), share);
    CHECK(hasShare("PT_ROUND$"));

    SUBCASE("a share is found whatever the case of its name") {
        checkSameShare(readShare("pt_round$"), share);
    }
    SUBCASE("a share with nothing but a name and a topic") {
        TestShare bare(cleanup("PT_BARE$"));
        bare.app = "";
        REQUIRE(addShare(bare) == NDDE_NO_ERROR);
        checkSameShare(readShare(bare.name), bare);
    }
    SUBCASE("a name given in lower case is stored in upper case") {
        TestShare lower(cleanup("pt_lower$"));
        REQUIRE(addShare(lower) == NDDE_NO_ERROR);
        checkSameShare(readShare("PT_LOWER$"), lower);
        CHECK(hasShare("PT_LOWER$"));
    }
    SUBCASE("a password slot with a zero byte inside keeps its length") {
        TestShare slotted(cleanup("PT_SLOT$"));
        slotted.password1 = std::string("AB\0DE", 5);
        REQUIRE(addShare(slotted) == NDDE_NO_ERROR);
        ReadShare read = readShare(slotted.name);
        REQUIRE(read.result == NDDE_NO_ERROR);
        CHECK(read.info()->password1Length == 5);
        CHECK(std::string((const char *)read.info()->password1) == "AB");
        CHECK(read.total == slotted.packedSize());
    }
}

TEST_CASE("a share's record is replaced as a whole by NDdeShareSetInfo")
{
    ShareCleanup cleanup;
    TestShare share = fullShare(cleanup("PT_EDIT$"));
    REQUIRE(addShare(share) == NDDE_NO_ERROR);

    TestShare changed("PT_EDIT$");
    changed.app = "Word";
    changed.topic = "Letter.doc";
    changed.password2 = "NEW";
    changed.permissions2 = Poke;
    changed.items = {{"Bookmark1", Request}};
    REQUIRE(setShare("PT_EDIT$", changed) == NDDE_NO_ERROR);
    checkSameShare(readShare("PT_EDIT$"), changed);

    SUBCASE("the name may differ in case") {
        changed.name = "pt_edit$";
        changed.topic = "Other";
        REQUIRE(setShare("Pt_Edit$", changed) == NDDE_NO_ERROR);
        checkSameShare(readShare("PT_EDIT$"), changed);
    }
    SUBCASE("a share cannot be renamed by changing it") {
        TestShare renamed = changed;
        renamed.name = cleanup("PT_OTHER$");
        CHECK(setShare("PT_EDIT$", renamed) == NDDE_INVALID_PARAMETER);
        CHECK_FALSE(hasShare("PT_OTHER$"));
        // Nor to a name that only a collation takes for the same (0xAD is a soft hyphen).
        renamed.name = cleanup("PT_EDIT\xAD$");
        CHECK(setShare("PT_EDIT$", renamed) == NDDE_INVALID_PARAMETER);
        CHECK_FALSE(hasShare("PT_EDIT\xAD$"));
        checkSameShare(readShare("PT_EDIT$"), changed);
    }
    SUBCASE("a missing share cannot be changed") {
        TestShare missing(cleanup("PT_MISSING$"));
        CHECK(setShare("PT_MISSING$", missing) == NDDE_SHARE_NOT_EXIST);
        CHECK(readShare("PT_MISSING$").result == NDDE_SHARE_NOT_EXIST);
    }
    SUBCASE("a change the rules refuse leaves the share as it was") {
        TestShare invalid = changed;
        invalid.topic = "";
        CHECK(setShare("PT_EDIT$", invalid) == NDDE_INVALID_TOPIC);
        checkSameShare(readShare("PT_EDIT$"), changed);
    }
}

TEST_CASE("shares are listed by name and deleted")
{
    ShareCleanup cleanup;
    std::vector<std::string> names = {cleanup("PT_LIST1$"), cleanup("PT_LIST2$"),
                                      cleanup("PT_LIST3")};
    for (auto &name : names) {
        TestShare share(name);
        REQUIRE(addShare(share) == NDDE_NO_ERROR);
    }
    std::vector<std::string> listed = listShares();
    for (auto &name : names)
        CHECK(std::count(listed.begin(), listed.end(), name) == 1);

    REQUIRE(deleteShare("pt_list2$") == NDDE_NO_ERROR);
    listed = listShares();
    CHECK(std::count(listed.begin(), listed.end(), "PT_LIST2$") == 0);
    CHECK(std::count(listed.begin(), listed.end(), "PT_LIST1$") == 1);
    CHECK(readShare("PT_LIST2$").result == NDDE_SHARE_NOT_EXIST);
    CHECK(deleteShare("PT_LIST2$") == NDDE_SHARE_NOT_EXIST);
}

// A share whose name holds `byte` is either refused when added, or found
// under the name it was given for every operation and listed exactly once.
TEST_CASE("every byte in a share name is refused when added or round-trips")
{
    const std::string prefix = "PT_BYTE";
    int accepted = 0;
    for (int byte = 0x01; byte <= 0xFF; byte++) {
        CAPTURE(byte);
        ShareCleanup cleanup;
        TestShare share(cleanup(prefix + (char)byte));
        UINT added = addShare(share);
        std::vector<std::string> listed = listShares();
        auto found = std::find_if(listed.begin(), listed.end(), [&](const std::string &name) {
            return name.size() == share.name.size() && name.compare(0, prefix.size(), prefix) == 0;
        });
        if (added != NDDE_NO_ERROR) {
            CHECK(added == NDDE_INVALID_SHARE);
            CHECK_FALSE(NDdeIsValidShareName((LPSTR)share.name.c_str()));
            CHECK(found == listed.end());
            continue;
        }
        accepted++;
        CHECK(NDdeIsValidShareName((LPSTR)share.name.c_str()));
        REQUIRE(found != listed.end());
        CHECK(std::count(listed.begin(), listed.end(), *found) == 1);
        checkSameShare(readShare(share.name), share);
        CHECK(readShare(*found).result == NDDE_NO_ERROR);
        share.topic = "Changed";
        CHECK(setShare(share.name, share) == NDDE_NO_ERROR);
        checkSameShare(readShare(share.name), share);
        CHECK(deleteShare(share.name) == NDDE_NO_ERROR);
        CHECK_FALSE(hasShare(*found));
    }
    // Every printable ASCII character but `\`, `,` and `=` is one of them.
    CHECK(accepted >= 0x7E - 0x20 + 1 - 3);
}

TEST_CASE("code 2 gives the size and item count a share needs")
{
    ShareCleanup cleanup;
    TestShare share = fullShare(cleanup("PT_SIZE$"));
    REQUIRE(addShare(share) == NDDE_NO_ERROR);
    const DWORD needed = share.packedSize();

    ReadShare none = readShare(share.name, 0);
    CHECK(none.result == NDDE_BUF_TOO_SMALL);
    CHECK(none.total == needed);
    CHECK(none.itemCount == 3);

    ReadShare short1 = readShare(share.name, needed - 1);
    CHECK(short1.result == NDDE_BUF_TOO_SMALL);
    CHECK(short1.total == needed);
    CHECK(short1.itemCount == 3);
    CHECK(std::all_of(short1.buffer.begin(), short1.buffer.end(), [](BYTE b) { return b == 0; }));

    checkSameShare(readShare(share.name, needed), share);
}

TEST_CASE("code 2 gives the entry count and byte total of the share list")
{
    ShareCleanup cleanup;
    for (auto name : {"PT_ENUM_A$", "PT_ENUM_BB$"}) {
        TestShare share(cleanup(name));
        REQUIRE(addShare(share) == NDDE_NO_ERROR);
    }
    DWORD entries = 0, total = 0;
    REQUIRE(NDdeShareEnum(nullptr, 0, nullptr, 0, &entries, &total) == NDDE_BUF_TOO_SMALL);
    REQUIRE(entries >= 2);

    std::vector<BYTE> buffer(total + 16, 0xAA);
    DWORD shortEntries = 0, shortTotal = 0;
    CHECK(NDdeShareEnum(nullptr, 0, buffer.data(), total - 1, &shortEntries, &shortTotal) ==
          NDDE_BUF_TOO_SMALL);
    CHECK(shortEntries == entries);
    CHECK(shortTotal == total);
    CHECK(std::all_of(buffer.begin(), buffer.end(), [](BYTE b) { return b == 0xAA; }));

    DWORD readEntries = 0, readTotal = 0;
    REQUIRE(NDdeShareEnum(nullptr, 0, buffer.data(), total, &readEntries, &readTotal) ==
            NDDE_NO_ERROR);
    CHECK(readEntries == entries);
    CHECK(readTotal == total);
    // The names, each ended by a zero byte, fill the total exactly.
    DWORD counted = 0, position = 0;
    while (position < total) {
        position += strlen((const char *)&buffer[position]) + 1;
        counted++;
    }
    CHECK(position == total);
    CHECK(counted == entries);
    CHECK(buffer[total] == 0xAA);
}

// One way of breaking a share and the code the store answers.
struct Refusal {
    const char *what;
    void (*breakShare)(TestShare &share);
    UINT code;
};

static const Refusal Refusals[] = {
    {"empty name", [](TestShare &s) { s.name = ""; }, NDDE_INVALID_SHARE},
    {"only a dollar", [](TestShare &s) { s.name = "$"; }, NDDE_INVALID_SHARE},
    {"dollar inside", [](TestShare &s) { s.name = "PT$X"; }, NDDE_INVALID_SHARE},
    {"two dollars", [](TestShare &s) { s.name = "PT$$"; }, NDDE_INVALID_SHARE},
    {"backslash", [](TestShare &s) { s.name = "PT\\X$"; }, NDDE_INVALID_SHARE},
    {"comma", [](TestShare &s) { s.name = "PT,X$"; }, NDDE_INVALID_SHARE},
    {"equals sign", [](TestShare &s) { s.name = "PT=X$"; }, NDDE_INVALID_SHARE},
    {"control character", [](TestShare &s) { s.name = "PT\tX$"; }, NDDE_INVALID_SHARE},
    {"64 characters", [](TestShare &s) { s.name = std::string(63, 'N') + "$"; },
     NDDE_INVALID_SHARE},
    {"empty topic", [](TestShare &s) { s.topic = ""; }, NDDE_INVALID_TOPIC},
    {"256-character topic", [](TestShare &s) { s.topic = std::string(256, 't'); },
     NDDE_INVALID_TOPIC},
    {"topic with a control character", [](TestShare &s) { s.topic = "a\x01"; },
     NDDE_INVALID_TOPIC},
    {"15-character password #1", [](TestShare &s) { s.password1 = std::string(15, 'P'); },
     NDDE_INVALID_PASSWORD},
    {"password #2 with a control character", [](TestShare &s) { s.password2 = "AB\x7F"; },
     NDDE_INVALID_PASSWORD},
    {"256-character application", [](TestShare &s) { s.app = std::string(256, 'a'); },
     NDDE_INVALID_APPNAME},
    {"256-character first item", [](TestShare &s) { s.firstItem = std::string(256, 'i'); },
     NDDE_INVALID_ITEMNAME},
    {"empty additional item", [](TestShare &s) { s.items = {{"A", Request}, {"", Poke}}; },
     NDDE_INVALID_ITEMNAME},
    {"256-character additional item",
     [](TestShare &s) { s.items = {{std::string(256, 'i'), Request}}; }, NDDE_INVALID_ITEMNAME},
};

TEST_CASE("the store refuses what the validity rules refuse, and stores nothing")
{
    ShareCleanup cleanup;
    for (const Refusal &refusal : Refusals) {
        CAPTURE(refusal.what);
        TestShare share("PT_RULES$");
        refusal.breakShare(share);
        cleanup(share.name);
        CHECK(addShare(share) == refusal.code);
        CHECK_FALSE(hasShare(share.name));
    }
}

TEST_CASE("the longest values the rules allow are stored")
{
    ShareCleanup cleanup;
    TestShare share(cleanup(std::string(62, 'L') + "$"));
    share.app = std::string(255, 'a');
    share.topic = std::string(255, 't');
    share.password1 = std::string(14, 'P');
    share.password2 = "\xA0\xFF~ ";
    share.firstItem = std::string(255, 'f');
    share.items = {{std::string(255, 'i'), Request}, {"\x80\x9F", Poke}};
    REQUIRE(addShare(share) == NDDE_NO_ERROR);
    checkSameShare(readShare(share.name), share);

    TestShare plain(cleanup("PT_NODOLLAR"));
    CHECK(addShare(plain) == NDDE_NO_ERROR);
}

TEST_CASE("a share name is taken once, whatever its case")
{
    ShareCleanup cleanup;
    TestShare first = fullShare(cleanup("PT_ONCE$"));
    REQUIRE(addShare(first) == NDDE_NO_ERROR);
    TestShare second("pt_once$");
    second.topic = "Another";
    CHECK(addShare(second) == NDDE_SHARE_ALREADY_EXIST);
    checkSameShare(readShare("PT_ONCE$"), first);
}

TEST_CASE("the share operations check their other arguments")
{
    ShareCleanup cleanup;
    TestShare share = fullShare(cleanup("PT_ARGS$"));
    char server[] = "\\\\ELSE WHERE";
    char name[] = "PT_ARGS$";
    DWORD total = 0, entries = 0;
    WORD items = 0;
    std::vector<BYTE> buffer(1024);

    SUBCASE("a server that is no node name is refused") {
        CHECK(NDdeShareAdd(server, 2, (LPBYTE)share.record(), 1024) == NDDE_INVALID_SERVER);
        CHECK(NDdeShareGetInfo(server, name, 2, buffer.data(), 1024, &total, &items) ==
              NDDE_INVALID_SERVER);
        CHECK(NDdeShareSetInfo(server, name, 2, (LPBYTE)share.record(), 1024, 0) ==
              NDDE_INVALID_SERVER);
        CHECK(NDdeShareEnum(server, 0, buffer.data(), 1024, &entries, &total) ==
              NDDE_INVALID_SERVER);
        CHECK(NDdeShareDel(server, name, 0) == NDDE_INVALID_SERVER);
        char empty[] = "\\\\", tooLong[] = "\\\\SIXTEENCHARSLONG";
        CHECK(NDdeShareDel(empty, name, 0) == NDDE_INVALID_SERVER);
        CHECK(NDdeShareDel(tooLong, name, 0) == NDDE_INVALID_SERVER);
    }
    SUBCASE("shares are read and written at level 2 and listed at level 0") {
        CHECK(NDdeShareAdd(nullptr, 1, (LPBYTE)share.record(), 1024) == NDDE_INVALID_LEVEL);
        REQUIRE(addShare(share) == NDDE_NO_ERROR);
        CHECK(NDdeShareGetInfo(nullptr, name, 0, buffer.data(), 1024, &total, &items) ==
              NDDE_INVALID_LEVEL);
        CHECK(NDdeShareSetInfo(nullptr, name, 1, (LPBYTE)share.record(), 1024, 0) ==
              NDDE_INVALID_LEVEL);
        CHECK(NDdeShareEnum(nullptr, 1, buffer.data(), 1024, &entries, &total) ==
              NDDE_INVALID_LEVEL);
    }
    SUBCASE("reserved arguments must be 0, count pointers present") {
        REQUIRE(addShare(share) == NDDE_NO_ERROR);
        CHECK(NDdeShareDel(nullptr, name, 1) == NDDE_INVALID_PARAMETER);
        CHECK(NDdeShareSetInfo(nullptr, name, 2, (LPBYTE)share.record(), 1024, 1) ==
              NDDE_INVALID_PARAMETER);
        CHECK(NDdeShareGetInfo(nullptr, name, 2, buffer.data(), 1024, nullptr, &items) ==
              NDDE_INVALID_PARAMETER);
        CHECK(NDdeShareGetInfo(nullptr, name, 2, buffer.data(), 1024, &total, nullptr) ==
              NDDE_INVALID_PARAMETER);
        CHECK(NDdeShareEnum(nullptr, 0, buffer.data(), 1024, nullptr, &total) ==
              NDDE_INVALID_PARAMETER);
        CHECK(hasShare("PT_ARGS$"));
    }
    SUBCASE("a missing or malformed name is an invalid share") {
        CHECK(NDdeShareGetInfo(nullptr, nullptr, 2, buffer.data(), 1024, &total, &items) ==
              NDDE_INVALID_SHARE);
        CHECK(NDdeShareDel(nullptr, nullptr, 0) == NDDE_INVALID_SHARE);
        char badName[] = "A$B";
        CHECK(NDdeShareDel(nullptr, badName, 0) == NDDE_INVALID_SHARE);
        CHECK(NDdeShareSetInfo(nullptr, nullptr, 2, (LPBYTE)share.record(), 1024, 0) ==
              NDDE_INVALID_SHARE);
    }
    SUBCASE("a negative item count is an invalid item list") {
        ShareInfo *record = share.record();
        record->addItemCount = -1;
        CHECK(NDdeShareAdd(nullptr, 2, (LPBYTE)record, 1024) == NDDE_INVALID_ITEM_LIST);
        CHECK_FALSE(hasShare("PT_ARGS$"));
    }
}

// The caller's size is whatever the caller says; the record is read by its
// own offsets, within the block the library packed it into.
TEST_CASE("a share record is taken whole whatever size the caller names")
{
    ShareCleanup cleanup;
    TestShare share = fullShare(cleanup("PT_SIZED$"));
    DWORD size = 0;
    SUBCASE("the size of the record's header") {
        size = sizeof(ShareInfo);
    }
    SUBCASE("a size cutting into the packed record") {
        size = share.packedSize() - 3;
    }
    SUBCASE("no size") {
        size = 0;
    }
    SUBCASE("a size larger than the packed record") {
        size = share.packedSize() + 500;
    }
    SUBCASE("the largest size") {
        size = 0xFFFFFFFF;
    }
    CAPTURE(size);
    CHECK(NDdeShareAdd(nullptr, 2, (LPBYTE)share.record(), size) == NDDE_NO_ERROR);
    checkSameShare(readShare(share.name), share);
    share.items.pop_back();
    CHECK(NDdeShareSetInfo(nullptr, (LPSTR) "PT_SIZED$", 2, (LPBYTE)share.record(), size, 0) ==
          NDDE_NO_ERROR);
    checkSameShare(readShare(share.name), share);
}

// A block handed to the partner itself, as the library would hand it: a
// global memory block, here one whose first item runs to the block's end.
TEST_CASE("the partner reads a share block only within the block")
{
    ShareCleanup cleanup;
    const PartnerThunkBlock *partner = (const PartnerThunkBlock *)GetProcAddress(
        GetModuleHandleA("Tessaseg.dll"), "thk_ThunkData16");
    REQUIRE(partner != nullptr);
    const DWORD size = ShareInfoHeaderSize + 8 + 4;
    HGLOBAL handle = GlobalAlloc(GMEM_FIXED | GMEM_ZEROINIT, size);
    REQUIRE(handle != nullptr);
    BYTE *block = (BYTE *)GlobalLock(handle);
    ShareTransferHeader *header = (ShareTransferHeader *)block;
    lstrcpyA(header->shareName, cleanup("PT_RAGGED$").c_str());
    // An empty application and passwords, topic "T", then "ITEM" without its end.
    header->appName = header->password1 = header->password2 = ShareInfoHeaderSize;
    header->topicName = ShareInfoHeaderSize + 1;
    lstrcpyA((char *)block + header->topicName, "T");
    header->firstItem = size - 4;
    memcpy(block + header->firstItem, "ITEM", 4);

    for (DWORD callerSize : {size, size + 4096, (DWORD)0xFFFFFFFF}) {
        CAPTURE(callerSize);
        DWORD args[] = {0, 2, (DWORD)(UINT_PTR)block, callerSize};
        CHECK(partner->operations[PartnerShareAdd](args) == NDDE_INVALID_PARAMETER);
        CHECK_FALSE(hasShare("PT_RAGGED$"));
    }
    // The same block with the item's end inside it is a share.
    block[size - 1] = 0;
    DWORD args[] = {0, 2, (DWORD)(UINT_PTR)block, 0};
    CHECK(partner->operations[PartnerShareAdd](args) == NDDE_NO_ERROR);
    CHECK(hasShare("PT_RAGGED$"));
    GlobalUnlock(handle);
    GlobalFree(handle);
}
