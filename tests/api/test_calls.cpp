// The forwarders, the validity checks and NDdeGetWindow: which partner
// operation each reaches, in what form its arguments arrive and how its
// 16-bit answer comes back.
#include <string.h>
#include <vector>
#include <doctest/doctest.h>
#include "library_under_test.h"

namespace {

DWORD address(const void *pointer)
{
    return (DWORD)(UINT_PTR)pointer;
}

// The one call the partner saw, checked to be operation `index`.
const RecordedCall &onlyCall(const PartnerScript &script, PartnerOperationIndex index)
{
    REQUIRE(script.callCount == 1);
    REQUIRE(script.calls[0].index == index);
    return script.calls[0];
}

} // namespace

TEST_SUITE("calls") {

TEST_CASE("each validity check hands its text to its own operation and widens with the sign")
{
    struct Check {
        decltype(&NDdeIsValidTopic) function;
        PartnerOperationIndex index;
    };
    const Check checks[] = {
        {tessaflat().isValidTopic, PartnerIsValidTopic},
        {tessaflat().isValidPassword, PartnerIsValidPassword},
        {tessaflat().isValidShareName, PartnerIsValidShareName},
    };
    const struct {
        WORD answer;
        BOOL expected;
    } answers[] = {{0, 0}, {1, 1}, {0xFFFF, -1}, {0x8000, -32768}, {0x7FFF, 0x7FFF}};
    char text[] = "SOME$";

    for (const Check &check : checks) {
        CAPTURE(check.index);
        for (const auto &answer : answers) {
            CAPTURE(answer.answer);
            PartnerScript &script = resetPartner();
            script.answer.result = answer.answer;
            CHECK(check.function(text) == answer.expected);
            const RecordedCall &call = onlyCall(script, check.index);
            CHECK(call.args[0] == address(text));
            CHECK(strcmp(call.text[0], "SOME$") == 0);
        }
    }
}

TEST_CASE("a null server arrives as 0, an empty one as a pointer to a zero byte")
{
    PartnerScript &script = resetPartner();
    char shareName[] = "GONE$";
    char emptyServer[] = "";
    SUBCASE("null server")
    {
        CHECK(tessaflat().shareDel(nullptr, shareName, 0) == NDDE_NO_ERROR);
        const RecordedCall &call = onlyCall(script, PartnerShareDel);
        CHECK(call.args[0] == 0);
        CHECK(call.textIsNull[0]);
    }
    SUBCASE("empty server")
    {
        CHECK(tessaflat().shareDel(emptyServer, shareName, 0) == NDDE_NO_ERROR);
        const RecordedCall &call = onlyCall(script, PartnerShareDel);
        CHECK(call.args[0] == address(emptyServer));
        CHECK_FALSE(call.textIsNull[0]);
        CHECK(call.text[0][0] == 0);
    }
}

TEST_CASE("NDdeShareDel cuts reserved to 16 bits and widens its code with zeros")
{
    PartnerScript &script = resetPartner();
    script.answer.result = 0x8001;
    char shareName[] = "GONE$";
    CHECK(tessaflat().shareDel(nullptr, shareName, 0x00010007) == 32769u);
    const RecordedCall &call = onlyCall(script, PartnerShareDel);
    CHECK(call.args[1] == address(shareName));
    CHECK(strcmp(call.text[1], "GONE$") == 0);
    CHECK(call.args[2] == 7);
}

TEST_CASE("NDdeShareEnum lets the partner fill the caller's own buffer and counts")
{
    PartnerScript &script = resetPartner();
    const char names[] = "ONE$\0TWO$\0";
    setReply(script, names, sizeof names - 1);
    script.answer.writeCounts = true;
    script.answer.count = 2;
    script.answer.totalAvailable = 10;
    script.answer.result = NDDE_BUF_TOO_SMALL;
    BYTE buffer[32];
    memset(buffer, 0xAB, sizeof buffer);
    DWORD entries = 0, total = 0;

    CHECK(tessaflat().shareEnum(nullptr, 0x10000, buffer, sizeof buffer, &entries, &total) ==
          NDDE_BUF_TOO_SMALL);
    const RecordedCall &call = onlyCall(script, PartnerShareEnum);
    CHECK(call.textIsNull[0]);
    CHECK(call.args[1] == 0);
    CHECK(call.args[2] == address(buffer));
    CHECK(call.args[3] == sizeof buffer);
    CHECK(call.args[4] == address(&entries));
    CHECK(call.args[5] == address(&total));
    CHECK(entries == 2);
    CHECK(total == 10);
    CHECK(memcmp(buffer, names, 10) == 0);
    CHECK(buffer[10] == 0xAB);
}

TEST_CASE("NDdeGetErrorString cuts the code to 16 bits; the text lands in the caller's buffer")
{
    PartnerScript &script = resetPartner();
    const char text[] = "The share does not exist.";
    setReply(script, text, sizeof text);
    char buffer[64] = {};
    CHECK(tessaflat().getErrorString(0xABCD0010, buffer, sizeof buffer) == NDDE_NO_ERROR);
    const RecordedCall &call = onlyCall(script, PartnerGetErrorString);
    CHECK(call.args[0] == 0x0010);
    CHECK(call.args[1] == address(buffer));
    CHECK(call.args[2] == sizeof buffer);
    CHECK(strcmp(buffer, text) == 0);
}

TEST_CASE("NDdeGetNodeName hands its buffer size over whole")
{
    PartnerScript &script = resetPartner();
    setReply(script, "NODE1", 6);
    std::vector<char> buffer(0x10020, 0);
    CHECK(tessaflat().getNodeName(buffer.data(), buffer.size()) == NDDE_NO_ERROR);
    const RecordedCall &call = onlyCall(script, PartnerGetNodeName);
    CHECK(call.args[0] == address(buffer.data()));
    CHECK(call.args[1] == 0x10020);
    CHECK(strcmp(buffer.data(), "NODE1") == 0);
}

TEST_CASE("NDdeGetClientInfo hands over the window's low 16 bits and both buffers")
{
    PartnerScript &script = resetPartner();
    setReply(script, "TASK", 5);
    char client[16] = {}, task[256] = {};
    CHECK(tessaflat().getClientInfo((HWND)0x1234BEEF, client, sizeof client, task, sizeof task) ==
          NDDE_NO_ERROR);
    const RecordedCall &call = onlyCall(script, PartnerGetClientInfo);
    CHECK(call.args[0] == 0x0000BEEF);
    CHECK(call.args[1] == address(client));
    CHECK(call.args[2] == sizeof client);
    CHECK(call.args[3] == address(task));
    CHECK(call.args[4] == sizeof task);
    CHECK(strcmp(task, "TASK") == 0);
}

TEST_CASE("NDdeSessionClose hands the session identifier over whole")
{
    PartnerScript &script = resetPartner();
    script.answer.result = 0xFFFF;
    char client[] = "CLIENT";
    CHECK(tessaflat().sessionClose(nullptr, client, (LONG)0xFEDCBA98) == 65535u);
    const RecordedCall &call = onlyCall(script, PartnerSessionClose);
    CHECK(call.textIsNull[0]);
    CHECK(strcmp(call.text[1], "CLIENT") == 0);
    CHECK(call.args[2] == 0xFEDCBA98);
}

TEST_CASE("NDdeGetWindow widens the partner's handle with zeros")
{
    PartnerScript &script = resetPartner();
    SUBCASE("a handle with its highest bit clear")
    {
        script.answer.result = 0x0BEE;
    }
    SUBCASE("a handle with its highest bit set")
    {
        script.answer.result = 0xBEEF;
    }
    DWORD expected = script.answer.result;
    CHECK((DWORD)(UINT_PTR)tessaflat().getWindow() == expected);
    onlyCall(script, PartnerGetWindow);
}

}
