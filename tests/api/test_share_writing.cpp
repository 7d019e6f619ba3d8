// NDdeShareAdd and NDdeShareSetInfo: the caller's record as the partner
// receives it, packed into one flat block.
#include <string.h>
#include <doctest/doctest.h>
#include "library_under_test.h"

namespace {

char emptyText[] = "";

// A record with the given strings, no passwords and no items.
ShareInfo makeShare(const char *name, char *app, char *topic, char *firstItem)
{
    ShareInfo share = {};
    lstrcpynA(share.shareName, name, ShareNameSize);
    share.appName = app;
    share.topicName = topic;
    share.password1 = (BYTE *)emptyText;
    share.password2 = (BYTE *)emptyText;
    share.firstItem = firstItem;
    return share;
}

const ShareTransferHeader &headerOf(const RecordedCall &call)
{
    return *(const ShareTransferHeader *)call.block;
}

// Adds `share` through the library and gives the one call the partner saw.
const RecordedCall &addShare(PartnerScript &script, ShareInfo &share)
{
    CHECK(tessaflat().shareAdd(nullptr, 2, (LPBYTE)&share, 1000) == NDDE_NO_ERROR);
    REQUIRE(script.callCount == 1);
    REQUIRE(script.calls[0].index == PartnerShareAdd);
    return script.calls[0];
}

} // namespace

TEST_SUITE("share_writing") {

TEST_CASE("an empty record travels as a block of 118 bytes with the caller's size beside it")
{
    PartnerScript &script = resetPartner();
    ShareInfo share = makeShare("EMPTY$", emptyText, emptyText, emptyText);
    share.permissions1 = Request | Advise | Poke | Execute | StartApp;
    share.permissions2 = Request;
    ShareInfo before = share;

    CHECK(tessaflat().shareAdd(nullptr, 0x70002, (LPBYTE)&share, 500) == NDDE_NO_ERROR);
    REQUIRE(script.callCount == 1);
    const RecordedCall &call = script.calls[0];
    CHECK(call.index == PartnerShareAdd);
    CHECK(call.textIsNull[0]);
    CHECK(call.args[1] == 2);
    CHECK(call.args[3] == 500);
    CHECK(call.blockSize == 118);

    const ShareTransferHeader &header = headerOf(call);
    CHECK(strcmp(header.shareName, "EMPTY$") == 0);
    CHECK(header.appName == 112);
    CHECK(header.topicName == 113);
    CHECK(header.password1 == 114);
    CHECK(header.password2 == 115);
    CHECK(header.firstItem == 116);
    CHECK(header.addItems == 0);
    CHECK(header.addItemCount == 0);
    CHECK(header.password1Length == 0);
    CHECK(header.password2Length == 0);
    CHECK(header.permissions1 == 0x1F);
    CHECK(header.permissions2 == Request);
    for (int offset = 112; offset < 118; offset++)
        CHECK(call.block[offset] == 0);
    CHECK(memcmp(&share, &before, sizeof share) == 0);
}

TEST_CASE("additional items follow the first item without alignment")
{
    PartnerScript &script = resetPartner();
    char app[] = "App", topic[] = "Topic", first[] = "Item01", a[] = "A", bc[] = "BC";
    AddItemInfo items[2] = {{a, Request | Poke}, {bc, Advise}};
    ShareInfo share = makeShare("ITEMS$", app, topic, first);
    share.addItemCount = 2;
    share.addItems = items;
    char shareName[] = "ITEMS$";

    // Level and parameter number travel as their low 16 bits, zero-widened;
    // the size goes over as the caller gave it.
    CHECK(tessaflat().shareSetInfo(nullptr, shareName, 0x10002, (LPBYTE)&share, 0x12345,
                                   0xFFFF8001) == NDDE_NO_ERROR);
    REQUIRE(script.callCount == 1);
    const RecordedCall &call = script.calls[0];
    CHECK(call.index == PartnerShareSetInfo);
    CHECK(call.textIsNull[0]);
    CHECK(call.args[1] == (DWORD)(UINT_PTR)shareName);
    CHECK(strcmp(call.text[1], "ITEMS$") == 0);
    CHECK(call.args[2] == 2);
    CHECK(call.args[4] == 0x12345);
    CHECK(call.args[5] == 0x8001);
    CHECK(call.blockSize == 153);

    const ShareTransferHeader &header = headerOf(call);
    const BYTE *block = call.block;
    CHECK(strcmp((const char *)block + header.appName, "App") == 0);
    CHECK(header.topicName == 116);
    CHECK(header.password1 == 122);
    CHECK(header.password2 == 123);
    CHECK(header.firstItem == 124);
    CHECK(strcmp((const char *)block + 124, "Item01") == 0);
    CHECK(header.addItemCount == 2);
    CHECK(header.addItems == 131);
    CHECK(dwordAt(block, 131) == 147);
    CHECK(dwordAt(block, 135) == (Request | Poke));
    CHECK(dwordAt(block, 139) == 149);
    CHECK(dwordAt(block, 143) == Advise);
    CHECK(strcmp((const char *)block + 147, "A") == 0);
    CHECK(strcmp((const char *)block + 149, "BC") == 0);
    CHECK(block[152] == 0);
}

TEST_CASE("a positive item count without an item array becomes 0 in the caller's record")
{
    PartnerScript &script = resetPartner();
    ShareInfo share = makeShare("NOITEMS$", emptyText, emptyText, emptyText);
    share.addItemCount = 3;
    share.addItems = nullptr;

    const RecordedCall &call = addShare(script, share);
    CHECK(call.blockSize == 118);
    CHECK(headerOf(call).addItemCount == 0);
    CHECK(headerOf(call).addItems == 0);
    CHECK(share.addItemCount == 0);
}

TEST_CASE("a negative item count travels unchanged without a table")
{
    PartnerScript &script = resetPartner();
    AddItemInfo unused = {emptyText, Request};
    ShareInfo share = makeShare("NEG$", emptyText, emptyText, emptyText);
    share.addItemCount = -1;
    share.addItems = &unused;

    const RecordedCall &call = addShare(script, share);
    CHECK(call.blockSize == 118);
    CHECK(headerOf(call).addItemCount == -1);
    CHECK(headerOf(call).addItems == 0);
    CHECK(share.addItemCount == -1);
}

TEST_CASE("a password slot holds the password's length plus one, bounded by the length")
{
    PartnerScript &script = resetPartner();
    BYTE innerZero[] = {'A', 'B', 0, 'C', 'D'};
    char longer[] = "SECRETXYZ";
    ShareInfo share = makeShare("PW$", emptyText, emptyText, emptyText);
    share.password1 = innerZero;
    share.password1Length = 5;
    share.password2 = (BYTE *)longer;
    share.password2Length = 6;

    const RecordedCall &call = addShare(script, share);
    const ShareTransferHeader &header = headerOf(call);
    CHECK(call.blockSize == 129);
    CHECK(header.password1 == 114);
    CHECK(header.password1Length == 5);
    const BYTE slot1[6] = {'A', 'B', 0, 0, 0, 0};
    CHECK(memcmp(call.block + 114, slot1, sizeof slot1) == 0);
    CHECK(header.password2 == 120);
    CHECK(header.password2Length == 6);
    CHECK(memcmp(call.block + 120, "SECRET", 7) == 0);
    CHECK(header.firstItem == 127);
}

TEST_CASE("a share name filling all 68 bytes is cut to 67 characters in the block")
{
    PartnerScript &script = resetPartner();
    ShareInfo share = makeShare("", emptyText, emptyText, emptyText);
    memset(share.shareName, 'N', ShareNameSize);

    const RecordedCall &call = addShare(script, share);
    const ShareTransferHeader &header = headerOf(call);
    CHECK(strlen(header.shareName) == ShareNameSize - 1);
    CHECK(header.shareName[0] == 'N');
    CHECK(header.appName == 112);
}

TEST_CASE("a record too large for memory gets 12 and never reaches the partner")
{
    PartnerScript &script = resetPartner();
    char password[] = "SECRET";
    char shareName[] = "HUGE$";
    ShareInfo share = makeShare("HUGE$", emptyText, emptyText, emptyText);
    share.password1 = (BYTE *)password;
    share.password2 = (BYTE *)password;

    SUBCASE("one huge password length")
    {
        share.password1Length = 0xFFFFFFF0;
    }
    SUBCASE("two lengths whose sum wraps around 32 bits")
    {
        share.password1Length = 0x80000000;
        share.password2Length = 0x80000000;
    }
    CHECK(tessaflat().shareAdd(nullptr, 2, (LPBYTE)&share, 1000) == NDDE_OUT_OF_MEMORY);
    CHECK(tessaflat().shareSetInfo(nullptr, shareName, 2, (LPBYTE)&share, 1000, 0) ==
          NDDE_OUT_OF_MEMORY);
    CHECK(script.callCount == 0);
}

TEST_CASE("the writers return the partner's code unchanged")
{
    PartnerScript &script = resetPartner();
    ShareInfo share = makeShare("DUP$", emptyText, emptyText, emptyText);
    char shareName[] = "DUP$";
    script.answer.result = NDDE_SHARE_ALREADY_EXIST;
    CHECK(tessaflat().shareAdd(nullptr, 2, (LPBYTE)&share, 200) == NDDE_SHARE_ALREADY_EXIST);
    script.answer.result = 0xFFFE;
    CHECK(tessaflat().shareSetInfo(nullptr, shareName, 2, (LPBYTE)&share, 200, 0) == 0xFFFEu);
    CHECK(script.callCount == 2);
}

}
