// Result texts, the node name, the task behind a window and the validity
// checks, through Tessaflat.dll and the real Tessaseg.dll.
#include "partnertest.h"
#include <doctest/doctest.h>

#include <cstring>
#include <set>

using namespace pt;

static std::string errorText(UINT code)
{
    char text[256];
    REQUIRE(NDdeGetErrorString(code, text, sizeof text) == NDDE_NO_ERROR);
    return text;
}

TEST_CASE("every result code has a text of its own")
{
    std::set<std::string> texts;
    for (UINT code = NDDE_NO_ERROR; code <= NDDE_CANT_ACCESS_SERVER; code++) {
        CAPTURE(code);
        std::string text = errorText(code);
        CHECK(text.size() > 5);
        CHECK(text.back() != '.');    // shown inside a sentence that ends with one
        texts.insert(text);
    }
    CHECK(texts.size() == NDDE_CANT_ACCESS_SERVER + 1);

    SUBCASE("an unknown code gets a text with its number") {
        CHECK(errorText(25).find("25") != std::string::npos);
        CHECK(errorText(65535).find("65535") != std::string::npos);
        CHECK(texts.count(errorText(25)) == 0);
    }
    SUBCASE("a text is cut to the buffer, with its terminator") {
        std::string full = errorText(NDDE_SHARE_NOT_EXIST);
        char text[16];
        memset(text, 'X', sizeof text);
        REQUIRE(NDdeGetErrorString(NDDE_SHARE_NOT_EXIST, text, 6) == NDDE_NO_ERROR);
        CHECK(std::string(text) == full.substr(0, 5));
        CHECK(text[6] == 'X');
        CHECK(NDdeGetErrorString(NDDE_SHARE_NOT_EXIST, text, 0) == NDDE_BUF_TOO_SMALL);
        CHECK(NDdeGetErrorString(NDDE_SHARE_NOT_EXIST, nullptr, 16) == NDDE_BUF_TOO_SMALL);
    }
}

static std::string expectedNodeName()
{
    char computer[MAX_PATH];
    DWORD length = sizeof computer;
    REQUIRE(GetComputerNameA(computer, &length));
    std::string name(computer, std::min<DWORD>(length, 15));
    CharUpperBuffA(&name[0], name.size());
    return name;
}

TEST_CASE("the node name is the computer name in upper case, at most 15 characters")
{
    std::string expected = expectedNodeName();
    char name[64];
    REQUIRE(NDdeGetNodeName(name, 16) == NDDE_NO_ERROR);
    CHECK(std::string(name) == expected);

    memset(name, 'X', sizeof name);
    CHECK(NDdeGetNodeName(name, expected.size() + 1) == NDDE_NO_ERROR);
    CHECK(std::string(name) == expected);
    memset(name, 'X', sizeof name);
    CHECK(NDdeGetNodeName(name, expected.size()) == NDDE_BUF_TOO_SMALL);
    CHECK(name[0] == 'X');
    CHECK(NDdeGetNodeName(nullptr, 16) == NDDE_BUF_TOO_SMALL);
}

// This test program's own name, as the task list shows it.
static std::string ownTaskName()
{
    char path[MAX_PATH];
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    std::string name = path;
    name = name.substr(name.find_last_of("\\/") + 1);
    name = name.substr(0, name.find_last_of('.'));
    CharUpperBuffA(&name[0], name.size());
    return name;
}

TEST_CASE("a window is named by its task and node")
{
    HWND window = CreateWindowA("STATIC", "Partner test window", WS_OVERLAPPEDWINDOW, 0, 0, 100,
                                100, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    REQUIRE(window);
    char client[16], task[256];

    SUBCASE("its task's program name in upper case, and the node name") {
        REQUIRE(NDdeGetClientInfo(window, client, 16, task, 256) == NDDE_NO_ERROR);
        CHECK(std::string(task) == ownTaskName());
        CHECK(std::string(client) == expectedNodeName());
    }
    SUBCASE("the low 16 bits of its handle identify it") {
        HWND low = (HWND)(UINT_PTR)LOWORD((UINT_PTR)window);
        CHECK(IsWindow(low));
        REQUIRE(NDdeGetClientInfo(low, client, 16, task, 256) == NDDE_NO_ERROR);
        CHECK(std::string(task) == ownTaskName());
    }
    SUBCASE("both names are cut to their buffers") {
        memset(task, 'X', sizeof task);
        memset(client, 'X', sizeof client);
        REQUIRE(NDdeGetClientInfo(window, client, 3, task, 5) == NDDE_NO_ERROR);
        CHECK(std::string(task) == ownTaskName().substr(0, 4));
        CHECK(task[5] == 'X');
        CHECK(std::string(client) == expectedNodeName().substr(0, 2));
        CHECK(client[3] == 'X');
        CHECK(NDdeGetClientInfo(window, nullptr, 0, nullptr, 0) == NDDE_NO_ERROR);
    }
    SUBCASE("a handle that is no window answers code 19") {
        DestroyWindow(window);
        // Wine hands a freed handle out again once its generations wrap,
        // as on a display that made many windows: judged while none has it.
        if (!IsWindow(window))
            CHECK(NDdeGetClientInfo(window, client, 16, task, 256) == NDDE_INVALID_WINDOW);
        CHECK(NDdeGetClientInfo(nullptr, client, 16, task, 256) == NDDE_INVALID_WINDOW);
    }
    DestroyWindow(window);
}

TEST_CASE("the validity checks follow the store's rules")
{
    auto name = [](std::string text) { return NDdeIsValidShareName(&text[0]); };
    auto topic = [](std::string text) { return NDdeIsValidTopic(&text[0]); };
    auto password = [](std::string text) { return NDdeIsValidPassword(&text[0]); };

    CHECK(name("A") == 1);
    CHECK(name("DOC$") == 1);
    CHECK(name(std::string(62, 'N') + "$") == 1);
    CHECK(name(std::string(63, 'N')) == 1);
    CHECK(name("My share $") == 1);
    CHECK(name("\xC4\xD6$") == 1);
    CHECK(name("") == 0);
    CHECK(name("$") == 0);
    CHECK(name("A$B") == 0);
    CHECK(name("A$$") == 0);
    CHECK(name(std::string(64, 'N')) == 0);
    CHECK(name("A\\B") == 0);
    CHECK(name("A,B") == 0);
    CHECK(name("A=B") == 0);
    CHECK(name("A\x1F") == 0);
    CHECK(name("A\x85") == 0);
    CHECK(NDdeIsValidShareName(nullptr) == 0);

    CHECK(topic("T") == 1);
    CHECK(topic(std::string(255, 't')) == 1);
    CHECK(topic("Budget 1997.xls!R1C1") == 1);
    CHECK(topic("") == 0);
    CHECK(topic(std::string(256, 't')) == 0);
    CHECK(topic("a\nb") == 0);
    CHECK(NDdeIsValidTopic(nullptr) == 0);

    CHECK(password("") == 1);
    CHECK(password(std::string(14, 'P')) == 1);
    CHECK(password("with space") == 1);
    CHECK(password(std::string(15, 'P')) == 0);
    CHECK(password("a\tb") == 0);
    CHECK(NDdeIsValidPassword(nullptr) == 0);
}
