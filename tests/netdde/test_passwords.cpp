// Share passwords between nodes: asked for with the agent's dialog, proven
// to the serving node without ever being sent, and remembered once granted.
#include "netddetest.h"
#include "agentres.h"

#include <doctest/doctest.h>
#include <winsock.h>

using namespace nt;

namespace {

// Starts ddecmd's request and answers the agent's password dialog with
// `password` (or Cancel when null); the run once ddecmd ends.
dt::CommandRun requestWithPassword(pt::RunningAgent &agent, const std::string &arguments,
                                   const char *password, std::string *prompt = nullptr)
{
    dt::RunningCommand asking;
    REQUIRE(asking.start(arguments + " /timeout:20000"));
    HWND dialog = waitForPasswordDialog(agent);
    REQUIRE(dialog != nullptr);
    if (prompt)
        *prompt = ui::text(dialog, IDC_PASSWORD_PROMPT);
    if (password) {
        REQUIRE(ui::setText(dialog, IDC_PASSWORD, password));
        REQUIRE(ui::clickButton(dialog, IDOK));
    } else {
        REQUIRE(ui::clickButton(dialog, IDCANCEL));
    }
    return asking.finish();
}

// Passes one TCP connection from a port of its own to the agent's, keeping
// a copy of every byte, until either side closes it (at most 60 s).
struct WireTap {
    unsigned short agentPort = 0, port = 0;
    SOCKET listener = INVALID_SOCKET;
    std::string bytes;
    HANDLE thread = NULL;

    bool start(unsigned short toPort)
    {
        agentPort = toPort;
        port = pt::freePort();
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(port);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(listener, (sockaddr *)&address, sizeof address) != 0 || listen(listener, 1) != 0)
            return false;
        thread = CreateThread(nullptr, 0, pass, this, 0, nullptr);
        return thread != NULL;
    }
    bool finish()
    {
        bool ended = WaitForSingleObject(thread, 70000) == WAIT_OBJECT_0;
        CloseHandle(thread);
        closesocket(listener);
        return ended;
    }
    static DWORD WINAPI pass(void *context)
    {
        WireTap *tap = (WireTap *)context;
        SOCKET client = accept(tap->listener, nullptr, nullptr);
        SOCKET agent = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address = {};
        address.sin_family = AF_INET;
        address.sin_port = htons(tap->agentPort);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (client == INVALID_SOCKET || connect(agent, (sockaddr *)&address, sizeof address) != 0)
            return 1;
        DWORD start = GetTickCount();
        for (bool open = true; open && GetTickCount() - start < 60000;) {
            fd_set readable;
            FD_ZERO(&readable);
            FD_SET(client, &readable);
            FD_SET(agent, &readable);
            timeval wait = {1, 0};
            if (select(0, &readable, nullptr, nullptr, &wait) <= 0)
                continue;
            for (SOCKET from : {client, agent}) {
                char chunk[65536];
                int count = FD_ISSET(from, &readable) ? recv(from, chunk, sizeof chunk, 0) : -2;
                if (count == -2)
                    continue;
                open = open && count > 0 && send(from == client ? agent : client, chunk, count, 0) == count;
                if (count > 0)
                    tap->bytes.append(chunk, count);
            }
        }
        closesocket(client);
        closesocket(agent);
        return 0;
    }
};

} // namespace

TEST_CASE("a share's password is asked for once, checked byte for byte, and remembered")
{
    pt::TestShare share = serverShare("NT_LOCKED$", Request, "KEY");
    share.password2 = "OTHER";
    share.permissions2 = Advise;
    ServedNode node;
    REQUIRE(node.start({share, serverShare("NT_OPEN$", Request)}, "/rate:0 /item:Price=7"));
    pt::RunningAgent &agent = node.agent;
    std::string arguments = shareArguments("NT_LOCKED$", "request Price");

    // A share whose access needs no password is never asked about.
    CHECK(onShare("NT_OPEN$", "request Price").output == "7\r\n");

    std::string prompt;
    CHECK(requestWithPassword(agent, arguments, nullptr, &prompt).exitCode == 3);
    CHECK(prompt == "Password for share NT_LOCKED$ on \\\\NODEA:");
    CHECK(agentShows(agent, "share NT_LOCKED$ on \\\\NODEA: password not given"));
    CHECK(requestWithPassword(agent, arguments, "WRONG").exitCode == 3);
    CHECK(agentShows(agent, "share NT_LOCKED$ on \\\\NODEA: wrong password"));
    // Equal to KEY by the locale's collation, not by its bytes.
    CHECK(requestWithPassword(agent, arguments, "K\xAD" "EY").exitCode == 3);

    // Typed in lower case, upper-cased as the front ends store passwords.
    dt::CommandRun granted = requestWithPassword(agent, arguments, "key");
    CHECK(granted.exitCode == 0);
    CHECK(granted.output == "7\r\n");
    // Remembered for that share on that node: no question this time.
    CHECK(onShare("NT_LOCKED$", "request Price").output == "7\r\n");
    CHECK(node.server.close());
}

TEST_CASE("a password never crosses the network")
{
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_SECRET$", Request, "SECRETWORD")},
                       "/rate:0 /item:Price=ItemValue"));
    pt::RunningAgent &agent = node.agent;
    WSADATA winsock;
    REQUIRE(WSAStartup(MAKEWORD(1, 1), &winsock) == 0);
    WireTap tap;
    REQUIRE(tap.start(agent.port()));
    // Node NODETAP is this node again, reached through the tap.
    mapNode("NODETAP", "127.0.0.1:" + std::to_string(tap.port));

    dt::CommandRun run = requestWithPassword(
        agent, "\\\\NODETAP\\NDDE$ NT_SECRET$ request Price", "secretword");
    CHECK(run.output == "ItemValue\r\n");
    CHECK(agent.stop());
    REQUIRE(tap.finish());
    mapNode("NODETAP", "");
    WSACleanup();
    CHECK(tap.bytes.find("NT_SECRET$") != std::string::npos);   // the tap saw the session
    CHECK(tap.bytes.find("ItemValue") != std::string::npos);
    CHECK(tap.bytes.find("SECRETWORD") == std::string::npos);
    CHECK(tap.bytes.find("secretword") == std::string::npos);
    CHECK(node.server.close());
}

TEST_CASE("a password typed long after the initiate still opens the share")
{
    // The share's application is started once the password is proven, so
    // the conversation stands only some time after the password is typed.
    pt::TestShare share = serverShare("NT_SLOW$", Request | Execute | StartApp, "KEY");
    share.app = "ddeserver";
    share.password2 = "OTHER";
    ServedNode node;
    REQUIRE(node.start({share}, nullptr));
    dt::RunningCommand asking;
    REQUIRE(asking.start(shareArguments("NT_SLOW$", "execute [late] /timeout:60000")));
    HWND dialog = waitForPasswordDialog(node.agent);
    REQUIRE(dialog != nullptr);
    // Longer than a conversation has to stand from its initiate: the time
    // counts again from the password.
    Sleep(22000);
    REQUIRE(ui::setText(dialog, IDC_PASSWORD, "KEY"));
    REQUIRE(ui::clickButton(dialog, IDOK));
    CHECK(asking.finish().exitCode == 0);
    HWND server = FindWindowA(dt::ServerWindowClass, "ddeserver ddeserver|*");
    REQUIRE(server != nullptr);
    PostMessageA(server, WM_CLOSE, 0, 0);
    CHECK(ui::waitForWindowToClose(server));
}

TEST_CASE("an access that grants nothing asks for the password before any server is looked for")
{
    // Password #1 grants everything and starts the application; the empty
    // password #2 grants nothing. No server runs.
    pt::TestShare share = serverShare("NT_STARTKEY$", Request | Execute | StartApp, "KEY");
    share.app = "ddeserver";
    ServedNode node;
    REQUIRE(node.start({share}, nullptr));
    dt::CommandRun run =
        requestWithPassword(node.agent, shareArguments("NT_STARTKEY$", "execute [started]"), "KEY");
    CHECK(run.exitCode == 0);
    CHECK(agentShows(node.agent, "started ddeserver for share NT_STARTKEY$"));
    HWND server = FindWindowA(dt::ServerWindowClass, "ddeserver ddeserver|*");
    REQUIRE(server != nullptr);
    PostMessageA(server, WM_CLOSE, 0, 0);
    CHECK(ui::waitForWindowToClose(server));
}
