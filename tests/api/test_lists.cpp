// NDdeSessionEnum and NDdeConnectionEnum: the partner fills a block of the
// caller's size; the entries are rebuilt in the caller's buffer.
#include <string.h>
#include <doctest/doctest.h>
#include "library_under_test.h"

namespace {

char clientName[] = "CLIENT";

// Scripts a successful answer with `block` and `entries`.
void answerWith(PartnerScript &script, const void *block, DWORD size, DWORD entries)
{
    setReply(script, block, size);
    script.answer.writeCounts = true;
    script.answer.totalAvailable = size;
    script.answer.count = entries;
}

UINT listSessions(GuardedBuffer &buffer, DWORD *entries)
{
    DWORD total = 0;
    return tessaflat().sessionEnum(nullptr, 1, buffer.data(), buffer.size(), &total, entries);
}

UINT listConnections(GuardedBuffer &buffer, DWORD *entries)
{
    DWORD total = 0;
    return tessaflat().connectionEnum(nullptr, clientName, 7, 1, buffer.data(), buffer.size(),
                                      &total, entries);
}

// Connection entries as a partner writes them: offsets into its block.
struct ConnectionBlock {
    BYTE bytes[64];
    void entry(int i, DWORD nameOffset, WORD word1, WORD word2)
    {
        ConnectionBlockEntry entry = {nameOffset, word1, word2};
        memcpy(bytes + 8 * i, &entry, sizeof entry);
    }
    void name(DWORD offset, const char *text) { memcpy(bytes + offset, text, strlen(text) + 1); }
};

} // namespace

TEST_SUITE("lists") {

TEST_CASE("three sessions land at 0, 24 and 48 and nothing is written behind them")
{
    PartnerScript &script = resetPartner();
    SessionEntry block[3] = {
        {"ALPHA", 0x1111, 1},
        {"B", 0xFFFF, (DWORD)0x80000002},
        {"SEVENTEEN_CHARS_X", 3, 0xCAFEF00D},
    };
    answerWith(script, block, sizeof block, 3);
    GuardedBuffer buffer(100);
    DWORD total = 0, entries = 0;

    REQUIRE(tessaflat().sessionEnum(nullptr, 0x20001, buffer.data(), 100, &total, &entries) ==
            NDDE_NO_ERROR);
    const RecordedCall &call = script.calls[0];
    CHECK(call.index == PartnerSessionEnum);
    CHECK(call.textIsNull[0]);
    CHECK(call.args[1] == 1);
    CHECK(call.args[2] != 0);
    CHECK(call.args[3] == 100);
    CHECK(call.args[4] == (DWORD)(UINT_PTR)&total);
    CHECK(call.args[5] == (DWORD)(UINT_PTR)&entries);
    CHECK(call.blockSize == 100);
    CHECK(call.blockArrivedZero);
    CHECK(total == sizeof block);
    CHECK(entries == 3);

    const SessionEntry *read = (const SessionEntry *)buffer.data();
    for (int i = 0; i < 3; i++) {
        CAPTURE(i);
        CHECK(strcmp(read[i].clientName, block[i].clientName) == 0);
        CHECK(read[i].sessionWord == block[i].sessionWord);
        CHECK(read[i].sessionId == block[i].sessionId);
    }
    // Bytes behind a name's terminator keep the caller's contents.
    CHECK(buffer.untouched(6, 18));
    CHECK(buffer.untouched(24 + 2, 24 + 18));
    CHECK(buffer.untouched(72, 100));
    CHECK(buffer.guardsIntact());
}

TEST_CASE("a client name without a terminator is cut to 17 characters")
{
    PartnerScript &script = resetPartner();
    SessionEntry block = {};
    memset(block.clientName, 'C', sizeof block.clientName);
    block.sessionWord = 0xFFFF;
    block.sessionId = 9;
    answerWith(script, &block, sizeof block, 1);
    GuardedBuffer buffer(24);
    DWORD entries = 0;
    REQUIRE(listSessions(buffer, &entries) == NDDE_NO_ERROR);
    const SessionEntry &read = *(const SessionEntry *)buffer.data();
    CHECK(strlen(read.clientName) == ClientNameSize - 1);
    CHECK(read.sessionWord == 0xFFFF);
    CHECK(read.sessionId == 9);
    CHECK(buffer.guardsIntact());
}

TEST_CASE("two connections get their names at 16 and 20, in table order")
{
    PartnerScript &script = resetPartner();
    ConnectionBlock block = {};
    block.entry(0, 50, 0x0102, 0xFFFF);
    block.entry(1, 40, 0x8000, 0x0004);
    block.name(40, "DOC$");
    block.name(50, "S1$");
    answerWith(script, block.bytes, sizeof block.bytes, 2);
    GuardedBuffer buffer(64);
    char emptyServer[] = "";
    DWORD total = 0, entries = 0;

    REQUIRE(tessaflat().connectionEnum(emptyServer, clientName, (LONG)0x89ABCDEF, 0xFFFF0001,
                                       buffer.data(), 64, &total, &entries) == NDDE_NO_ERROR);
    const RecordedCall &call = script.calls[0];
    CHECK(call.index == PartnerConnectionEnum);
    CHECK_FALSE(call.textIsNull[0]);
    CHECK(call.args[0] == (DWORD)(UINT_PTR)emptyServer);
    CHECK(call.text[0][0] == 0);
    CHECK(strcmp(call.text[1], "CLIENT") == 0);
    CHECK(call.args[2] == 0x89ABCDEF);
    CHECK(call.args[3] == 1);
    CHECK(call.args[4] != 0);
    CHECK(call.args[5] == 64);
    CHECK(call.args[6] == (DWORD)(UINT_PTR)&total);
    CHECK(call.args[7] == (DWORD)(UINT_PTR)&entries);
    CHECK(call.blockSize == 64);
    CHECK(call.blockArrivedZero);

    const ConnectionEntry *read = (const ConnectionEntry *)buffer.data();
    CHECK((BYTE *)read[0].connectedShare == buffer.data() + 16);
    CHECK(strcmp(read[0].connectedShare, "S1$") == 0);
    CHECK(read[0].connectionWord1 == 0x0102);
    CHECK(read[0].connectionWord2 == 0xFFFF);
    CHECK((BYTE *)read[1].connectedShare == buffer.data() + 20);
    CHECK(strcmp(read[1].connectedShare, "DOC$") == 0);
    CHECK(read[1].connectionWord1 == 0x8000);
    CHECK(read[1].connectionWord2 == 0x0004);
    CHECK(buffer.untouched(25, 64));
    CHECK(buffer.guardsIntact());
}

TEST_CASE("a successful answer with no entries writes nothing")
{
    PartnerScript &script = resetPartner();
    BYTE block[48];
    memset(block, 'Z', sizeof block);
    answerWith(script, block, sizeof block, 0);
    GuardedBuffer buffer(48);
    DWORD entries = 99;
    SUBCASE("sessions")
    {
        CHECK(listSessions(buffer, &entries) == NDDE_NO_ERROR);
    }
    SUBCASE("connections")
    {
        CHECK(listConnections(buffer, &entries) == NDDE_NO_ERROR);
    }
    CHECK(entries == 0);
    CHECK(buffer.untouched());
    CHECK(buffer.guardsIntact());
}

TEST_CASE("without a buffer the partner gets a null block and nothing is rebuilt")
{
    PartnerScript &script = resetPartner();
    script.answer.writeCounts = true;
    script.answer.totalAvailable = 48;
    script.answer.count = 2;
    GuardedBuffer buffer(48);
    DWORD total = 0, entries = 0;
    SUBCASE("sessions")
    {
        CHECK(tessaflat().sessionEnum(nullptr, 1, buffer.data(), 0, &total, &entries) ==
              NDDE_NO_ERROR);
        CHECK(script.calls[0].args[2] == 0);
    }
    SUBCASE("connections")
    {
        CHECK(tessaflat().connectionEnum(nullptr, clientName, 7, 1, buffer.data(), 0, &total,
                                         &entries) == NDDE_NO_ERROR);
        CHECK(script.calls[0].args[4] == 0);
    }
    CHECK(script.calls[0].blockSize == 0);
    CHECK(total == 48);
    CHECK(entries == 2);
    CHECK(buffer.untouched());
    CHECK(buffer.guardsIntact());
}

TEST_CASE("an error from the partner leaves the list buffer untouched and passes the counts")
{
    PartnerScript &script = resetPartner();
    SessionEntry block[2] = {{"ONE", 1, 1}, {"TWO", 2, 2}};
    answerWith(script, block, sizeof block, 2);
    script.answer.result = NDDE_BUF_TOO_SMALL;
    GuardedBuffer buffer(48);
    DWORD entries = 0;
    SUBCASE("sessions")
    {
        CHECK(listSessions(buffer, &entries) == NDDE_BUF_TOO_SMALL);
    }
    SUBCASE("connections")
    {
        CHECK(listConnections(buffer, &entries) == NDDE_BUF_TOO_SMALL);
    }
    CHECK(entries == 2);
    CHECK(buffer.untouched());
    CHECK(buffer.guardsIntact());
}

TEST_CASE("more sessions than the buffer holds get 11 and leave the buffer untouched")
{
    PartnerScript &script = resetPartner();
    SessionEntry block[4] = {{"A", 1, 1}, {"B", 2, 2}, {"C", 3, 3}, {"D", 4, 4}};
    DWORD claimed = 0;
    SUBCASE("one entry too many")
    {
        claimed = 5;
    }
    SUBCASE("a count near 2^32")
    {
        claimed = 0xFFFFFFFF;
    }
    answerWith(script, block, sizeof block, claimed);
    GuardedBuffer buffer(100);
    DWORD entries = 0;
    CHECK(listSessions(buffer, &entries) == NDDE_INTERNAL_ERROR);
    CHECK(entries == claimed);
    CHECK(buffer.untouched());
    CHECK(buffer.guardsIntact());
}

TEST_CASE("connection names outside the block or beyond the buffer get 11")
{
    PartnerScript &script = resetPartner();
    ConnectionBlock block = {};
    block.entry(0, 16, 1, 1);
    block.entry(1, 24, 2, 2);
    block.name(16, "S1$");
    block.name(24, "DOC$");
    DWORD claimed = 2;
    SUBCASE("name offset beyond the block")
    {
        block.entry(1, 64, 2, 2);
    }
    SUBCASE("name offset near 2^32")
    {
        block.entry(0, 0xFFFFFFF0, 1, 1);
    }
    SUBCASE("name without a terminator before the block's end")
    {
        memset(block.bytes + 56, 'N', 8);
        block.entry(1, 56, 2, 2);
    }
    SUBCASE("more entries than the block holds")
    {
        claimed = 9;
    }
    SUBCASE("names that fit the block but not the buffer once rebuilt")
    {
        // Four entries sharing one long name need 32 + 4 x 21 bytes.
        for (int i = 0; i < 4; i++)
            block.entry(i, 32, 0, 0);
        block.name(32, "TWENTY_CHARACTERS_XY");
        claimed = 4;
    }
    answerWith(script, block.bytes, sizeof block.bytes, claimed);
    GuardedBuffer buffer(64);
    DWORD entries = 0;
    CHECK(listConnections(buffer, &entries) == NDDE_INTERNAL_ERROR);
    CHECK(buffer.untouched());
    CHECK(buffer.guardsIntact());
}

TEST_CASE("a buffer size no block can be allocated for gets 12 without a partner call")
{
    PartnerScript &script = resetPartner();
    GuardedBuffer buffer(48);
    DWORD total = 0xDEAD, entries = 0xBEEF;
    SUBCASE("sessions")
    {
        CHECK(tessaflat().sessionEnum(nullptr, 1, buffer.data(), 0xFFFFFFF0, &total, &entries) ==
              NDDE_OUT_OF_MEMORY);
    }
    SUBCASE("connections")
    {
        CHECK(tessaflat().connectionEnum(nullptr, clientName, 7, 1, buffer.data(), 0xFFFFFFF0,
                                         &total, &entries) == NDDE_OUT_OF_MEMORY);
    }
    CHECK(script.callCount == 0);
    CHECK(total == 0xDEAD);
    CHECK(entries == 0xBEEF);
    CHECK(buffer.untouched());
}

}
