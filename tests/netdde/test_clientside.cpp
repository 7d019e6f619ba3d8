// The client's side of a carried conversation against careless and hostile
// DDE clients of its own node: a client that hangs, one that dies, one that
// sends messages the wrong way or from a window that is not its own, and
// transactions that cannot travel. The agent must go on serving everyone.
#include "netddetest.h"
#include "rawclient.h"

#include <dde.h>
#include <doctest/doctest.h>

using namespace nt;

namespace {

std::string networkApplication()
{
    return std::string("\\\\") + Node + "\\NDDE$";
}

// A window whose thread takes no messages until released: a hung DDE client.
struct HungWindow {
    HWND window = NULL;
    HANDLE created = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = NULL;

    bool start()
    {
        thread = CreateThread(nullptr, 0, run, this, 0, nullptr);
        return thread && WaitForSingleObject(created, 10000) == WAIT_OBJECT_0 && window;
    }
    void stop()
    {
        SetEvent(release);
        if (thread) {
            WaitForSingleObject(thread, 10000);
            CloseHandle(thread);
        }
        thread = NULL;
    }
    ~HungWindow()
    {
        stop();
        CloseHandle(created);
        CloseHandle(release);
    }
    static DWORD WINAPI run(void *context)
    {
        HungWindow *hung = (HungWindow *)context;
        hung->window = CreateWindowA("STATIC", "hung DDE client", WS_POPUP, 0, 0, 0, 0, NULL,
                                     NULL, GetModuleHandleA(NULL), NULL);
        SetEvent(hung->created);
        WaitForSingleObject(hung->release, 60000);
        // Whatever was sent meanwhile is handled now, and the window goes.
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        DestroyWindow(hung->window);
        return 0;
    }
};

std::vector<HWND> conversationWindows(HWND agentWindow)
{
    std::vector<HWND> windows;
    for (HWND window : ui::children(agentWindow))
        if (ui::className(window) == "NDdeConversation")
            windows.push_back(window);
    return windows;
}

// Posts WM_DDE_DATA from `from` to `to`: data the receiver is to free itself.
bool postData(HWND from, HWND to, const char *item)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, sizeof(DDEDATA) + 4);
    DDEDATA *data = (DDEDATA *)GlobalLock(block);
    data->fRelease = 1;
    data->fAckReq = 0;
    data->fResponse = 0;
    data->cfFormat = CF_TEXT;
    lstrcpyA((char *)data->Value, "42");
    GlobalUnlock(block);
    return PostMessageA(to, WM_DDE_DATA, (WPARAM)from,
                        PackDDElParam(WM_DDE_DATA, (UINT_PTR)block, GlobalAddAtomA(item)));
}

bool atomGone(const char *name)
{
    return pt::waitUntil([&] { return GlobalFindAtomA(name) == 0; }, 5000);
}

} // namespace

TEST_CASE("a DDE client that takes no answer to its initiate neither freezes the agent nor gets a conversation")
{
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_HUNG$", Request)}, "/rate:0 /item:Price=5"));
    HungWindow hung;
    REQUIRE(hung.start());
    ATOM application = GlobalAddAtomA(networkApplication().c_str());
    ATOM topic = GlobalAddAtomA("NT_HUNG$");
    DWORD_PTR ignored;
    CHECK(SendMessageTimeoutA(node.agent.window(), WM_DDE_INITIATE, (WPARAM)hung.window,
                              MAKELPARAM(application, topic), SMTO_NORMAL, 15000, &ignored));
    GlobalDeleteAtom(application);
    GlobalDeleteAtom(topic);
    CHECK(agentShows(node.agent, "refused: share NT_HUNG$ at \\\\NODEA: the DDE client took no answer in time"));
    // A DDEML client asks every window, a hung one too: let it go first.
    hung.stop();
    CHECK(onShare("NT_HUNG$", "request Price").output == "5\r\n");
    CHECK(node.server.close());
}

TEST_CASE("what a DDE client sends the wrong way is freed, a stranger's ack is left alone, and an ended conversation's window waits for the terminate")
{
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_RAW$", Request | Advise)}, "/rate:0 /item:Price=5"));
    dt::RawClient client;
    REQUIRE(client.connect(node.agent.window(), networkApplication().c_str(), "NT_RAW$"));
    // Standing on both sides once the server takes a link.
    REQUIRE(client.advise("Price", false, false));

    // Data goes from servers to clients: the agent's stand-in for the server
    // takes none, but frees its item and block.
    REQUIRE(postData(client.window(), client.server(), "NT_WRONG_WAY"));
    CHECK(atomGone("NT_WRONG_WAY"));

    // An ack from a window that is no conversation's partner answers nothing:
    // its atoms are not the agent's to delete.
    HWND stranger = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 0, 0, NULL, NULL,
                                  GetModuleHandleA(NULL), NULL);
    ATOM held = GlobalAddAtomA("NT_STRANGER");
    GlobalAddAtomA("NT_STRANGER");
    std::vector<HWND> windows = conversationWindows(node.agent.window());
    CHECK(windows.size() == 2);       // the client's side and the serving side
    for (HWND window : windows) {
        DWORD_PTR ignored;
        SendMessageTimeoutA(window, WM_DDE_ACK, (WPARAM)stranger, MAKELPARAM(held, held),
                            SMTO_NORMAL, 5000, &ignored);
    }
    client.pump(300, [] { return false; });
    CHECK(GlobalFindAtomA("NT_STRANGER") == held);
    GlobalDeleteAtom(held);
    GlobalDeleteAtom(held);
    DestroyWindow(stranger);

    // The server leaves: the client's conversation ends, and the agent's
    // window stays until the client answers the terminate.
    CHECK(node.server.close());
    REQUIRE(client.waitForServerTerminate(15000));
    CHECK(client.serverWindowOutlivedTerminate());
    HWND conversationWindow = client.server();
    CHECK(client.terminate());
    CHECK(pt::waitUntil([&] { return !IsWindow(conversationWindow); }, 5000));
}

TEST_CASE("a DDE client that dies under a link ends its conversation on both sides")
{
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_DYING$", Request | Advise)}, "/rate:0 /item:Price=5"));
    dt::RawClient client;
    REQUIRE(client.connect(node.agent.window(), networkApplication().c_str(), "NT_DYING$"));
    REQUIRE(client.advise("Price", false, false));
    REQUIRE(conversationWindows(node.agent.window()).size() == 2);
    // Gone without a terminate, as when its program is ended.
    client.vanish();
    CHECK(agentShows(node.agent, "the DDE client of share NT_DYING$ at \\\\NODEA has gone"));
    CHECK(pt::waitUntil([&] { return conversationWindows(node.agent.window()).empty(); }, 10000));
    CHECK(node.server.close());
}

TEST_CASE("a transaction that cannot travel is refused alone")
{
    ServedNode node;
    REQUIRE(node.start({serverShare("NT_ODD$", Request | Advise | Poke)},
                       "/rate:20 /item:Price=5"));
    dt::RunningCommand linked;
    REQUIRE(linked.start(shareArguments("NT_ODD$", "advise Counter 30")));
    REQUIRE(pt::waitUntil([&] { return !dt::updateValues(linked.process().output()).empty(); },
                          15000));

    // Formats whose data is a handle mean nothing on another node.
    CHECK(onShare("NT_ODD$", "request Price CF_BITMAP").exitCode == 3);
    CHECK(onShare("NT_ODD$", "poke Price 1 CF_METAFILEPICT").exitCode == 3);
    // No frame carries an item with a control character.
    CHECK(onShare("NT_ODD$", "request \"Pr\tice\"").exitCode == 3);
    CHECK(agentShows(node.agent, "cannot be sent"));

    // The session and its other conversations never noticed.
    size_t before = dt::updateValues(linked.process().output()).size();
    CHECK(onShare("NT_ODD$", "request Price").output == "5\r\n");
    CHECK(pt::waitUntil([&] {
        return dt::updateValues(linked.process().output()).size() >= before + 20;
    }, 15000));
    CHECK(linked.process().isRunning());
    CHECK(node.server.close());
}
