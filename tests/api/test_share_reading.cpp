// NDdeShareGetInfo: the partner fills a block of the caller's size with
// offsets; the caller receives a record with pointers into its own buffer.
#include <string.h>
#include <doctest/doctest.h>
#include "library_under_test.h"

namespace {

char shareName[] = "READ$";

// Lays out a transfer block piece by piece, in whatever order a partner
// might choose.
class BlockBuilder {
public:
    explicit BlockBuilder(DWORD size) : bytes(size, 0), position(ShareInfoHeaderSize) {}
    ShareTransferHeader &header() { return *(ShareTransferHeader *)bytes.data(); }
    DWORD put(const void *data, DWORD size)
    {
        DWORD offset = position;
        memcpy(&bytes[offset], data, size);
        position += size;
        return offset;
    }
    DWORD putString(const char *text) { return put(text, strlen(text) + 1); }
    DWORD size() const { return bytes.size(); }
    BYTE *data() { return bytes.data(); }

private:
    std::vector<BYTE> bytes;
    DWORD position;
};

// A share laid out the usual way: application, topic, passwords, first item,
// item table, item names.
BlockBuilder usualShare(DWORD size)
{
    BlockBuilder block(size);
    ShareTransferHeader &header = block.header();
    lstrcpyA(header.shareName, "READ$");
    header.appName = block.putString("APP");
    header.topicName = block.putString("TOPIC");
    header.password1Length = 3;
    header.password1 = block.put("PW1", 4);
    header.password2Length = 0;
    header.password2 = block.put("", 1);
    header.firstItem = block.putString("FIRST");
    header.addItemCount = 2;
    AddItemEntry table[2] = {{0, Request}, {0, Advise | Poke}};
    header.addItems = block.put(table, sizeof table);
    DWORD name0 = block.putString("ONE");
    DWORD name1 = block.putString("TWO");
    memcpy(block.data() + header.addItems, &name0, 4);
    memcpy(block.data() + header.addItems + 8, &name1, 4);
    return block;
}

// Scripts the partner to report success with `block` and `items`, and reads
// the share into `buffer` through the library.
UINT readShare(PartnerScript &script, BlockBuilder &block, WORD items, GuardedBuffer &buffer,
               DWORD *total = nullptr, WORD *itemCount = nullptr)
{
    setReply(script, block.data(), block.size());
    script.answer.writeCounts = true;
    script.answer.totalAvailable = block.size();
    script.answer.count = items;
    DWORD ownTotal = 0;
    WORD ownCount = 0;
    return tessaflat().shareGetInfo(nullptr, shareName, 2, buffer.data(), buffer.size(),
                                    total ? total : &ownTotal, itemCount ? itemCount : &ownCount);
}

DWORD offsetIn(GuardedBuffer &buffer, const void *pointer)
{
    return (DWORD)((const BYTE *)pointer - buffer.data());
}

} // namespace

TEST_SUITE("share_reading") {

TEST_CASE("without a buffer the partner gets a null block and only the counts come back")
{
    PartnerScript &script = resetPartner();
    script.answer.result = NDDE_BUF_TOO_SMALL;
    script.answer.writeCounts = true;
    script.answer.totalAvailable = 300;
    script.answer.count = 4;
    GuardedBuffer buffer(120);
    DWORD total = 0xDEAD;
    WORD items = 0xBEEF;

    CHECK(tessaflat().shareGetInfo(nullptr, shareName, 0x30002, buffer.data(), 0, &total,
                                   &items) == NDDE_BUF_TOO_SMALL);
    REQUIRE(script.callCount == 1);
    const RecordedCall &call = script.calls[0];
    CHECK(call.index == PartnerShareGetInfo);
    CHECK(call.textIsNull[0]);
    CHECK(strcmp(call.text[1], "READ$") == 0);
    CHECK(call.args[2] == 2);
    CHECK(call.args[3] == 0);
    CHECK(call.args[4] == 0);
    CHECK(call.args[5] == (DWORD)(UINT_PTR)&total);
    CHECK(call.args[6] == (DWORD)(UINT_PTR)&items);
    CHECK(total == 300);
    CHECK(items == 4);
    CHECK(buffer.untouched());
    CHECK(buffer.guardsIntact());
}

TEST_CASE("a partner claiming success without a block leaves the buffer alone")
{
    PartnerScript &script = resetPartner();
    script.answer.writeCounts = true;
    script.answer.count = 3;
    GuardedBuffer buffer(120);
    DWORD total = 0;
    WORD items = 0;
    CHECK(tessaflat().shareGetInfo(nullptr, shareName, 2, buffer.data(), 0, &total, &items) ==
          NDDE_NO_ERROR);
    CHECK(buffer.untouched());
    CHECK(buffer.guardsIntact());
}

TEST_CASE("a packed share reads back into the same layout, one byte shorter than its block")
{
    // The library's own packing gives the block the partner answers with.
    PartnerScript &script = resetPartner();
    char app[] = "Server", topic[] = "Topic", first[] = "First", one[] = "I1", two[] = "Item2";
    BYTE password1[] = "OPEN";
    BYTE password2[] = "SESAME";
    AddItemInfo items[2] = {{one, Request}, {two, Advise | Poke}};
    ShareInfo share = {};
    lstrcpyA(share.shareName, "ROUND$");
    share.appName = app;
    share.topicName = topic;
    share.password1 = password1;
    share.password1Length = 4;
    share.permissions1 = Request | Advise;
    share.password2 = password2;
    share.password2Length = 6;
    share.permissions2 = StartApp;
    share.firstItem = first;
    share.addItemCount = 2;
    share.addItems = items;
    REQUIRE(tessaflat().shareAdd(nullptr, 2, (LPBYTE)&share, 400) == NDDE_NO_ERROR);
    const DWORD blockSize = script.calls[0].blockSize;
    BlockBuilder packed(blockSize);
    memcpy(packed.data(), script.calls[0].block, blockSize);
    const ShareTransferHeader packedHeader = packed.header();

    resetPartner();
    GuardedBuffer buffer(blockSize + 16);
    DWORD total = 0;
    WORD itemCount = 0;
    REQUIRE(readShare(script, packed, 2, buffer, &total, &itemCount) == NDDE_NO_ERROR);
    const RecordedCall &call = script.calls[0];
    CHECK(call.args[3] != 0);
    CHECK(call.args[4] == blockSize + 16);
    CHECK(call.blockSize == blockSize + 16);
    CHECK(call.blockArrivedZero);
    CHECK(total == blockSize);
    CHECK(itemCount == 2);

    const ShareInfo &read = *(const ShareInfo *)buffer.data();
    CHECK(strcmp(read.shareName, "ROUND$") == 0);
    CHECK(strcmp(read.appName, "Server") == 0);
    CHECK(strcmp(read.topicName, "Topic") == 0);
    CHECK(memcmp(read.password1, "OPEN", 5) == 0);
    CHECK(read.password1Length == 4);
    CHECK(read.permissions1 == (Request | Advise));
    CHECK(memcmp(read.password2, "SESAME", 7) == 0);
    CHECK(read.password2Length == 6);
    CHECK(read.permissions2 == StartApp);
    CHECK(strcmp(read.firstItem, "First") == 0);
    REQUIRE(read.addItemCount == 2);
    CHECK(strcmp(read.addItems[0].itemName, "I1") == 0);
    CHECK(read.addItems[0].permissions == Request);
    CHECK(strcmp(read.addItems[1].itemName, "Item2") == 0);
    CHECK(read.addItems[1].permissions == (Advise | Poke));

    // Every pointer sits where the block held the matching offset.
    CHECK(offsetIn(buffer, read.appName) == packedHeader.appName);
    CHECK(offsetIn(buffer, read.topicName) == packedHeader.topicName);
    CHECK(offsetIn(buffer, read.password1) == packedHeader.password1);
    CHECK(offsetIn(buffer, read.password2) == packedHeader.password2);
    CHECK(offsetIn(buffer, read.firstItem) == packedHeader.firstItem);
    CHECK(offsetIn(buffer, read.addItems) == packedHeader.addItems);
    CHECK(offsetIn(buffer, read.addItems[0].itemName) ==
          dwordAt(packed.data(), packedHeader.addItems));
    CHECK(offsetIn(buffer, read.addItems[1].itemName) ==
          dwordAt(packed.data(), packedHeader.addItems + 8));
    CHECK(buffer.data()[blockSize - 2] == 0);
    CHECK(buffer.untouched(blockSize - 1, buffer.size()));
    CHECK(buffer.guardsIntact());
}

TEST_CASE("an item indicator of 0 leaves the items out but keeps the count")
{
    PartnerScript &script = resetPartner();
    BlockBuilder block = usualShare(200);
    GuardedBuffer buffer(200);
    REQUIRE(readShare(script, block, 0, buffer) == NDDE_NO_ERROR);
    const ShareInfo &read = *(const ShareInfo *)buffer.data();
    CHECK(read.addItems == nullptr);
    CHECK(read.addItemCount == 2);
    CHECK(strcmp(read.firstItem, "FIRST") == 0);
    DWORD end = offsetIn(buffer, read.firstItem) + sizeof "FIRST";
    CHECK(buffer.untouched(end, buffer.size()));
    CHECK(buffer.guardsIntact());
}

TEST_CASE("a block laid out in another order reads back in the usual order")
{
    PartnerScript &script = resetPartner();
    BlockBuilder block(300);
    ShareTransferHeader &header = block.header();
    lstrcpyA(header.shareName, "ORDER$");
    DWORD second = block.putString("SECOND");
    DWORD firstName = block.putString("FIRSTNAME");
    header.addItemCount = 2;
    AddItemEntry table[2] = {{firstName, Poke}, {second, Request}};
    header.addItems = block.put(table, sizeof table);
    header.firstItem = block.putString("ITEM");
    header.password2Length = 2;
    header.password2 = block.put("P2", 3);
    header.password1Length = 4;
    header.password1 = block.put("PASS", 5);
    header.topicName = block.putString("TOPIC");
    header.appName = block.putString("APPLICATION");

    GuardedBuffer buffer(300);
    REQUIRE(readShare(script, block, 2, buffer) == NDDE_NO_ERROR);
    const ShareInfo &read = *(const ShareInfo *)buffer.data();
    CHECK(offsetIn(buffer, read.appName) == 112);
    CHECK(strcmp(read.appName, "APPLICATION") == 0);
    CHECK(offsetIn(buffer, read.topicName) == 124);
    CHECK(strcmp(read.topicName, "TOPIC") == 0);
    CHECK(offsetIn(buffer, read.password1) == 130);
    CHECK(memcmp(read.password1, "PASS", 5) == 0);
    CHECK(offsetIn(buffer, read.password2) == 135);
    CHECK(memcmp(read.password2, "P2", 3) == 0);
    CHECK(offsetIn(buffer, read.firstItem) == 138);
    CHECK(strcmp(read.firstItem, "ITEM") == 0);
    CHECK(offsetIn(buffer, read.addItems) == 143);
    CHECK(offsetIn(buffer, read.addItems[0].itemName) == 159);
    CHECK(strcmp(read.addItems[0].itemName, "FIRSTNAME") == 0);
    CHECK(read.addItems[0].permissions == Poke);
    CHECK(offsetIn(buffer, read.addItems[1].itemName) == 169);
    CHECK(strcmp(read.addItems[1].itemName, "SECOND") == 0);
    CHECK(read.addItems[1].permissions == Request);
    CHECK(buffer.untouched(176, buffer.size()));
    CHECK(buffer.guardsIntact());
}

TEST_CASE("a password shorter than its slot leaves the rest of the caller's slot as it was")
{
    PartnerScript &script = resetPartner();
    BlockBuilder block(200);
    ShareTransferHeader &header = block.header();
    header.appName = block.putString("");
    header.topicName = block.putString("");
    header.password1Length = 5;
    header.password1 = block.put("AB\0\0\0", 6);
    header.password2 = block.put("", 1);
    header.firstItem = block.putString("");

    GuardedBuffer buffer(200);
    REQUIRE(readShare(script, block, 0, buffer) == NDDE_NO_ERROR);
    const ShareInfo &read = *(const ShareInfo *)buffer.data();
    REQUIRE(offsetIn(buffer, read.password1) == 114);
    CHECK(memcmp(read.password1, "AB", 3) == 0);
    CHECK(buffer.untouched(117, 120));
    CHECK(offsetIn(buffer, read.password2) == 120);
    CHECK(offsetIn(buffer, read.firstItem) == 121);
}

TEST_CASE("an error from the partner leaves the buffer untouched and passes the counts")
{
    PartnerScript &script = resetPartner();
    BlockBuilder block = usualShare(200);
    GuardedBuffer buffer(200);
    DWORD total = 0;
    WORD items = 0;
    SUBCASE("buffer too small")
    {
        script.answer.result = NDDE_BUF_TOO_SMALL;
    }
    SUBCASE("a code with its highest bit set")
    {
        script.answer.result = 0x8001;
    }
    UINT expected = script.answer.result;
    CHECK(readShare(script, block, 2, buffer, &total, &items) == expected);
    CHECK(total == 200);
    CHECK(items == 2);
    CHECK(buffer.untouched());
    CHECK(buffer.guardsIntact());
}

TEST_CASE("a block that breaks its own bounds gets 11 and leaves the buffer untouched")
{
    PartnerScript &script = resetPartner();
    const DWORD size = 256;
    BlockBuilder block = usualShare(size);
    ShareTransferHeader &header = block.header();
    WORD items = 2;

    SUBCASE("application offset beyond the block")
    {
        header.appName = size + 100;
    }
    SUBCASE("topic offset at the block's end")
    {
        header.topicName = size;
    }
    SUBCASE("first item without a terminator before the block's end")
    {
        header.firstItem = size - 3;
        memset(block.data() + size - 3, 'X', 3);
    }
    SUBCASE("huge password length")
    {
        header.password1Length = 0xFFFFFFF0;
    }
    SUBCASE("password slot running past the block's end")
    {
        header.password2Length = 40;
        header.password2 = size - 10;
        memset(block.data() + size - 10, 'P', 10);
    }
    SUBCASE("item table running past the block's end")
    {
        header.addItems = size - 4;
    }
    SUBCASE("item table inside the header")
    {
        header.addItems = 8;
    }
    SUBCASE("more items than the block holds")
    {
        header.addItemCount = 0x10000000;
    }
    SUBCASE("item name offset beyond the block")
    {
        DWORD beyond = 0xFFFFFF00;
        memcpy(block.data() + header.addItems + 8, &beyond, 4);
    }
    SUBCASE("strings shared in the block that do not fit the buffer once unpacked")
    {
        char longText[80];
        memset(longText, 'L', sizeof longText - 1);
        longText[sizeof longText - 1] = 0;
        DWORD shared = 140;
        memcpy(block.data() + shared, longText, sizeof longText);
        header.appName = header.topicName = header.firstItem = shared;
        header.addItemCount = 0;
        items = 0;
    }
    GuardedBuffer buffer(size);
    CHECK(readShare(script, block, items, buffer) == NDDE_INTERNAL_ERROR);
    CHECK(buffer.untouched());
    CHECK(buffer.guardsIntact());
}

TEST_CASE("a share name filling all 68 bytes of the block is cut to 67 characters")
{
    PartnerScript &script = resetPartner();
    BlockBuilder block = usualShare(200);
    memset(block.header().shareName, 'S', ShareNameSize);
    GuardedBuffer buffer(200);
    REQUIRE(readShare(script, block, 2, buffer) == NDDE_NO_ERROR);
    const ShareInfo &read = *(const ShareInfo *)buffer.data();
    CHECK(strlen(read.shareName) == ShareNameSize - 1);
    CHECK(strcmp(read.appName, "APP") == 0);
    CHECK(buffer.guardsIntact());
}

TEST_CASE("a buffer size no block can be allocated for gets 12 without a partner call")
{
    PartnerScript &script = resetPartner();
    GuardedBuffer buffer(200);
    DWORD total = 0xDEAD;
    WORD items = 0xBEEF;
    CHECK(tessaflat().shareGetInfo(nullptr, shareName, 2, buffer.data(), 0xFFFFFFF0, &total,
                                   &items) == NDDE_OUT_OF_MEMORY);
    CHECK(script.callCount == 0);
    CHECK(total == 0xDEAD);
    CHECK(items == 0xBEEF);
    CHECK(buffer.untouched());
}

TEST_CASE("a reported success with a buffer smaller than a record header gets 11")
{
    PartnerScript &script = resetPartner();
    BlockBuilder block(64);
    GuardedBuffer buffer(64);
    CHECK(readShare(script, block, 0, buffer) == NDDE_INTERNAL_ERROR);
    CHECK(buffer.untouched());
    CHECK(buffer.guardsIntact());
}

}
