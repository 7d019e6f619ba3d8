// ddeserver.exe's advise links as the DDE protocol has them, seen by a client
// speaking raw DDE messages: fAckReq holds the next update back until the
// last one is acknowledged, fDeferUpd sends notices without data.
#include "ddetooltest.h"

#include <dde.h>
#include <doctest/doctest.h>
#include <stdlib.h>

namespace {

const char Service[] = "RAWSRV";
const char Topic[] = "RAWTOPIC";

// A WM_DDE_DATA as the client received it.
struct Update {
    bool hasData = false;
    bool ackRequested = false;
    unsigned long value = 0;
    ATOM item = 0;
};

// One conversation with ddeserver through a hidden window of this program.
class RawClient {
public:
    ~RawClient();
    bool connect(HWND serverWindow);
    // Posts WM_DDE_ADVISE for Counter; true when the server acknowledges it.
    bool advise(bool ackRequested, bool deferUpdates);
    bool unadvise();
    void acknowledge(const Update &update);
    // The updates that arrive within `milliseconds`.
    std::vector<Update> updatesWithin(DWORD milliseconds);
    // Posts WM_DDE_TERMINATE; true when the server answers with its own.
    bool terminate();

private:
    static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void pump(DWORD milliseconds, const std::function<bool()> &done);
    bool waitForAck();

    HWND window_ = NULL, server_ = NULL;
    std::vector<Update> updates_;
    int acks_ = 0, positiveAcks_ = 0;
    bool terminated_ = false;
};

RawClient *activeClient;

LRESULT CALLBACK RawClient::procedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    RawClient *client = activeClient;
    if (!client || message < WM_DDE_FIRST || message > WM_DDE_LAST)
        return DefWindowProcA(window, message, wParam, lParam);
    if (message == WM_DDE_ACK && !client->server_) {          // the answer to the initiate
        client->server_ = (HWND)wParam;
        GlobalDeleteAtom(LOWORD(lParam));
        GlobalDeleteAtom(HIWORD(lParam));
    } else if (message == WM_DDE_ACK) {
        UINT_PTR status = 0, item = 0;
        UnpackDDElParam(WM_DDE_ACK, lParam, &status, &item);
        FreeDDElParam(WM_DDE_ACK, lParam);
        GlobalDeleteAtom((ATOM)item);
        client->acks_++;
        client->positiveAcks_ += (status & 0x8000) ? 1 : 0;
    } else if (message == WM_DDE_DATA) {
        UINT_PTR block = 0, item = 0;
        UnpackDDElParam(WM_DDE_DATA, lParam, &block, &item);
        FreeDDElParam(WM_DDE_DATA, lParam);
        Update update;
        update.item = (ATOM)item;
        if (block) {
            DDEDATA *data = (DDEDATA *)GlobalLock((HGLOBAL)block);
            update.hasData = true;
            update.ackRequested = data->fAckReq;
            update.value = strtoul((const char *)data->Value, NULL, 10);
            GlobalUnlock((HGLOBAL)block);
            GlobalFree((HGLOBAL)block);
        }
        client->updates_.push_back(update);
    } else if (message == WM_DDE_TERMINATE) {
        client->terminated_ = true;
    }
    return 0;
}

RawClient::~RawClient()
{
    if (window_)
        DestroyWindow(window_);
    activeClient = NULL;
}

void RawClient::pump(DWORD milliseconds, const std::function<bool()> &done)
{
    DWORD start = GetTickCount();
    while (!done() && GetTickCount() - start < milliseconds) {
        MSG message;
        while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
            DispatchMessageA(&message);
        if (!done())
            MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
    }
}

bool RawClient::connect(HWND serverWindow)
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = GetModuleHandleA(NULL);
    windowClass.lpszClassName = "RawDdeTestClient";
    RegisterClassA(&windowClass);
    window_ = CreateWindowA("RawDdeTestClient", "", WS_POPUP, 0, 0, 0, 0, NULL, NULL, GetModuleHandleA(NULL), NULL);
    activeClient = this;
    ATOM service = GlobalAddAtomA(Service), topic = GlobalAddAtomA(Topic);
    SendMessageA(serverWindow, WM_DDE_INITIATE, (WPARAM)window_, MAKELPARAM(service, topic));
    GlobalDeleteAtom(service);
    GlobalDeleteAtom(topic);
    return server_ != NULL;
}

bool RawClient::waitForAck()
{
    int before = positiveAcks_, answered = acks_;
    pump(5000, [&] { return acks_ > answered; });
    return positiveAcks_ > before;
}

bool RawClient::advise(bool ackRequested, bool deferUpdates)
{
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, sizeof(DDEADVISE));
    DDEADVISE *options = (DDEADVISE *)GlobalLock(block);
    options->reserved = 0;
    options->fAckReq = ackRequested;
    options->fDeferUpd = deferUpdates;
    options->cfFormat = CF_TEXT;
    GlobalUnlock(block);
    LPARAM message = PackDDElParam(WM_DDE_ADVISE, (UINT_PTR)block, GlobalAddAtomA("Counter"));
    return PostMessageA(server_, WM_DDE_ADVISE, (WPARAM)window_, message) && waitForAck();
}

bool RawClient::unadvise()
{
    LPARAM message = PackDDElParam(WM_DDE_UNADVISE, CF_TEXT, GlobalAddAtomA("Counter"));
    return PostMessageA(server_, WM_DDE_UNADVISE, (WPARAM)window_, message) && waitForAck();
}

void RawClient::acknowledge(const Update &update)
{
    PostMessageA(server_, WM_DDE_ACK, (WPARAM)window_, PackDDElParam(WM_DDE_ACK, 0x8000, update.item));
}

std::vector<Update> RawClient::updatesWithin(DWORD milliseconds)
{
    updates_.clear();
    pump(milliseconds, [] { return false; });
    return updates_;
}

bool RawClient::terminate()
{
    PostMessageA(server_, WM_DDE_TERMINATE, (WPARAM)window_, 0);
    pump(5000, [this] { return terminated_; });
    return terminated_;
}

} // namespace

TEST_CASE("advise links: acknowledged updates wait, warm links notify, unadvise stops them")
{
    dt::RunningServer server;
    REQUIRE(server.start(Service, Topic, "/rate:200"));
    RawClient client;
    REQUIRE(client.connect(server.window()));

    // One update, then nothing more until it is acknowledged.
    REQUIRE(client.advise(true, false));
    std::vector<Update> held = client.updatesWithin(600);
    REQUIRE(held.size() == 1);
    CHECK(held[0].hasData);
    CHECK(held[0].ackRequested);
    client.acknowledge(held[0]);
    std::vector<Update> next = client.updatesWithin(300);
    REQUIRE(next.size() == 1);
    // The counter went on meanwhile: the update after the ack is its latest value.
    CHECK(next[0].value > held[0].value + 1);
    client.acknowledge(next[0]);

    // A warm link: notices without data, none waiting for an ack.
    REQUIRE(client.advise(false, true));
    std::vector<Update> notices = client.updatesWithin(300);
    CHECK(notices.size() >= 5);
    for (const Update &notice : notices)
        CHECK_FALSE(notice.hasData);

    REQUIRE(client.unadvise());
    client.updatesWithin(100);          // any sent before the unadvise
    CHECK(client.updatesWithin(300).empty());
    CHECK(client.terminate());
    CHECK(server.close());
}
