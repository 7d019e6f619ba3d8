// Calls made on another node (remotecall.h): what crosses is read as hostile
// on both sides, and a sound call's answer reaches the caller as the
// operation left it.
#include "doctest/doctest.h"
#include "remotecall.h"
#include <string.h>
#include <string>

namespace {

int operationRuns;
DWORD sizeSeen;
const char Names[] = "ONE$\0TWO$\0";
const DWORD NamesSize = sizeof Names - 1;

// NDdeShareEnum as the store answers it: the names when they fit.
WORD WINAPI listNames(const DWORD *args)
{
    operationRuns++;
    DWORD *entries = (DWORD *)(UINT_PTR)args[4], *total = (DWORD *)(UINT_PTR)args[5];
    sizeSeen = args[3];
    if (args[1] != 0)
        return NDDE_INVALID_LEVEL;
    if (!entries || !total)
        return NDDE_INVALID_PARAMETER;
    *entries = 2;
    *total = NamesSize;
    if (!args[2] || args[3] < NamesSize)
        return NDDE_BUF_TOO_SMALL;
    memcpy((void *)(UINT_PTR)args[2], Names, NamesSize);
    return NDDE_NO_ERROR;
}

WORD WINAPI deleteShare(const DWORD *)
{
    operationRuns++;
    return NDDE_NO_ERROR;
}

const PartnerOperation Operations[PartnerOperationCount] = {
    0, 0, 0, 0, 0, 0, 0, deleteShare, deleteShare, deleteShare, deleteShare, deleteShare,
    listNames, deleteShare, deleteShare,
};

struct EnumCall {
    DWORD args[6];
    char buffer[64];
    DWORD entries = 77, total = 77;

    EnumCall(DWORD size, bool withBuffer = true)
    {
        memset(buffer, 0xCC, sizeof buffer);
        DWORD values[6] = {0, 0, withBuffer ? (DWORD)(UINT_PTR)buffer : 0, size,
                           (DWORD)(UINT_PTR)&entries, (DWORD)(UINT_PTR)&total};
        memcpy(args, values, sizeof args);
    }
};

// Runs the call the way the serving node does; its answer as bytes.
std::string servedAnswer(const RemoteBytes &call, UINT *code)
{
    RemoteBytes answer;
    char what[96];
    *code = RunRemoteCall(Operations, call.bytes, call.length, &answer, what);
    std::string bytes((const char *)answer.bytes, answer.length);
    FreeRemoteBytes(&answer);
    return bytes;
}

UINT deliver(EnumCall &caller, const std::string &answer)
{
    return DeliverRemoteAnswer(PartnerShareEnum, caller.args, (const BYTE *)answer.data(),
                               (DWORD)answer.size());
}

std::string answerOf(WORD code, DWORD entries, DWORD total, const std::string &bytes)
{
    std::string answer((const char *)&code, 2);
    answer.append((const char *)&entries, 4);
    answer.append((const char *)&total, 4);
    return answer + bytes;
}

} // namespace

TEST_CASE("a sound call's answer reaches the caller as the operation left it")
{
    for (DWORD size : {(DWORD)0, NamesSize - 1, NamesSize, NamesSize + 20}) {
        CAPTURE(size);
        EnumCall remote(size), local(size);
        RemoteBytes call;
        UINT failure;
        REQUIRE(PackRemoteCall(PartnerShareEnum, remote.args, &call, &failure));
        UINT code;
        std::string answer = servedAnswer(call, &code);
        FreeRemoteBytes(&call);
        UINT expected = listNames(local.args);
        CHECK(code == expected);
        CHECK(deliver(remote, answer) == expected);
        CHECK(remote.entries == local.entries);
        CHECK(remote.total == local.total);
        CHECK(memcmp(remote.buffer, local.buffer, sizeof local.buffer) == 0);
    }
}

TEST_CASE("a call without a count is refused there as it is here, and no count is made up")
{
    EnumCall remote(64);
    remote.args[4] = 0;
    RemoteBytes call;
    UINT failure, code;
    REQUIRE(PackRemoteCall(PartnerShareEnum, remote.args, &call, &failure));
    std::string answer = servedAnswer(call, &code);
    FreeRemoteBytes(&call);
    CHECK(code == NDDE_INVALID_PARAMETER);
    CHECK(deliver(remote, answer) == NDDE_INVALID_PARAMETER);
    CHECK(remote.total == 77);
}

TEST_CASE("a result buffer larger than an answer carries is used up to that size")
{
    EnumCall remote(0xFFFFFFF0);
    RemoteBytes call;
    UINT failure, code;
    REQUIRE(PackRemoteCall(PartnerShareEnum, remote.args, &call, &failure));
    servedAnswer(call, &code);
    FreeRemoteBytes(&call);
    CHECK(sizeSeen == MaxRemoteBlock);
}

TEST_CASE("calls that break the layout are refused before anything runs")
{
    EnumCall remote(64);
    RemoteBytes call;
    UINT failure;
    REQUIRE(PackRemoteCall(PartnerShareEnum, remote.args, &call, &failure));
    std::string sound((const char *)call.bytes, call.length);
    FreeRemoteBytes(&call);
    std::string shortOne = sound.substr(0, sound.size() - 1);
    std::string longer = sound + "X";
    std::string unknown = sound;
    unknown[0] = PartnerGetNodeName;
    std::string badPresence = sound;
    badPresence[5] = 2;                  // the buffer's presence byte
    // A share name longer than any text a call carries.
    std::string longName = std::string(1, (char)PartnerShareDel) + "\xFF\x7F" +
                           std::string(0x7FFF, 'A') + std::string(4, '\0');
    // A share block whose length runs past the call.
    std::string longBlock = std::string(1, (char)PartnerShareAdd) + std::string(4, '\0') +
                            "\x00\x10\x00\x00" + "ABC" + std::string(4, '\0');
    for (const std::string *bad : {&shortOne, &longer, &unknown, &badPresence, &longName,
                                   &longBlock}) {
        operationRuns = 0;
        RemoteBytes answer;
        char what[96];
        CHECK(RunRemoteCall(Operations, (const BYTE *)bad->data(), (DWORD)bad->size(), &answer,
                            what) == NDDE_INVALID_PARAMETER);
        CHECK(answer.bytes == nullptr);
        CHECK(operationRuns == 0);
    }
}

TEST_CASE("wrong answers are an internal error and leave the caller's buffer and counts alone")
{
    const std::string names(Names, NamesSize);
    const std::string wrong[] = {
        answerOf(0, 2, 40, names + std::string(30, 'X')),   // more bytes than the buffer
        answerOf(0, 2, NamesSize, names.substr(0, 9) + "X"),  // a name that does not end
        answerOf(0, 3, NamesSize, names),                   // more names than it holds
        answerOf(0, 2, NamesSize + 1, names),               // fewer bytes than it says
        answerOf(NDDE_BUF_TOO_SMALL, 2, NamesSize, names),  // bytes with a failure
        answerOf(0, 2, NamesSize, names).substr(0, 7),      // counts cut short
    };
    for (const std::string &answer : wrong) {
        EnumCall caller(NamesSize + 4);
        caller.args[3] = NamesSize + 4 < 30 ? NamesSize + 4 : 30;
        CHECK(deliver(caller, answer) == NDDE_INTERNAL_ERROR);
        CHECK(caller.entries == 77);
        CHECK(caller.total == 77);
        CHECK((BYTE)caller.buffer[0] == 0xCC);
    }
}

TEST_CASE("a refusal before the call ran carries its code alone and writes no count")
{
    EnumCall caller(64);
    WORD denied = NDDE_ACCESS_DENIED;
    CHECK(deliver(caller, std::string((const char *)&denied, 2)) == NDDE_ACCESS_DENIED);
    CHECK(caller.entries == 77);
    CHECK(caller.total == 77);
}

TEST_CASE("session and connection lists and share records are checked before they are handed on")
{
    // A session entry whose client name does not end within its field.
    SessionEntry session;
    memset(&session, 'A', sizeof session);
    BYTE block[64];
    DWORD total = 77, entries = 77;
    DWORD sessionArgs[6] = {0, 1, (DWORD)(UINT_PTR)block, sizeof block, (DWORD)(UINT_PTR)&total,
                            (DWORD)(UINT_PTR)&entries};
    std::string answer = answerOf(0, sizeof session, 1, std::string((const char *)&session,
                                                                    sizeof session));
    CHECK(DeliverRemoteAnswer(PartnerSessionEnum, sessionArgs, (const BYTE *)answer.data(),
                              (DWORD)answer.size()) == NDDE_INTERNAL_ERROR);
    // A connection whose name offset points outside the bytes.
    DWORD connectionArgs[8] = {0, (DWORD)(UINT_PTR) "NODEA", 1, 1, (DWORD)(UINT_PTR)block,
                               sizeof block, (DWORD)(UINT_PTR)&total, (DWORD)(UINT_PTR)&entries};
    ConnectionBlockEntry connection = {200, 1, 1};
    answer = answerOf(0, sizeof connection + 4, 1,
                      std::string((const char *)&connection, sizeof connection) + "S1$" +
                          std::string(1, '\0'));
    CHECK(DeliverRemoteAnswer(PartnerConnectionEnum, connectionArgs, (const BYTE *)answer.data(),
                              (DWORD)answer.size()) == NDDE_INTERNAL_ERROR);
    // A share record whose offsets do not add up.
    WORD items = 0;
    DWORD shareArgs[7] = {0, (DWORD)(UINT_PTR) "S1$", 2, (DWORD)(UINT_PTR)block, sizeof block,
                          (DWORD)(UINT_PTR)&total, (DWORD)(UINT_PTR)&items};
    std::string record(60, '\x7F');
    WORD code = 0;
    DWORD length = (DWORD)record.size();
    answer = std::string((const char *)&code, 2) + std::string((const char *)&length, 4) +
             std::string((const char *)&items, 2) + record;
    CHECK(DeliverRemoteAnswer(PartnerShareGetInfo, shareArgs, (const BYTE *)answer.data(),
                              (DWORD)answer.size()) == NDDE_INTERNAL_ERROR);
    CHECK(total == 77);
    CHECK(entries == 77);
}
