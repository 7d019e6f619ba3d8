// The agents' wire protocol: frames laid out and read back, every rule a
// frame can break, and the password proofs.
#include "netdde_wire.h"
#include <doctest/doctest.h>

#include <string>
#include <vector>

namespace {

std::vector<BYTE> laidOut(const Frame &frame)
{
    ByteBuffer buffer = {};
    std::vector<BYTE> bytes;
    if (AppendFrame(&buffer, &frame))
        bytes.assign(buffer.bytes + buffer.start, buffer.bytes + buffer.length);
    FreeBuffer(&buffer);
    return bytes;
}

Frame frameOf(BYTE kind, DWORD conversation, const char *name = "", WORD format = 0)
{
    Frame frame;
    InitFrame(&frame, kind, conversation);
    lstrcpyA(frame.name, name);
    frame.format = format;
    return frame;
}

FrameRead readBack(const std::vector<BYTE> &bytes, Frame *frame, DWORD *size)
{
    return ReadFrame(bytes.data(), (DWORD)bytes.size(), frame, size);
}

// A sound Request frame with one header byte changed.
std::vector<BYTE> requestWith(int offset, BYTE value)
{
    std::vector<BYTE> bytes = laidOut(frameOf(FrameRequest, 7, "Price", CF_TEXT));
    bytes[offset] = value;
    return bytes;
}

std::string hex(const BYTE *bytes, int count)
{
    std::string text;
    char digits[3];
    for (int i = 0; i < count; i++) {
        wsprintfA(digits, "%02x", bytes[i]);
        text += digits;
    }
    return text;
}

} // namespace

TEST_CASE("frames read back as they were laid out, and only once complete")
{
    std::string payload(70000, 'x');
    Frame poke = frameOf(FramePoke, 0x01020304, "Registered item", 0xC123);
    lstrcpyA(poke.formatName, "Tessa Format");
    poke.data = (const BYTE *)payload.data();
    poke.dataLength = (DWORD)payload.size();
    std::vector<BYTE> bytes = laidOut(poke);
    REQUIRE(bytes.size() == FrameHeaderSize + 12 + 15 + payload.size());
    CHECK(bytes[0] == WireVersion);
    CHECK(bytes[1] == FramePoke);
    CHECK(bytes[4] == 0x04);       // little-endian conversation id
    CHECK(bytes[7] == 0x01);

    Frame read;
    DWORD size = 0;
    for (size_t cut : {size_t(0), size_t(15), size_t(16), bytes.size() - 1})
        CHECK(ReadFrame(bytes.data(), (DWORD)cut, &read, &size) == FrameIncomplete);
    bytes.push_back(0xEE);          // the next frame's first byte stays unread
    REQUIRE(readBack(bytes, &read, &size) == FrameComplete);
    CHECK(size == bytes.size() - 1);
    CHECK(read.kind == FramePoke);
    CHECK(read.conversation == 0x01020304);
    CHECK(read.format == 0xC123);
    CHECK(std::string(read.formatName) == "Tessa Format");
    CHECK(std::string(read.name) == "Registered item");
    CHECK(std::string((const char *)read.data, read.dataLength) == payload);

    Frame data = frameOf(FrameData, 9, "Counter", CF_TEXT);
    data.word = DataResponse | DataAckReq;
    REQUIRE(readBack(laidOut(data), &read, &size) == FrameComplete);
    CHECK(read.word == (DataResponse | DataAckReq));
    CHECK(read.dataLength == 0);
}

TEST_CASE("a malformed frame is told from its header, before its data arrives")
{
    Frame frame;
    DWORD size;
    SUBCASE("another version") { CHECK(readBack(requestWith(0, OlderWireVersion), &frame, &size) == FrameMalformed); }
    SUBCASE("no kind") { CHECK(readBack(requestWith(1, 0), &frame, &size) == FrameMalformed); }
    SUBCASE("an unknown kind") { CHECK(readBack(requestWith(1, FrameKindCount), &frame, &size) == FrameMalformed); }
    SUBCASE("a transaction outside any conversation") {
        std::vector<BYTE> bytes = requestWith(4, 0);
        CHECK(readBack(bytes, &frame, &size) == FrameMalformed);
    }
    SUBCASE("a registered format without its name") {
        std::vector<BYTE> bytes = requestWith(9, 0xC0);
        CHECK(readBack(bytes, &frame, &size) == FrameMalformed);
    }
    SUBCASE("a request without an item") {
        std::vector<BYTE> bytes = laidOut(frameOf(FrameRequest, 7, "Price", CF_TEXT));
        bytes[11] = 0;
        bytes.resize(FrameHeaderSize);
        CHECK(readBack(bytes, &frame, &size) == FrameMalformed);
    }
    SUBCASE("data beyond 16 MB, with only the header sent") {
        std::vector<BYTE> bytes = laidOut(frameOf(FramePoke, 7, "Price", CF_TEXT));
        DWORD tooMuch = MaxFrameData + 1;
        memcpy(&bytes[12], &tooMuch, 4);
        bytes.resize(FrameHeaderSize);
        CHECK(readBack(bytes, &frame, &size) == FrameMalformed);
    }
    SUBCASE("data where the kind carries none") {
        std::vector<BYTE> bytes = requestWith(12, 1);
        bytes.push_back('x');
        CHECK(readBack(bytes, &frame, &size) == FrameMalformed);
    }
    SUBCASE("a challenge of the wrong length") {
        BYTE challenge[ChallengeLength] = {};
        Frame sound = frameOf(FrameChallenge, 3);
        sound.data = challenge;
        sound.dataLength = ChallengeLength;
        std::vector<BYTE> bytes = laidOut(sound);
        bytes[12] = ChallengeLength - 1;
        bytes.pop_back();
        CHECK(readBack(bytes, &frame, &size) == FrameMalformed);
    }
    SUBCASE("a control character in a name") {
        std::vector<BYTE> bytes = laidOut(frameOf(FrameRequest, 7, "Price", CF_TEXT));
        bytes[FrameHeaderSize + 2] = '\n';
        CHECK(readBack(bytes, &frame, &size) == FrameMalformed);
    }
}

TEST_CASE("a frame that breaks a rule is never laid out")
{
    std::vector<Frame> broken = {
        frameOf(FrameRequest, 0, "Price", CF_TEXT),   // no conversation
        frameOf(FrameRequest, 7, "", CF_TEXT),        // no item
        frameOf(FrameRequest, 7, "Price", 0),         // no format
        frameOf(FrameRequest, 7, "Price", 0xC001),    // registered, without a name
        frameOf(FrameHello, 7, "NODE"),               // a session frame in a conversation
        frameOf(FrameExecute, 7, "Price"),            // an execute names no item
        frameOf(FrameChallenge, 7),                   // a challenge without its bytes
    };
    Frame warm = frameOf(FrameData, 7, "Price", CF_TEXT);
    warm.word = DataWarm;
    warm.data = (const BYTE *)"x";
    warm.dataLength = 1;
    broken.push_back(warm);
    for (const Frame &frame : broken) {
        ByteBuffer buffer = {};
        CHECK_FALSE(AppendFrame(&buffer, &frame));
        CHECK(buffer.length == 0);
        FreeBuffer(&buffer);
    }
}

TEST_CASE("byte buffers keep what is not yet consumed, in order")
{
    ByteBuffer buffer = {};
    std::string expected;
    for (int i = 0; i < 200; i++) {
        std::string piece(1000 + i, char('a' + i % 26));
        REQUIRE(AppendBytes(&buffer, piece.data(), (DWORD)piece.size()));
        expected += piece;
        ConsumeBytes(&buffer, 700);
        expected.erase(0, 700);
        REQUIRE(std::string((const char *)buffer.bytes + buffer.start,
                            buffer.length - buffer.start) == expected);
    }
    FreeBuffer(&buffer);
}

TEST_CASE("challenges are fresh random bytes")
{
    BYTE first[ChallengeLength], second[ChallengeLength];
    REQUIRE(MakeChallenge(first));
    REQUIRE(MakeChallenge(second));
    CHECK(memcmp(first, second, ChallengeLength) != 0);
}

TEST_CASE("a bound proof is HMAC-SHA-256 over the challenge, the channel binding and the share name")
{
    BYTE challenge[ChallengeLength], binding[ProofBindingLength];
    for (DWORD i = 0; i < ChallengeLength; i++)
        challenge[i] = (BYTE)i;
    for (DWORD i = 0; i < ProofBindingLength; i++)
        binding[i] = (BYTE)(100 + i);
    BYTE proof[ProofLength];
    // Reference values from Python's hmac module.
    REQUIRE(ProveBoundPassword("", challenge, "PRICES$", binding, proof));
    CHECK(hex(proof, ProofLength) == "b026ed9960bb5bc31b0ddf9c18d9274a98ee86835984951f925dffc15fbac67d");
    REQUIRE(ProveBoundPassword("KEY", challenge, "PRICES$", binding, proof));
    CHECK(hex(proof, ProofLength) == "9f84b7cd03b1726e46a33de755994effc4450515ab1518c5d5299d6766045c6d");
    // Share names compare without ASCII case, so they are proved upper-cased.
    REQUIRE(ProveBoundPassword("ABCDEFGHIJKLMN", challenge, "quotes", binding, proof));
    CHECK(hex(proof, ProofLength) == "65e9ef07cc8a4ca4e63a44774b0bce7bbad6d11e7fa7eec2eeff66431319ca60");
}

TEST_CASE("a bound proof is refused for any other password, challenge, share, binding or byte")
{
    BYTE challenge[ChallengeLength], binding[ProofBindingLength], proof[ProofLength];
    REQUIRE(MakeChallenge(challenge));
    REQUIRE(MakeChallenge(binding));
    REQUIRE(MakeChallenge(binding + ChallengeLength));
    REQUIRE(ProveBoundPassword("SECRET", challenge, "PRICES$", binding, proof));
    CHECK(CheckBoundProof("SECRET", challenge, "prices$", binding, proof));

    CHECK_FALSE(CheckBoundProof("SECRET2", challenge, "PRICES$", binding, proof));
    CHECK_FALSE(CheckBoundProof("SECRET", challenge, "PRICES", binding, proof));
    BYTE other[ProofBindingLength];
    CopyMemory(other, binding, sizeof other);
    other[ProofBindingLength - 1] ^= 1;
    CHECK_FALSE(CheckBoundProof("SECRET", challenge, "PRICES$", other, proof));
    CopyMemory(other, challenge, ChallengeLength);
    other[0] ^= 0x80;
    CHECK_FALSE(CheckBoundProof("SECRET", other, "PRICES$", binding, proof));
    for (DWORD i : {DWORD(0), ProofLength / 2, ProofLength - 1}) {
        proof[i] ^= 1;
        CHECK_FALSE(CheckBoundProof("SECRET", challenge, "PRICES$", binding, proof));
        proof[i] ^= 1;
    }
    CHECK(CheckBoundProof("SECRET", challenge, "PRICES$", binding, proof));
}

TEST_CASE("a frame's head is read and checked before its data arrives")
{
    std::vector<BYTE> bytes = laidOut(frameOf(FrameRequest, 9, "Price", CF_TEXT));
    Frame poke = frameOf(FramePoke, 9, "Big", CF_TEXT);
    std::string data(100000, 'd');
    poke.data = (const BYTE *)data.data();
    poke.dataLength = (DWORD)data.size();
    std::vector<BYTE> pokeBytes = laidOut(poke);
    REQUIRE(pokeBytes.size() == FrameHeaderSize + 3 + data.size());

    Frame head;
    DWORD headSize = 0;
    // Header and name are enough: the data is not needed to judge it.
    CHECK(ReadFrameHead(pokeBytes.data(), FrameHeaderSize + 2, &head, &headSize) == FrameIncomplete);
    REQUIRE(ReadFrameHead(pokeBytes.data(), FrameHeaderSize + 3, &head, &headSize) == FrameComplete);
    CHECK(headSize == FrameHeaderSize + 3);
    CHECK(head.kind == FramePoke);
    CHECK(std::string(head.name) == "Big");
    CHECK(head.dataLength == data.size());
    CHECK(head.data == nullptr);
    // A name with a control character is refused at the head.
    std::vector<BYTE> tabbed = bytes;
    tabbed[FrameHeaderSize + 2] = '\t';
    CHECK(ReadFrameHead(tabbed.data(), FrameHeaderSize + 5, &head, &headSize) == FrameMalformed);
}

TEST_CASE("a frame that breaks a rule is told apart from memory running out")
{
    Frame tabbed = frameOf(FrameRequest, 3, "A\tB", CF_TEXT);
    Frame noFormat = frameOf(FrameRequest, 3, "Price", 0);
    Frame sound = frameOf(FrameRequest, 3, "Price", CF_TEXT);
    CHECK_FALSE(FrameKeepsRules(&tabbed));
    CHECK_FALSE(FrameKeepsRules(&noFormat));
    CHECK(FrameKeepsRules(&sound));
}

TEST_CASE("node names are visible ASCII characters that break no name")
{
    for (const char *good : {"NODEA", "node-1", "A", "HOST.EXAMPLE", "N_2$", "123456789012345"})
        CHECK_MESSAGE(IsValidNodeName(good), good);
    for (const char *bad : {"", "1234567890123456", "TWO WORDS", "NODE\xFF", "NODE\xA0", "\xAD\x81",
                            "NODE\xAD", "node\xE9", "HOST:7391", "A\\B", "A/B", "A*", "A?", "A\"",
                            "A<", "A>", "A|", "TAB\t", "DEL\x7F"})
        CHECK_MESSAGE(!IsValidNodeName(bad), bad);
    char copied[MaxNodeNameLength + 1];
    CopyNodeName(copied, "node-a");
    CHECK(std::string(copied) == "NODE-A");
}

TEST_CASE("a buffer grows by what is needed beyond 1 MB, charged to its account")
{
    BudgetAccount account = {};
    ByteBuffer buffer = {};
    buffer.account = &account;
    std::string chunk(64 * 1024, 'c');
    REQUIRE(AppendBytes(&buffer, chunk.data(), (DWORD)chunk.size()));
    CHECK(account.charged == buffer.capacity);
    CHECK(account.charged >= chunk.size());
    // A 16 MB frame arriving bit by bit never takes twice its size.
    for (int i = 1; i < 257; i++)
        REQUIRE(AppendBytes(&buffer, chunk.data(), (DWORD)chunk.size()));
    DWORD held = buffer.length - buffer.start;
    CHECK(held == 257 * chunk.size());
    CHECK(buffer.capacity < held + 1024 * 1024);
    CHECK(account.charged == buffer.capacity);
    // Consumed keeping its room, it stays for the next large frame; trimmed
    // only once empty.
    DWORD capacity = buffer.capacity;
    ConsumeBytes(&buffer, held - 1, true);
    TrimEmptyBuffer(&buffer);
    CHECK(buffer.capacity == capacity);
    ConsumeBytes(&buffer, 1, true);
    CHECK(buffer.capacity == capacity);
    CHECK(account.charged == capacity);
    REQUIRE(AppendBytes(&buffer, chunk.data(), (DWORD)chunk.size()));
    CHECK(buffer.capacity == capacity);
    ConsumeBytes(&buffer, (DWORD)chunk.size(), true);
    TrimEmptyBuffer(&buffer);
    CHECK(buffer.capacity == 0);
    CHECK(account.charged == 0);
    // Consumed, a large buffer is freed and its charge released.
    for (int i = 0; i < 20; i++)
        REQUIRE(AppendBytes(&buffer, chunk.data(), (DWORD)chunk.size()));
    ConsumeBytes(&buffer, buffer.length - buffer.start);
    CHECK(buffer.capacity == 0);
    CHECK(account.charged == 0);
    CHECK(BudgetCharged() == 0);
    FreeBuffer(&buffer);
}

TEST_CASE("each account gets a fair share of the budget; past the ceiling nothing is charged")
{
    BudgetAccount first = {}, second = {}, third = {};
    // Alone, an account may take the whole budget.
    CHECK(IsWithinShare(&first, MemoryBudget));
    REQUIRE(ChargeBudget(&first, MemoryBudget / 2 + BudgetAllowance));
    // Two accounts past their allowance share it.
    CHECK(IsWithinShare(&second, MemoryBudget / 2));
    CHECK_FALSE(IsWithinShare(&second, MemoryBudget / 2 + BudgetAllowance + 1));
    REQUIRE(ChargeBudget(&second, MemoryBudget / 4));
    CHECK_FALSE(IsWithinShare(&first, 1));
    CHECK(IsWithinShare(&second, MemoryBudget / 8));
    // The allowance is always there, up to the ceiling.
    CHECK(IsWithinShare(&third, BudgetAllowance));
    CHECK_FALSE(ChargeBudget(&third, MemoryCeiling));
    CHECK(third.charged == 0);
    ReleaseBudget(&first, first.charged);
    ReleaseBudget(&second, second.charged);
    CHECK(BudgetCharged() == 0);
    CHECK(BudgetPeak() >= MemoryBudget / 2 + MemoryBudget / 4);
}

TEST_CASE("accounts past their allowance leave the last of the ceiling to small ones")
{
    // Peers that fill the budget to its ceiling (each within its share when
    // it began) leave room for a small session's next transaction.
    BudgetAccount large = {}, small = {};
    DWORD step = 1024 * 1024;
    for (int i = 0; i < 400 && ChargeBudget(&large, step); i++) {
    }
    CHECK_FALSE(ChargeBudget(&large, step));
    CHECK(IsWithinShare(&small, 4096));
    CHECK(ChargeBudget(&small, 4096));
    ReleaseBudget(&large, large.charged);
    ReleaseBudget(&small, small.charged);
    CHECK(BudgetCharged() == 0);
}
